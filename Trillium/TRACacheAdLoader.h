// One slot of the full-screen ad cache: the loaded ad of its key (or none),
// the load under way and the public ads waiting for it (held weakly). A load
// creates the full-screen ad object for the key's ad and event types.
#pragma once

#include <vector>

#include "Trillium/TRAAd.h"
#include "Trillium/NSMutableArrayWeakReferences.h"
#include "Trillium/TRACacheKey.h"
#include "Trillium/TRAHtmlAd.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class TRATrilliumAd;

class TRACacheAdLoader : public NSObject, public TRAAdDelegate {
public:
    Ref<TRACacheAdLoader> initWithKey(Ref<TRACacheKey> key);

    const Ref<TRACacheKey>& key() const { return key_; }
    // The loaded ad, not yet shown; null when there is none.
    const Ref<TRAAd>& internalAd() const { return internalAd_; }
    void setInternalAd(Ref<TRAAd> ad) { internalAd_ = std::move(ad); }
    bool isLoading() const { return loadingAd_ != nullptr; }

    // Gives the public ad the loaded ad (on the next pass), or makes it wait
    // for the load under way, or starts one with these request fields.
    void loadAdForTrilliumAd(const Ref<TRATrilliumAd>& ad, const Value& adPreferences, const Value& params,
                             bool rewardedVideo);
    // Tells every waiting ad that the load failed and drops the load.
    void cancelWithError(const Ref<NSError>& error);

    void didFinishLoadAd() override;
    void finishLoadAdWithError(const Ref<NSError>& error) override;

private:
    std::vector<Ref<TRATrilliumAd>> takeWaitingAds();

    Ref<TRACacheKey> key_;
    Ref<TRAAd> internalAd_;
    Ref<TRAHtmlAd> loadingAd_;
    WeakReferenceArray<TRATrilliumAd> waitingAds_ = WeakReferences::mutableArrayUsingWeakReferences<TRATrilliumAd>();
};
