// The attempts of one partner callback within one trigger invocation, in the
// order they were first recorded. Archivable and copyable; its callback block
// (with the attempt blocks) goes into the callback report.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analytics/relay/OrreryRelayCallbackAttemptInfo.h"
#include "platform/foundation/NSCoder.h"
#include "platform/foundation/NSData.h"
#include "platform/runtime/NSDate.h"
#include "platform/runtime/NSObject.h"

class OrreryRelayCallbackReportInfo : public NSObject, public NSCoding {
public:
    using Attempts = std::vector<Ref<OrreryRelayCallbackAttemptInfo>>;

    Ref<OrreryRelayCallbackReportInfo> init() { return self<OrreryRelayCallbackReportInfo>(); }
    // Every field copied; the copy has a list of its own holding the same attempts.
    Ref<OrreryRelayCallbackReportInfo> copy() const;

    void encodeWithCoder(NSCoder& coder) const override;
    void initWithCoder(const NSCoder& coder) override;

    // The callback block: id, URL, then the attempts not being fired right
    // now (each marked as written into a report being built). Nothing when
    // no attempt is left to report.
    std::optional<NSData> data();
    // The same block appended to `out`; false (nothing appended) when it has none.
    bool appendData(OrreryProtocolData::Buffer& out);
    // Whether any attempt is the final one (NO without attempts).
    bool finalAttemptMade() const;
    // Attempts written into a report being built become handed over (1 → 2).
    void setAttemptsSent();
    // Drops the handed-over attempts; returns how many attempts remain. The
    // report manager calls this while holding its own lock.
    size_t removeSentAttempts();

    std::optional<std::string> invokeId() const;
    void setInvokeId(std::optional<std::string> v);
    int64_t callbackId() const;
    void setCallbackId(int64_t v);
    std::optional<std::string> substitutedUrl() const;
    void setSubstitutedUrl(std::optional<std::string> v);
    // A snapshot of the list.
    Attempts attempts() const;
    void setAttempts(Attempts attempts);
    void addAttempt(Ref<OrreryRelayCallbackAttemptInfo> attempt);
    size_t attemptCount() const;
    // When the last outcome of this callback was recorded (none before the
    // first): a record left without outcomes past the attempts' expiry is dropped.
    std::optional<NSDate> lastOutcomeTime() const;
    void setLastOutcomeTime(std::optional<NSDate> v);

private:
    std::optional<std::string> invokeId_;
    int64_t callbackId_ = 0;
    std::optional<std::string> substitutedUrl_;
    Attempts attempts_;
    std::optional<NSDate> lastOutcomeTime_;
};
