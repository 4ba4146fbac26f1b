#include "halcyon/core/HLPostbackRequest.h"

#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLValueUtils.h"
#include <typeinfo>

#include "platform/foundation/NSString.h"
#include "platform/runtime/Log.h"

Ref<HLPostbackRequest> HLPostbackRequest::postbackRequestWithURL(const Ref<NSURL>& url, const Value& requestBody) {
    Ref<NSURL> stamped;
    if (url) {
        const double now = HLUtils::hl_unixTimestampInMilliseconds(NSDate::date());
        stamped = NSURL::URLWithString(url->absoluteString() + "&postback_ts=" + Value(now).stringValue());
    }
    return NSObject::alloc<HLPostbackRequest>()->initWithURL(std::move(stamped), requestBody, 0);
}

Ref<HLPostbackRequest> HLPostbackRequest::initWithURL(Ref<NSURL> targetURL, Value requestBody, int32_t attemptNumber) {
    targetURL_ = std::move(targetURL);
    requestBody_ = requestBody.isDictionary() ? std::move(requestBody) : Value();
    attemptNumber_.store(attemptNumber);
    return self<HLPostbackRequest>();
}

bool HLPostbackRequest::isEqualToRequest(const HLPostbackRequest& other) const {
    const bool sameURL = targetURL_ == other.targetURL_ ||
                         (targetURL_ && other.targetURL_ && targetURL_->isEqual(*other.targetURL_));
    return sameURL && requestBody_.isEqual(other.requestBody_) && attemptNumber() == other.attemptNumber();
}

bool HLPostbackRequest::isEqual(const NSObject& other) const {
    if (this == &other) return true;
    const auto* request = dynamic_cast<const HLPostbackRequest*>(&other);
    return request && typeid(*request) == typeid(*this) && isEqualToRequest(*request);
}

size_t HLPostbackRequest::hash() const {
    uint32_t result = targetURL_ ? static_cast<uint32_t>(targetURL_->hash()) : 0;
    result = result * 31 + (requestBody_.isNull() ? 0 : static_cast<uint32_t>(requestBody_.hash()));
    return result * 31 + static_cast<uint32_t>(attemptNumber());
}

std::string HLPostbackRequest::description() const {
    return NSString::stringWithFormat("<HLPostbackRequest: targetURL = %@, requestBody = %@, attemptNumber = %ld>",
                                      targetURL_ ? platform::urlForLog(targetURL_->absoluteString()) : "(null)",
                                      hlValueForLog(requestBody_), static_cast<long>(attemptNumber()));
}

void HLPostbackRequest::encodeWithCoder(NSCoder& coder) const {
    coder.encodeObject(targetURL_ ? Value(targetURL_) : Value(), "targetURL");
    coder.encodeObject(requestBody_, "requestBody");
    coder.encodeObject(Value(attemptNumber()), "attemptNumber");
}

void HLPostbackRequest::initWithCoder(const NSCoder& coder) {
    targetURL_ = coder.decodeObjectForKey("targetURL").object<NSURL>();
    Value body = coder.decodeObjectForKey("requestBody");
    requestBody_ = body.isDictionary() ? std::move(body) : Value();
    attemptNumber_.store(coder.decodeInt32ForKey("attemptNumber"));
}
