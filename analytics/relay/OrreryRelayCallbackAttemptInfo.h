// One attempt to call one partner callback for one trigger invocation: what
// was sent, how and when, how it ended, and how far it got in reporting.
// Archivable and copyable; its attempt block goes into the callback report.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "analytics/OrreryProtocolData.h"
#include "platform/foundation/NSCoder.h"
#include "platform/foundation/NSData.h"
#include "platform/runtime/NSDate.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

// Outcome of an attempt.
enum OrreryRelayRequestState : int32_t {
    OrreryRelayRequestStateNotEnded = 0,
    OrreryRelayRequestStateSucceeded = 1,
    OrreryRelayRequestStateCancelled = 2,
    OrreryRelayRequestStateFailed = 4,
};

// How far an attempt got in reporting.
enum OrreryRelayLogSendState : int32_t {
    OrreryRelayLogSendStateNotReported = 0,  // not yet in a report
    OrreryRelayLogSendStateInReport = 1,     // written into a report being built
    OrreryRelayLogSendStateSent = 2,         // handed to the report sender
};

class OrreryRelayCallbackAttemptInfo : public NSObject, public NSCoding {
public:
    Ref<OrreryRelayCallbackAttemptInfo> init() { return self<OrreryRelayCallbackAttemptInfo>(); }
    Ref<OrreryRelayCallbackAttemptInfo> copy() const;

    void encodeWithCoder(NSCoder& coder) const override;
    void initWithCoder(const NSCoder& coder) override;

    // The attempt block of the callback report; marks the attempt as written
    // into a report being built (logSendState 1).
    NSData data();
    // The same block appended to `out`.
    void appendData(OrreryProtocolData::Buffer& out);

    const std::optional<std::string>& invokeId() const { return invokeId_; }
    void setInvokeId(std::optional<std::string> v) { invokeId_ = std::move(v); }
    int64_t callbackId() const { return callbackId_; }
    void setCallbackId(int64_t v) { callbackId_ = v; }
    int64_t attemptNumber() const { return attemptNumber_; }
    void setAttemptNumber(int64_t v) { attemptNumber_ = v; }
    int64_t cbSessionId() const { return cbSessionId_; }
    void setCbSessionId(int64_t v) { cbSessionId_ = v; }
    int64_t cbSessionOffset() const { return cbSessionOffset_; }
    void setCbSessionOffset(int64_t v) { cbSessionOffset_ = v; }
    bool finalAttempt() const { return finalAttempt_; }
    void setFinalAttempt(bool v) { finalAttempt_ = v; }
    int32_t httpStatus() const { return httpStatus_; }
    void setHttpStatus(int32_t v) { httpStatus_ = v; }
    int32_t requestState() const { return requestState_; }
    void setRequestState(int32_t v) { requestState_ = v; }
    const std::optional<NSData>& responseBody() const { return responseBody_; }
    void setResponseBody(std::optional<NSData> v) { responseBody_ = std::move(v); }
    int64_t redirectsCount() const { return redirectsCount_; }
    void setRedirectsCount(int64_t v) { redirectsCount_ = v; }
    // Seconds from creationTime to the outcome, with fraction.
    double duration() const { return duration_; }
    void setDuration(double v) { duration_ = v; }
    int32_t logSendState() const { return logSendState_; }
    void setLogSendState(int32_t v) { logSendState_ = v; }
    const std::optional<std::string>& substitutedUrl() const { return substitutedUrl_; }
    void setSubstitutedUrl(std::optional<std::string> v) { substitutedUrl_ = std::move(v); }
    const std::optional<std::string>& body() const { return body_; }
    void setBody(std::optional<std::string> v) { body_ = std::move(v); }
    // Request header fields: a dictionary of strings, or Null.
    const Value& headers() const { return headers_; }
    void setHeaders(Value v) { headers_ = std::move(v); }
    int64_t eventOccuranceId() const { return eventOccuranceId_; }
    void setEventOccuranceId(int64_t v) { eventOccuranceId_ = v; }
    // The macro values the attempt was built from: a dictionary, or Null.
    const Value& params() const { return params_; }
    void setParams(Value v) { params_ = std::move(v); }
    const std::optional<NSDate>& creationTime() const { return creationTime_; }
    void setCreationTime(std::optional<NSDate> v) { creationTime_ = v; }
    // YES while the attempt's request is in flight; never restored from an
    // archive, so after a relaunch no attempt counts as being fired.
    bool beingFired() const { return beingFired_; }
    void setBeingFired(bool v) { beingFired_ = v; }
    // Seconds before the next retry.
    int32_t repeatDuration() const { return repeatDuration_; }
    void setRepeatDuration(int32_t v) { repeatDuration_ = v; }
    // HTTP method index: 0 "GET", 1 "PUT", 2 "POST".
    int32_t method() const { return method_; }
    void setMethod(int32_t v) { method_ = v; }
    const std::optional<NSDate>& expiration() const { return expiration_; }
    void setExpiration(std::optional<NSDate> v) { expiration_ = v; }

private:
    std::optional<std::string> invokeId_;
    int64_t callbackId_ = 0;
    int64_t attemptNumber_ = 0;
    int64_t cbSessionId_ = 0;
    int64_t cbSessionOffset_ = 0;
    bool finalAttempt_ = false;
    int32_t httpStatus_ = 0;
    int32_t requestState_ = OrreryRelayRequestStateNotEnded;
    std::optional<NSData> responseBody_;
    int64_t redirectsCount_ = 0;
    double duration_ = 0;
    int32_t logSendState_ = OrreryRelayLogSendStateNotReported;
    std::optional<std::string> substitutedUrl_;
    std::optional<std::string> body_;
    Value headers_;
    int64_t eventOccuranceId_ = 0;
    Value params_;
    std::optional<NSDate> creationTime_;
    bool beingFired_ = false;
    int32_t repeatDuration_ = 0;
    int32_t method_ = 0;
    std::optional<NSDate> expiration_;
};
