// Asks the API ("vr", always over https) whether the user may be rewarded
// for a rewarded ad that has just started showing; runs on queue 1, retried
// per slot 7. The first element of the answer's "results" gives the verdict:
// its "settings" are applied, its "result" and "params" (an object; anything
// else counts as empty) are stored together in the pending store, replacing
// what was there, and the delegate hears the verdict on the main queue. HTTP
// 400–499 is a rejection; any other failure is "network_timeout" with its
// code (-1 for a success status whose body is no JSON object); a failure
// stores no parameters. A missing or non-string "result"
// gives -400 and stores the parameters without a result.
//
// Once the show is settled (setShouldCancelNotification under the pending
// store's lock), the task stores nothing and calls nobody: the test of the
// flag and the store happen under that lock, and the main-queue delivery
// tests the flag again, so a verdict never follows the settlement.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "halcyon/core/HLConnectionManager.h"
#include "halcyon/core/HLTask.h"
#include "halcyon/display/HLAdRewardDelegate.h"
#include "platform/foundation/Value.h"

class HLAd;

class HLTaskValidateReward : public HLTask, public HLConnectionManagerDelegate {
public:
    // The delegate is held strongly and called without asking (it is the
    // rewarded interstitial's proxy, which implements every method).
    Ref<HLTaskValidateReward> initWithSdk(const Ref<HLSdk>& sdk, const Ref<HLAd>& videoAd,
                                          const Ref<HLAdRewardDelegate>& rewardDelegate);

    void run() override;
    // The result (the answer's value, of any kind) and the parameters.
    void handleValidationResult(const Value& result, const Value& parameters);

    void connectionViaDidSucceedWith(const Ref<HLConnectionManager>& manager, int64_t code,
                                     const Value& responseBody) override;
    void connectionViaDidFailWith(const Ref<HLConnectionManager>& manager, int64_t code) override;

    const Ref<HLAd>& sourceAd() const { return sourceAd_; }
    const Ref<HLAdRewardDelegate>& rewardDelegate() const { return rewardDelegate_; }
    bool shouldCancelNotification() const { return shouldCancelNotification_.load(); }
    // Set it while holding the pending store's managerLock.
    void setShouldCancelNotification(bool cancel) { shouldCancelNotification_ = cancel; }

    // The body both reward requests start from: "clcode" (the ad's, or
    // "NO_CLCODE") and "user_id" (only when the application set one).
    static Value rewardRequestBodyForAd(const Ref<HLAd>& ad);
    // Sends `body` to the API path through a retrying request run within
    // `task`, attempts from `attemptsSlot`, `task` hearing the outcome.
    static void sendApiRequestWith(const Ref<HLTask>& task, const Ref<HLConnectionManagerDelegate>& delegate,
                                   const char* path, int64_t attemptsSlot, const Value& body);

private:
    // On the main queue, unless the show was settled meanwhile.
    void deliver(std::function<void(const Ref<HLAdRewardDelegate>&)> call);

    std::atomic<bool> shouldCancelNotification_{false};
    Ref<HLAd> sourceAd_;
    Ref<HLAdRewardDelegate> rewardDelegate_;
};
