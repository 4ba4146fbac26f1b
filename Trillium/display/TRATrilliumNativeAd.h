// The public Trillium native ad: loads records of text, rating, category and
// two images that the application lays out itself (TRANativeAdDetails, with
// their own impression and click), shaped by TRANativeAdPreferences and the
// entry point's user facts. It checks the application identifier and the
// network, waits for the configuration, starts one loader per load and tells
// the publisher's delegate didLoadAd: or failedLoadAd:withError: (once per
// load for event type 0; refusals are told inside the load call). The ad
// rules are asked when the records are first read after a load started: a
// denial tells failedShowAd:withError: ("Ad Rules"), reports the records as
// not shown and reads as no records until the next load. A load started
// while another runs reports "Ad is already loading" and replaces it; the
// dropped loader's answer is ignored. Main thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Trillium/TRAAbstractAd.h"
#include "Trillium/TRAAd.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/TRASmartRedirectWebViewDelegate.h"
#include "Trillium/display/TRANativeAd.h"
#include "Trillium/display/TRANativeAdPreferences.h"

class TRATrilliumNativeAd : public TRAAbstractAd,
                            public TRAAdDelegate,
                            public TRAMetadataDelegate,
                            public TRASmartRedirectWebViewDelegate {
public:
    static constexpr const char* kPlacement = "INAPP_NATIVE";

    static Ref<TRATrilliumNativeAd> alloc() { return NSObject::alloc<TRATrilliumNativeAd>(); }
    Ref<TRATrilliumNativeAd> init() { return self<TRATrilliumNativeAd>(); }

    // Each form ends in the full one with null for what it lacks (default
    // preferences then).
    void loadAd();
    void loadAdWithNativeAdPreferences(const Ref<TRANativeAdPreferences>& preferences);
    void loadAdWithDelegate(const Ref<TRADelegateProtocol>& delegate);
    void loadAdWithDelegate(const Ref<TRADelegateProtocol>& delegate, const Ref<TRANativeAdPreferences>& preferences);

    // The loaded records, after the ad-rules check of the first read.
    std::vector<Ref<TRANativeAdDetails>> adsDetails();
    bool isReady() const { return adIsLoaded_; }
    // With a loader: kept, and given to the loader's records (those of a load
    // still under way get it only when it is set again after the answer).
    void setAdTag(const std::optional<std::string>& tag);

    // ---- steps ----
    void checkNetworkState();
    void setBitmapSizeWithAd(const Ref<TRANativeAd>& ad);
    // The request's extra fields ("age", "gender", location, counts and
    // sizes), or Null when there is nothing to send.
    Value createDictionary() const;
    void sendNonImpression();

    // ---- callbacks ----
    void didFinishLoadMetadata() override;
    void didFinishLoadAd() override;
    void finishLoadAdWithError(const Ref<NSError>& error) override;
    void didCloseInAppStore() override;
    void didExitWebViewWithInAppBrowser(const std::optional<std::string>&) override {}
    void didFinishWithError(const Ref<NSError>&) override {}
    void allowAutoRotate() override {}
    PLATFORM_RESPONDS_TO("didExitWebViewWithInAppBrowser:", "didFinishWithError:", "allowAutoRotate",
                         "didCloseInAppStore")

    // ---- state ----
    bool isLoading() const { return loading_; }
    bool isFirstAdDetailsGet() const { return isFirstAdDetailsGet_; }
    bool lastAdapptValue() const { return lastAdapptValue_; }
    const Ref<TRANativeAdPreferences>& preferences() const { return preferences_; }
    const Ref<TRANativeAd>& nativeAd() const { return nativeAd_; }
    const std::optional<std::string>& nativeAdTag() const { return nativeAdTag_; }

private:
    void tellLoadFailure(const std::string& description);

    bool adIsLoaded_ = false;
    bool isFirstAdDetailsGet_ = false;
    bool lastAdapptValue_ = true;
    bool loading_ = false;
    Ref<TRANativeAdPreferences> preferences_;
    std::vector<Ref<TRANativeAdDetails>> adsDetails_;
    Ref<TRANativeAd> nativeAd_;
    std::optional<std::string> nativeAdTag_;
};
