#include "halcyon/display/HLPendingRewardReportManager.h"

#include <algorithm>

#include "halcyon/core/HLAd.h"

Ref<HLPendingRewardReportManager> HLPendingRewardReportManager::sharedManager() {
    // Never destroyed: other threads may use it during exit.
    static const Ref<HLPendingRewardReportManager>& manager =
        *new Ref<HLPendingRewardReportManager>(NSObject::alloc<HLPendingRewardReportManager>());
    return manager;
}

std::vector<std::pair<Ref<HLAd>, HLPendingRewardOutcome>>::iterator HLPendingRewardReportManager::entryForLocked(
    const Ref<HLAd>& ad) {
    return std::find_if(pendingRewardOutcomes_.begin(), pendingRewardOutcomes_.end(),
                        [&](const auto& entry) { return entry.first->isEqualToAd(ad); });
}

HLPendingRewardOutcome& HLPendingRewardReportManager::outcomeForLocked(const Ref<HLAd>& ad) {
    auto it = entryForLocked(ad);
    if (it != pendingRewardOutcomes_.end()) return it->second;
    return pendingRewardOutcomes_.emplace_back(ad->copy(), HLPendingRewardOutcome{}).second;
}

void HLPendingRewardReportManager::saveOutcome(const HLPendingRewardOutcome& outcome, const Ref<HLAd>& ad) {
    if (!ad) return;
    std::scoped_lock lock(managerLock_);
    outcomeForLocked(ad) = outcome;
}

void HLPendingRewardReportManager::saveRewardResult(const std::string& result, const Ref<HLAd>& ad) {
    if (!ad) return;
    std::scoped_lock lock(managerLock_);
    outcomeForLocked(ad).result = result;
}

std::optional<HLPendingRewardOutcome> HLPendingRewardReportManager::removeSavedOutcomeForAd(const Ref<HLAd>& ad) {
    if (!ad) return std::nullopt;
    std::scoped_lock lock(managerLock_);
    auto it = entryForLocked(ad);
    if (it == pendingRewardOutcomes_.end()) return std::nullopt;
    HLPendingRewardOutcome outcome = std::move(it->second);
    pendingRewardOutcomes_.erase(it);
    return outcome;
}
