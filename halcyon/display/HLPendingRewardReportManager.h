// Where a rewarded ad's outcome waits between the validation ("vr") and the
// report ("cr") of that ad: one shared store, in memory only (empty at every
// start), keyed by the ad's value (a copy of the ad is the key). An outcome
// is a result with the server's parameters of the same answer; the two are
// stored and taken together, so a report never carries parameters left by
// another show of an equal ad. Any thread: every access holds managerLock,
// which the validation task and the settlement also hold to test and set
// their cancel flag together with the store (see HLTaskValidateReward).
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class HLAd;

// A result (none when the answer named none) and its parameters (Null: none).
struct HLPendingRewardOutcome {
    std::optional<std::string> result;
    Value parameters;
};

class HLPendingRewardReportManager : public NSObject {
public:
    // Made once, thread-safely.
    static Ref<HLPendingRewardReportManager> sharedManager();

    // Replaces what was stored for the ad; a null ad stores nothing.
    void saveOutcome(const HLPendingRewardOutcome& outcome, const Ref<HLAd>& ad);
    // Replaces the result only: the parameters stored with the ad's answer
    // stay with it (the settlement's verdict over the server's).
    void saveRewardResult(const std::string& result, const Ref<HLAd>& ad);
    // The stored outcome, removed whole; nullopt when there is none.
    std::optional<HLPendingRewardOutcome> removeSavedOutcomeForAd(const Ref<HLAd>& ad);

    // Guards the store; recursive, so a holder may call the methods above.
    std::recursive_mutex& managerLock() const { return managerLock_; }

private:
    std::vector<std::pair<Ref<HLAd>, HLPendingRewardOutcome>>::iterator entryForLocked(const Ref<HLAd>& ad);
    // The ad's stored outcome, an empty one added when there is none.
    HLPendingRewardOutcome& outcomeForLocked(const Ref<HLAd>& ad);

    mutable std::recursive_mutex managerLock_;  // guards the field below
    std::vector<std::pair<Ref<HLAd>, HLPendingRewardOutcome>> pendingRewardOutcomes_;
};
