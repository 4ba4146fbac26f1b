// Asks the ad server ("2.0/ad") for one ad of a size and type, on task queue
// 0: the query gathers device and application facts, counters, targeting
// values and the timings of the last request and render; the answer's
// "settings" are applied and a render task queued at high priority with the
// same delegate, which it answers. A failure (the HTTP status, 204 for no ad,
// or a negative client code, after the retries of slot 18) answers the
// delegate at once, on the task's queue. Either way the delegate hears
// exactly one outcome, also when the task is dropped unrun (-1).
// The native ad request subclasses it and replaces the virtual steps.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "halcyon/core/HLAdLoadDelegate.h"
#include "halcyon/core/HLAdSize.h"
#include "halcyon/core/HLAdType.h"
#include "halcyon/core/HLConnectionManager.h"
#include "halcyon/core/HLTask.h"
#include "platform/foundation/Value.h"

// The build tag this client carries: the unfilled placeholder, so requests
// leave "build_tag" out.
inline constexpr const char* kHLSdkBuildTag = "{BUILD_NUMBER}";

class HLTaskFetchNextAd : public HLTask, public HLTimedTask, public HLConnectionManagerDelegate {
public:
    // Not preloading; the creator sets size, type, delegate and, for a
    // preload, isPreloading before handing it to the task manager.
    Ref<HLTaskFetchNextAd> initWithSdk(const Ref<HLSdk>& sdk);

    void run() override;

    const Ref<HLAdSize>& requiredAdSize() const { return requiredAdSize_; }
    void setRequiredAdSize(Ref<HLAdSize> size) { requiredAdSize_ = std::move(size); }
    // Null: the request names no type.
    const Ref<HLAdType>& requiredAdType() const { return requiredAdType_; }
    void setRequiredAdType(Ref<HLAdType> type) { requiredAdType_ = std::move(type); }
    // Held until the outcome is handed on.
    const Ref<HLAdLoadDelegate>& delegate() const { return delegate_; }
    void setDelegate(Ref<HLAdLoadDelegate> delegate) { delegate_ = std::move(delegate); }
    bool isPreloading() const { return isPreloading_; }
    void setIsPreloading(bool preloading) { isPreloading_ = preloading; }

    bool isTimed() const override { return true; }
    bool isVideoTask() const override { return false; }

    void connectionViaDidSucceedWith(const Ref<HLConnectionManager>& manager, int64_t code,
                                     const Value& responseBody) override;
    void connectionViaDidFailWith(const Ref<HLConnectionManager>& manager, int64_t code) override;

    // The parameters, in query order.
    void populateAll(Value& parameters);
    // The request URL for these parameters.
    std::string createAdEndpointWithAdParameters(const Value& parameters);

protected:
    // The steps a subclass replaces.
    virtual std::string createAdEndpointBase();
    virtual void populateTypeSpecificParameters(Value& parameters);
    virtual void populateTimingData(Value& parameters);
    // Null: nothing to render, the delegate gets -1.
    virtual Ref<HLTask> createRenderTaskWithResponse(const Value& response);
    virtual void notifyLoadDelegateOfFailureWithResponseCode(int64_t code);

    void populateDeviceDataOf(Value& parameters);
    void populateScreenInfo(Value& parameters);
    void populatePublicDataOf(Value& parameters);
    void populateAdServiceInfo(Value& parameters);
    void populateTargetDataOf(Value& parameters);
    void updateSessionStats();
    // Slot 17 in seconds.
    double defaultTimeout();

    // The delegate's one answer is still to come (and is now owed by the
    // caller): true once.
    bool claimAnswer() { return !answered_.exchange(true); }
    void taskDropped() override;

private:
    void fail(int64_t code);

    Ref<HLAdSize> requiredAdSize_;
    Ref<HLAdType> requiredAdType_;
    Ref<HLAdLoadDelegate> delegate_;
    bool isPreloading_ = false;
    std::atomic<bool> answered_{false};
};
