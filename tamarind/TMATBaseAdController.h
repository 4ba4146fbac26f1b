// The base of the template renderer's ad controllers: loads an ad through its
// model, turns a model failure into the failure metrics (counter and pixel by
// the table below) and the delegate's controllerFailedToLoadAd:, fires the
// impression pixel, and hands click-throughs to its browsing controller.
// Subclasses (the interstitial controllers) answer the abstract operations;
// the base versions log that they were called and do nothing. Main thread.
//
//   error code   counter        failure pixel suffix
//   -1001        109 "lfnt"     "LoadAdNetworkTimeout_"
//   0            111 "lfre"     "LoadAdRequestError_"
//   1            107 "lfnf"     "LoadAdNoFill_"
//   2            110 "lfie"     "LoadAdInternalError_"
//   other        108 "lfne"     "LoadAdNetworkError_"
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/NSURL.h"
#include "tamarind/TMAMetricManager.h"
#include "tamarind/TMATAdContainerDelegate.h"
#include "tamarind/TMATAdModel.h"
#include "tamarind/TMATBaseAdControllerDelegate.h"
#include "tamarind/TMATBrowsingController.h"

class TMATBaseAdContainer;
class TMATBridgeManager;
class TMATInterstitialAdContainer;

inline constexpr const char* kTMAAdControllerErrorDomain = "TMAAdControllerError";

class TMATBaseAdController : public NSObject,
                             public TMATAdModelDelegate,
                             public virtual TMATAdContainerDelegate,
                             public TMATBrowsingControllerDelegate {
public:
    // A new controller of type T made by initWithDelegate.
    template <class T = TMATBaseAdController>
    static Ref<T> adControllerWithDelegate(const Ref<TMATBaseAdControllerDelegate>& delegate) {
        auto controller = NSObject::alloc<T>();
        controller->initWithDelegate(delegate);
        return controller;
    }
    Ref<TMATBaseAdController> init() { return initWithDelegate(nullptr); }
    // Runs resetProperties, then keeps the delegate (weakly).
    Ref<TMATBaseAdController> initWithDelegate(const Ref<TMATBaseAdControllerDelegate>& delegate);

    // Runs resetProperties, then the model's load with the same values. A
    // size is "interstitial", "auto" (the container size) or "<w>x<h>".
    void loadWithOptions(const Ref<TamarindAdOptions>& options, const std::string& size, const Ref<NSObject>& ad);
    void loadWithOptions(const Ref<TamarindAdOptions>& options, const std::string& size,
                         const std::optional<std::string>& containerSize, const Ref<NSObject>& ad);
    // Routes the URL through the browsing controller; false when nothing was
    // shown or opened (a null URL goes nowhere). The bridges ask it only for
    // the user's tap.
    bool openUrlLink(const Ref<NSURL>& url, bool useExternal);
    // Sends the model's impression pixel, when it has one (logged either way).
    void fireImpressionPixel();
    // The delegate's answer when it lists "viewControllerForPresentingModalView"; else logged, null.
    virtual Ref<UIViewController> viewControllerForPresentingModalView();

    // ---- TMATAdModelDelegate; the abstract operations ----
    void modelFailedToLoadWithError(Ref<NSError> error) override;
    void modelLoadedSuccessfully(Ref<TMAJSBridgesEnabled> bridgesEnabled) override;
    bool handlesAdCreativeType(int creativeType) override;
    void recordMetricsOnLoadAttempt() override;
    int adType() override;
    bool isControllerReadyToLoadAd() override;
    virtual void submitMetricsOnSuccess();
    virtual void submitMetricsOnFailure();
    virtual void resetProperties() {}
    // Asked before each load, ahead of resetProperties: a subclass refuses a
    // load here (logging why), e.g. while its ad is on screen. No callback follows.
    virtual bool acceptsNewLoad() { return true; }
    // TMATBrowsingControllerDelegate: private URLs lead nowhere in the base.
    void openPrivateUrl(Ref<NSURL> url) override;

    // Why `presenter` (named `name` in the text) cannot present a view
    // controller now, as the platform would refuse it: "<name> is not on
    // screen" or "<name> already presents <class>"; "" when it can.
    static std::string presenterRefusal(const Ref<UIViewController>& presenter, const std::string& name);

    int retrieveLoadAdFailureMetricName(int64_t errorCode) const;
    void recordMetricOnLoadAdFailure(int64_t errorCode);

    // ---- state ----
    virtual bool prerendered() const { return false; }
    virtual bool isDisplayed() const { return false; }
    Ref<TMATBaseAdControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<TMATBaseAdControllerDelegate>& delegate) { delegate_ = delegate; }
    // Made on first read (the shared configuration; a model whose delegate is
    // this controller); both accessors lock the controller.
    Ref<TMAdConfiguration> sharedConfiguration();
    Ref<TMATAdModel> adModel();
    void setAdModel(const Ref<TMATAdModel>& model);
    Ref<TMATBaseAdContainer> adContainer() const { return adContainer_; }
    void setAdContainer(const Ref<TMATBaseAdContainer>& container) { adContainer_ = container; }
    Ref<TMATBridgeManager> bridgeManager() const { return bridgeManager_; }
    void setBridgeManager(const Ref<TMATBridgeManager>& manager) { bridgeManager_ = manager; }
    // Made on first read, with this controller as its ad controller and delegate.
    Ref<TMATBrowsingController> browsingController();
    Ref<TMAMetricManager> metricManager();
    std::optional<std::string> instrumentationPixelUrl();
    Ref<TMMetricTracker> metricTracker();

protected:
    // Logs "<class> called from the base class <selector>".
    void logAbstractCall(const char* selector) const;

    // ---- shared by the interstitial controllers (the model is the metrics' key) ----
    // Stops timer 2 "i_tl" and submits.
    void submitInterstitialMetricsOnSuccess();
    // Stops timer 4 "i_tfl", counts 106 "lf" and submits.
    void submitInterstitialMetricsOnFailure();
    // The ad's bridges, its MRAID bridge placed as an interstitial; kept as bridgeManager.
    Ref<TMATBridgeManager> makeInterstitialBridges(const Ref<TMAJSBridgesEnabled>& bridgesEnabled);
    // Gives the container the model's slot id, then prerenders the model's creative in it.
    void prerenderCreative(const Ref<TMATInterstitialAdContainer>& container, const Ref<TMATBridgeManager>& bridges);
    // A "TMAAdControllerError" code 2 with the description.
    static Ref<NSError> controllerError(const std::string& description);
    // The page failed to load off screen: timer 6 "i_pfl" stopped, the
    // failure metrics, the model reset, logged as "<kind> interstitial failed
    // to prerender: …", and the delegate told with a controller error.
    void reportPrerenderFailure(const Ref<NSError>& error, const char* kind);

private:
    Weak<TMATBaseAdControllerDelegate> delegate_;
    Ref<TMAdConfiguration> sharedConfiguration_;
    Ref<TMATAdModel> adModel_;
    Ref<TMATBaseAdContainer> adContainer_;
    Ref<TMATBridgeManager> bridgeManager_;
    Ref<TMATBrowsingController> browsingController_;
    Ref<TMAMetricManager> metricManager_;
};
