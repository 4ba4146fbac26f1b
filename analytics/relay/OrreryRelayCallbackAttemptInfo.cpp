#include "analytics/relay/OrreryRelayCallbackAttemptInfo.h"

#include "analytics/OrreryProtocolData.h"
#include "analytics/relay/OrreryRelayCoding.h"
#include "platform/runtime/SaturatingCast.h"

using namespace OrreryRelayCoding;

Ref<OrreryRelayCallbackAttemptInfo> OrreryRelayCallbackAttemptInfo::copy() const {
    auto c = OrreryRelayCallbackAttemptInfo::alloc<OrreryRelayCallbackAttemptInfo>()->init();
    c->invokeId_ = invokeId_;
    c->callbackId_ = callbackId_;
    c->attemptNumber_ = attemptNumber_;
    c->cbSessionId_ = cbSessionId_;
    c->cbSessionOffset_ = cbSessionOffset_;
    c->finalAttempt_ = finalAttempt_;
    c->httpStatus_ = httpStatus_;
    c->requestState_ = requestState_;
    c->responseBody_ = responseBody_;
    c->redirectsCount_ = redirectsCount_;
    c->duration_ = duration_;
    c->logSendState_ = logSendState_;
    c->substitutedUrl_ = substitutedUrl_;
    c->body_ = body_;
    c->headers_ = headers_;
    c->eventOccuranceId_ = eventOccuranceId_;
    c->params_ = params_;
    c->creationTime_ = creationTime_;
    c->beingFired_ = beingFired_;
    c->repeatDuration_ = repeatDuration_;
    c->method_ = method_;
    c->expiration_ = expiration_;
    return c;
}

void OrreryRelayCallbackAttemptInfo::encodeWithCoder(NSCoder& coder) const {
    coder.encodeObject(Value(invokeId_), "invokeId");
    coder.encodeObject(Value(callbackId_), "callbackId");
    coder.encodeObject(Value(attemptNumber_), "attemptNumber");
    coder.encodeObject(Value(cbSessionId_), "cbSessionId");
    coder.encodeObject(Value(cbSessionOffset_), "cbSessionOffset");
    coder.encodeBool(finalAttempt_, "finalAttempt");
    coder.encodeInt32(httpStatus_, "httpStatus");
    coder.encodeInteger(requestState_, "requestState");
    coder.encodeObject(valueOf(responseBody_), "responseBody");
    coder.encodeObject(Value(redirectsCount_), "redirectsCount");
    coder.encodeObject(Value(duration_), "duration");
    coder.encodeInteger(logSendState_, "logSendState");
    coder.encodeObject(Value(substitutedUrl_), "substitutedUrl");
    coder.encodeObject(Value(body_), "body");
    coder.encodeObject(headers_, "headers");
    coder.encodeObject(Value(eventOccuranceId_), "eventOccuranceId");
    coder.encodeObject(params_, "params");
    coder.encodeObject(valueOf(creationTime_), "creationTime");
    coder.encodeBool(beingFired_, "beingFired");
    coder.encodeInt32(repeatDuration_, "repeatDuration");
    coder.encodeInteger(method_, "method");
    coder.encodeObject(valueOf(expiration_), "expiration");
}

void OrreryRelayCallbackAttemptInfo::initWithCoder(const NSCoder& coder) {
    invokeId_ = optionalString(coder.decodeObjectForKey("invokeId"));
    callbackId_ = coder.decodeObjectForKey("callbackId").integerValue();
    attemptNumber_ = coder.decodeObjectForKey("attemptNumber").integerValue();
    cbSessionId_ = coder.decodeObjectForKey("cbSessionId").integerValue();
    cbSessionOffset_ = coder.decodeObjectForKey("cbSessionOffset").integerValue();
    finalAttempt_ = coder.decodeBoolForKey("finalAttempt");
    httpStatus_ = coder.decodeInt32ForKey("httpStatus");
    requestState_ = int32Of(coder.decodeIntegerForKey("requestState"));
    responseBody_ = optionalData(coder.decodeObjectForKey("responseBody"));
    redirectsCount_ = coder.decodeObjectForKey("redirectsCount").integerValue();
    duration_ = coder.decodeObjectForKey("duration").doubleValue();
    logSendState_ = int32Of(coder.decodeIntegerForKey("logSendState"));
    substitutedUrl_ = optionalString(coder.decodeObjectForKey("substitutedUrl"));
    body_ = optionalString(coder.decodeObjectForKey("body"));
    headers_ = dictionaryOrNull(coder.decodeObjectForKey("headers"));
    eventOccuranceId_ = coder.decodeObjectForKey("eventOccuranceId").integerValue();
    params_ = dictionaryOrNull(coder.decodeObjectForKey("params"));
    creationTime_ = optionalDate(coder.decodeObjectForKey("creationTime"));
    // Not read back: a restored attempt is not in flight.
    beingFired_ = false;
    repeatDuration_ = coder.decodeInt32ForKey("repeatDuration");
    method_ = int32Of(coder.decodeIntegerForKey("method"));
    expiration_ = optionalDate(coder.decodeObjectForKey("expiration"));
}

NSData OrreryRelayCallbackAttemptInfo::data() {
    OrreryProtocolData::Buffer bytes;
    appendData(bytes);
    return NSData(std::move(bytes));
}

void OrreryRelayCallbackAttemptInfo::appendData(OrreryProtocolData::Buffer& bytes) {
    OrreryProtocolData::FixedFields(bytes, 23)
        .ushort(static_cast<uint64_t>(attemptNumber_))
        .long64(cbSessionId_)
        .long64(cbSessionOffset_)
        .boolean(finalAttempt_)
        .ushort(static_cast<uint64_t>(static_cast<int64_t>(httpStatus_)))
        .ushort(static_cast<uint64_t>(static_cast<int64_t>(requestState_)));
    // The body travels only with answers outside 200–399; a reader knows
    // from the status whether the field is there.
    if (httpStatus_ < 200 || httpStatus_ >= 400) OrreryProtocolData::appendShortData(responseBody_, bytes);
    OrreryProtocolData::FixedFields(bytes, 6)
        .ushort(static_cast<uint64_t>(redirectsCount_))
        .int32(platform::saturatingCast<int32_t>(duration_));
    logSendState_ = OrreryRelayLogSendStateInReport;
}
