// Where a rewarded ad's result and the server's parameters wait between the
// validation ("vr") and the report ("cr") of that ad: one shared store, in
// memory only (empty at every start), keyed by the ad's value (a copy of the
// ad is the key). Any thread: every access holds managerLock, which the
// validation task and the settlement also hold to test and set their
// cancel flag together with the store (see HLTaskValidateReward).
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class HLAd;

class HLPendingRewardReportManager : public NSObject {
public:
    // Made once, thread-safely.
    static Ref<HLPendingRewardReportManager> sharedManager();

    // Replace what was stored for the ad; a null ad stores nothing.
    void saveRewardResult(const std::string& result, const Ref<HLAd>& ad);
    void saveParameters(const Value& parameters, const Ref<HLAd>& ad);
    // The stored value, removed; nullopt / Null when there is none.
    std::optional<std::string> removeSavedRewardResultForAd(const Ref<HLAd>& ad);
    Value removeSavedParametersForAd(const Ref<HLAd>& ad);

    // Guards both stores; recursive, so a holder may call the methods above.
    std::recursive_mutex& managerLock() const { return managerLock_; }

private:
    mutable std::recursive_mutex managerLock_;  // guards the fields below
    std::vector<std::pair<Ref<HLAd>, std::string>> pendingRewardResults_;
    std::vector<std::pair<Ref<HLAd>, Value>> pendingRewardParameters_;
};
