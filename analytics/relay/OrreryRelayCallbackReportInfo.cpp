#include "analytics/relay/OrreryRelayCallbackReportInfo.h"

#include <algorithm>

#include "analytics/OrreryProtocolData.h"
#include "analytics/relay/OrreryRelayCoding.h"

using namespace OrreryRelayCoding;

Ref<OrreryRelayCallbackReportInfo> OrreryRelayCallbackReportInfo::copy() const {
    PLATFORM_SYNCHRONIZED(*this);
    auto c = OrreryRelayCallbackReportInfo::alloc<OrreryRelayCallbackReportInfo>()->init();
    c->invokeId_ = invokeId_;
    c->callbackId_ = callbackId_;
    c->substitutedUrl_ = substitutedUrl_;
    c->attempts_ = attempts_;
    c->lastOutcomeTime_ = lastOutcomeTime_;
    return c;
}

void OrreryRelayCallbackReportInfo::encodeWithCoder(NSCoder& coder) const {
    PLATFORM_SYNCHRONIZED(*this);
    coder.encodeObject(Value(invokeId_), "invokeId");
    coder.encodeObject(Value(callbackId_), "callbackId");
    coder.encodeObject(Value(substitutedUrl_), "substitutedUrl");
    Value::Array attempts;
    for (const auto& attempt : attempts_)
        if (attempt) attempts.emplace_back(attempt);
    coder.encodeObject(Value(std::move(attempts)), "attempts");
    if (lastOutcomeTime_) coder.encodeObject(Value(*lastOutcomeTime_), "lastOutcomeTime");
}

void OrreryRelayCallbackReportInfo::initWithCoder(const NSCoder& coder) {
    PLATFORM_SYNCHRONIZED(*this);
    invokeId_ = optionalString(coder.decodeObjectForKey("invokeId"));
    callbackId_ = coder.decodeObjectForKey("callbackId").integerValue();
    substitutedUrl_ = optionalString(coder.decodeObjectForKey("substitutedUrl"));
    attempts_.clear();
    lastOutcomeTime_.reset();
    if (const NSDate* date = coder.decodeObjectForKey("lastOutcomeTime").date()) lastOutcomeTime_ = *date;
    // Elements of another class (a damaged archive) are left out.
    Value archived = coder.decodeObjectForKey("attempts");
    if (const Value::Array* attempts = archived.array())
        for (const Value& element : *attempts)
            if (auto attempt = element.object<OrreryRelayCallbackAttemptInfo>()) attempts_.push_back(attempt);
}

std::optional<NSData> OrreryRelayCallbackReportInfo::data() {
    OrreryProtocolData::Buffer bytes;
    if (!appendData(bytes)) return std::nullopt;
    return NSData(std::move(bytes));
}

bool OrreryRelayCallbackReportInfo::appendData(OrreryProtocolData::Buffer& bytes) {
    PLATFORM_SYNCHRONIZED(*this);
    // Counted before any attempt is marked as reported.
    size_t count = 0;
    for (const auto& attempt : attempts_) {
        if (!attempt) return false;
        count += attempt->beingFired() ? 0 : 1;  // reported once it has ended
    }
    if (count == 0) return false;
    OrreryProtocolData::appendLong(callbackId_, bytes);
    OrreryProtocolData::appendStringUnlimited(substitutedUrl_, bytes);
    OrreryProtocolData::appendUshort(count, bytes);
    for (const auto& attempt : attempts_)
        if (!attempt->beingFired()) attempt->appendData(bytes);
    return true;
}

bool OrreryRelayCallbackReportInfo::finalAttemptMade() const {
    PLATFORM_SYNCHRONIZED(*this);
    return std::any_of(attempts_.begin(), attempts_.end(), [](const auto& a) { return a && a->finalAttempt(); });
}

void OrreryRelayCallbackReportInfo::setAttemptsSent() {
    PLATFORM_SYNCHRONIZED(*this);
    for (const auto& attempt : attempts_)
        if (attempt && attempt->logSendState() == OrreryRelayLogSendStateInReport)
            attempt->setLogSendState(OrreryRelayLogSendStateSent);
}

size_t OrreryRelayCallbackReportInfo::removeSentAttempts() {
    PLATFORM_SYNCHRONIZED(*this);
    std::erase_if(attempts_, [](const auto& a) { return a && a->logSendState() == OrreryRelayLogSendStateSent; });
    return attempts_.size();
}

std::optional<std::string> OrreryRelayCallbackReportInfo::invokeId() const {
    PLATFORM_SYNCHRONIZED(*this);
    return invokeId_;
}
void OrreryRelayCallbackReportInfo::setInvokeId(std::optional<std::string> v) {
    PLATFORM_SYNCHRONIZED(*this);
    invokeId_ = std::move(v);
}
int64_t OrreryRelayCallbackReportInfo::callbackId() const {
    PLATFORM_SYNCHRONIZED(*this);
    return callbackId_;
}
void OrreryRelayCallbackReportInfo::setCallbackId(int64_t v) {
    PLATFORM_SYNCHRONIZED(*this);
    callbackId_ = v;
}
std::optional<std::string> OrreryRelayCallbackReportInfo::substitutedUrl() const {
    PLATFORM_SYNCHRONIZED(*this);
    return substitutedUrl_;
}
void OrreryRelayCallbackReportInfo::setSubstitutedUrl(std::optional<std::string> v) {
    PLATFORM_SYNCHRONIZED(*this);
    substitutedUrl_ = std::move(v);
}
OrreryRelayCallbackReportInfo::Attempts OrreryRelayCallbackReportInfo::attempts() const {
    PLATFORM_SYNCHRONIZED(*this);
    return attempts_;
}
void OrreryRelayCallbackReportInfo::setAttempts(Attempts attempts) {
    PLATFORM_SYNCHRONIZED(*this);
    attempts_ = std::move(attempts);
}
void OrreryRelayCallbackReportInfo::addAttempt(Ref<OrreryRelayCallbackAttemptInfo> attempt) {
    PLATFORM_SYNCHRONIZED(*this);
    attempts_.push_back(std::move(attempt));
}
size_t OrreryRelayCallbackReportInfo::attemptCount() const {
    PLATFORM_SYNCHRONIZED(*this);
    return attempts_.size();
}

std::optional<NSDate> OrreryRelayCallbackReportInfo::lastOutcomeTime() const {
    PLATFORM_SYNCHRONIZED(*this);
    return lastOutcomeTime_;
}

void OrreryRelayCallbackReportInfo::setLastOutcomeTime(std::optional<NSDate> v) {
    PLATFORM_SYNCHRONIZED(*this);
    lastOutcomeTime_ = v;
}
