#include "halcyon/display/HLPendingRewardReportManager.h"

#include <algorithm>

#include "halcyon/core/HLAd.h"

namespace {
template <typename T>
auto hlPendingEntryFor(std::vector<std::pair<Ref<HLAd>, T>>& entries, const Ref<HLAd>& ad) {
    return std::find_if(entries.begin(), entries.end(),
                        [&](const auto& entry) { return entry.first->isEqualToAd(ad); });
}

template <typename T>
void hlPendingStore(std::vector<std::pair<Ref<HLAd>, T>>& entries, const Ref<HLAd>& ad, T value) {
    if (!ad) return;
    auto it = hlPendingEntryFor(entries, ad);
    if (it != entries.end())
        it->second = std::move(value);
    else
        entries.emplace_back(ad->copy(), std::move(value));
}

template <typename T>
std::optional<T> hlPendingTake(std::vector<std::pair<Ref<HLAd>, T>>& entries, const Ref<HLAd>& ad) {
    if (!ad) return std::nullopt;
    auto it = hlPendingEntryFor(entries, ad);
    if (it == entries.end()) return std::nullopt;
    T value = std::move(it->second);
    entries.erase(it);
    return value;
}
}  // namespace

Ref<HLPendingRewardReportManager> HLPendingRewardReportManager::sharedManager() {
    // Never destroyed: other threads may use it during exit.
    static const Ref<HLPendingRewardReportManager>& manager =
        *new Ref<HLPendingRewardReportManager>(NSObject::alloc<HLPendingRewardReportManager>());
    return manager;
}

void HLPendingRewardReportManager::saveRewardResult(const std::string& result, const Ref<HLAd>& ad) {
    std::scoped_lock lock(managerLock_);
    hlPendingStore(pendingRewardResults_, ad, result);
}

void HLPendingRewardReportManager::saveParameters(const Value& parameters, const Ref<HLAd>& ad) {
    std::scoped_lock lock(managerLock_);
    hlPendingStore(pendingRewardParameters_, ad, parameters);
}

std::optional<std::string> HLPendingRewardReportManager::removeSavedRewardResultForAd(const Ref<HLAd>& ad) {
    std::scoped_lock lock(managerLock_);
    return hlPendingTake(pendingRewardResults_, ad);
}

Value HLPendingRewardReportManager::removeSavedParametersForAd(const Ref<HLAd>& ad) {
    std::scoped_lock lock(managerLock_);
    return hlPendingTake(pendingRewardParameters_, ad).value_or(Value());
}
