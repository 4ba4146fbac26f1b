#include "halcyon/core/HLPreloadedAdManager.h"

#include "halcyon/core/HLAdLoadDelegate.h"
#include "halcyon/core/HLPreloadedAdQueue.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLTaskFetchNextAd.h"

namespace {
// Slots "preload_capacity_banner", "…_mrec", "…_inter", "…_leader", "…_incent".
constexpr int64_t kHLPreloadSlotCapacityBanner = 54;
constexpr int64_t kHLPreloadSlotCapacityMRec = 55;
constexpr int64_t kHLPreloadSlotCapacityInter = 56;
constexpr int64_t kHLPreloadSlotCapacityLeader = 57;
constexpr int64_t kHLPreloadSlotCapacityIncent = 58;

// The delegate of one preload request: its outcome goes to the manager with
// the spec the request asked for.
class HLPreloadRequestDelegate : public NSObject, public HLAdLoadDelegate {
public:
    HLPreloadRequestDelegate(const Ref<HLBasePreloadManager>& manager, Ref<HLAdSpec> spec)
        : manager_(manager), spec_(std::move(spec)) {}

    void adServiceDidLoadAd(const Ref<HLAdService>&, const Ref<HLAd>& ad) override {
        if (Ref<HLBasePreloadManager> manager = manager_.lock()) manager->didReceiveLoadable(ad, spec_);
    }
    void adServiceDidFailToLoadAdWithError(const Ref<HLAdService>&, int32_t code) override {
        if (Ref<HLBasePreloadManager> manager = manager_.lock()) manager->didFailToReceiveLoadableWithSpec(spec_, code);
    }

private:
    Weak<HLBasePreloadManager> manager_;
    Ref<HLAdSpec> spec_;
};
}  // namespace

int64_t HLPreloadedAdManager::capacitySettingTypeForSize(const Ref<HLAdSize>& size) {
    if (size && size->isEqual(*HLAdSize::sizeInterstitial())) return kHLPreloadSlotCapacityInter;
    if (size && size->isEqual(*HLAdSize::sizeMRec())) return kHLPreloadSlotCapacityMRec;
    if (size && size->isEqual(*HLAdSize::sizeLeader())) return kHLPreloadSlotCapacityLeader;
    return kHLPreloadSlotCapacityBanner;
}

HLBasePreloadManager::QueueTable HLPreloadedAdManager::createPreloadedAdsDictionary() {
    QueueTable table;
    for (const Ref<HLAdSize>& size :
         {HLAdSize::sizeBanner(), HLAdSize::sizeInterstitial(), HLAdSize::sizeMRec(), HLAdSize::sizeLeader()})
        table.emplace_back(HLAdSpec::specWithSize(size, HLAdType::typeRegular()),
                           queueWithCapacityOfSlot(capacitySettingTypeForSize(size)));
    table.emplace_back(HLAdSpec::specWithSize(HLAdSize::sizeInterstitial(), HLAdType::typeIncentivized()),
                       queueWithCapacityOfSlot(kHLPreloadSlotCapacityIncent));
    return table;
}

Ref<HLTask> HLPreloadedAdManager::createPreloadTaskForSpec(const Ref<HLAdSpec>& spec) {
    auto task = NSObject::alloc<HLTaskFetchNextAd>()->initWithSdk(sdk());
    task->setRequiredAdSize(spec->size());
    task->setRequiredAdType(spec->type());
    task->setDelegate(std::make_shared<HLPreloadRequestDelegate>(self<HLBasePreloadManager>(), spec));
    task->setIsPreloading(true);
    return task;
}

Ref<HLAdSpec> HLPreloadedAdManager::specForLoadable(const Ref<NSObject>& loadable) {
    return HLAdSpec::specFromAd(std::dynamic_pointer_cast<HLAd>(loadable));
}

void HLPreloadedAdManager::notifyDelegateOfSuccessWithLoadable(const Ref<NSObjectProtocol>& delegate,
                                                               const Ref<NSObject>& loadable) {
    auto loadDelegate = std::dynamic_pointer_cast<HLAdLoadDelegate>(delegate);
    Ref<HLSdk> sdk = this->sdk();
    if (loadDelegate && sdk) loadDelegate->adServiceDidLoadAd(sdk->adService(), std::dynamic_pointer_cast<HLAd>(loadable));
}

void HLPreloadedAdManager::notifyDelegateOfFailureForSpec(const Ref<NSObjectProtocol>& delegate,
                                                          const Ref<HLAdSpec>& spec, int32_t code) {
    Ref<HLSdk> sdk = this->sdk();
    if (sdk) HLNotifyLoadFailure(std::dynamic_pointer_cast<HLAdLoadDelegate>(delegate), sdk->adService(), spec, code);
}
