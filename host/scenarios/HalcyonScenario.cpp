// The Halcyon scenario: an application that shows Halcyon ads starts the
// client at launch with its SDK key (HLSdk sharedWithKey:settings:), pointed
// at the Halcyon service through slot overrides. The client initialises on
// its queue 0 and submits the device data; the embedded service refuses the
// first submission (503), so it is retried 10 s later on queue 1, and its
// answer brings the device identifiers and a server setting. The client
// reports its "landing" pixel as it initialises; after launch the user buys
// something and the application tracks a "checkout" event with parameters,
// a pixel with a JSON body through the persisted postback queue.
//
// Ads: the client preloads an interstitial and two incentivized ones at
// start-up; the application's first interstitial comes from that queue. Its
// home screen holds a banner slot (an update observer of the banner size):
// the first banner is requested, a second look within the refresh time gets
// the kept one, and the refresh tick (90 s, the server's setting) brings a
// new one while the application is active. The user taps the banner: a
// background click, recorded through the persisted postback queue, that
// opens the ad's destination at once. The ad pages' resources are cached
// through the recorder. The client also preloads one native ad at start-up,
// with its resources; the application's discovery feed then loads a group of
// three native ads (a request of its own: the first two precached, all three
// reported) and the user taps the first, whose click is recorded through
// the persisted postback queue and then opened. Then the application shows
// its full-screen ads (HalcyonDisplayStory.h): an interstitial, a video
// interstitial and a rewarded video, whose reward requests go over https
// through the recorder's https listener. Then a stay in the background (the
// slot refuses refreshes there), the return and the quit. The client's own
// log lines go to the client log, its warnings and errors to the timeline too.
//
// On a fresh home the service refuses the rewarded video's end postback
// (the run's last): it stays in the client's postback file, and the next run
// on that home (--home) sends it again at start-up, to the recorder's port
// of the earlier run, which the recorder takes again.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLAdDisplayProtocols.h"
#include "halcyon/core/HLAdLoadDelegate.h"
#include "halcyon/core/HLAdService.h"
#include "halcyon/core/HLConstants.h"
#include "halcyon/core/HLEventService.h"
#include "halcyon/core/HLFileManager.h"
#include "halcyon/core/HLInternalSdkSettings.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLNativeAd.h"
#include "halcyon/core/HLNativeAdService.h"
#include "halcyon/core/HLPersistentPostbackManager.h"
#include "halcyon/core/HLPostbackRequest.h"
#include "halcyon/core/HLSdk.h"
#include "host/scenarios/HalcyonDisplayStory.h"
#include "host/scenarios/Scenarios.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/runtime/Log.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIView.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"
#include "simulator/HalcyonService.h"

namespace {

// Past the refused device submission's retry (10 s) and the start-up preloads.
constexpr double kHalcyonStayBeforeAds = 12;
// Past the banner's refresh tick (90 + 2 s).
constexpr double kHalcyonForegroundStay = 95;
constexpr double kHalcyonBackgroundStay = 120;
constexpr double kHalcyonStayAfterReturn = 10;
// What the embedded service's device answer sets on the client.
constexpr const char* kHalcyonServerSettings = R"({"ad_refresh_seconds": 90})";

// The client's log lines, as they come (any queue), to the client log (its
// warnings and errors to the timeline too). A line names its level first; a
// user error comes as its message alone.
class HalcyonTimelineListener : public NSObject, public HLLogListenerDelegate {
public:
    explicit HalcyonTimelineListener(Timeline* timeline) : timeline_(timeline) {}
    void didLog(const std::string& line) override { timeline_->addLog(levelOf(line), "Halcyon " + line); }

private:
    static platform::LogLevel levelOf(const std::string& line) {
        if (line.rfind("DEBUG ", 0) == 0) return platform::LogLevel::Debug;
        if (line.rfind("INFO ", 0) == 0) return platform::LogLevel::Info;
        if (line.rfind("WARN ", 0) == 0) return platform::LogLevel::Warning;
        return platform::LogLevel::Error;
    }

    Timeline* timeline_;
};

// What the application hears of a load, written to the timeline.
class HalcyonLoadListener : public NSObject, public HLAdLoadDelegate {
public:
    HalcyonLoadListener(Timeline* timeline, std::string what) : timeline_(timeline), what_(std::move(what)) {}
    void adServiceDidLoadAd(const Ref<HLAdService>&, const Ref<HLAd>& ad) override {
        timeline_->add("app", what_ + " loaded: " + (ad ? ad->description() : std::string("no ad")));
    }
    void adServiceDidFailToLoadAdWithError(const Ref<HLAdService>&, int32_t code) override {
        timeline_->add("app", what_ + " failed to load: " + std::to_string(code));
    }

private:
    Timeline* timeline_;
    std::string what_;
};

// The discovery feed: the native ads it is given, each written to the
// timeline with what of it is cached. Told on task queue 0.
class HalcyonNativeFeed : public NSObject, public HLNativeAdLoadDelegate {
public:
    explicit HalcyonNativeFeed(Timeline* timeline) : timeline_(timeline) {}

    void nativeAdServiceDidLoadAds(const Ref<HLNativeAdService>&, const std::vector<Ref<HLNativeAd>>& ads) override {
        timeline_->add("app", "native feed: " + std::to_string(ads.size()) + " native ads loaded");
        for (const Ref<HLNativeAd>& ad : ads) {
            std::string cached = std::string(ad->isImagePrecached() ? "images cached" : "images not cached") + ", " +
                                 (!ad->sourceVideoURL()        ? "no video"
                                  : ad->isVideoPrecached()     ? "video cached"
                                                               : "video not cached");
            timeline_->add("app", "native feed: " + ad->description() + " \"" + ad->ctaText().value_or("") +
                                      "\", rating " + ad->starRating().stringValue() + ", " + cached);
        }
        std::scoped_lock lock(mutex_);
        ads_ = ads;
    }
    void nativeAdServiceDidFailToLoadAdsWithError(const Ref<HLNativeAdService>&, int32_t code) override {
        timeline_->add("app", "native feed: failed to load: " + std::to_string(code));
    }
    PLATFORM_RESPONDS_TO(kHLSelDidLoadAds, kHLSelDidFailToLoadAds)

    Ref<HLNativeAd> first() const {
        std::scoped_lock lock(mutex_);
        return ads_.empty() ? nullptr : ads_.front();
    }

private:
    Timeline* timeline_;
    mutable std::mutex mutex_;  // guards ads_
    std::vector<Ref<HLNativeAd>> ads_;
};

// The home screen's banner slot: a view that shows each banner it is given
// (loads and refreshes) and refuses refreshes while the application is not
// active. It stands in for the display side's ad view, so the click path
// sees it as one (no overlay, no presenter).
class HalcyonBannerSlot : public UIView, public HLAdViewInternalProtocol, public HLAdUpdateObserver,
                          public HLAdLoadDelegate {
public:
    explicit HalcyonBannerSlot(Timeline* timeline) : timeline_(timeline) {}

    void adServiceDidLoadAd(const Ref<HLAdService>&, const Ref<HLAd>& ad) override {
        if (ad && ad == ad_) timeline_->add("app", "banner slot: the kept banner again (" + ad->description() + ")");
        else show(ad, "loaded");
    }
    void adServiceDidFailToLoadAdWithError(const Ref<HLAdService>&, int32_t code) override {
        timeline_->add("app", "banner slot: the banner failed to load: " + std::to_string(code));
    }
    // The load that brought a new banner tells its observers too: shown once.
    void adServiceDidUpdateAd(const Ref<HLAdService>&, const Ref<HLAd>& ad) override {
        if (ad != ad_) show(ad, "refreshed");
    }
    bool canAcceptUpdate() override {
        return UIApplication::sharedApplication()->applicationState() == UIApplicationStateActive;
    }

    void removeClickTrackingOverlay() override {}
    bool foregroundClickInvalidated() const override { return false; }
    Ref<HLAdDisplayDelegate> adDisplayDelegate() const override { return nullptr; }
    Ref<HLAdDisplayDelegate> weakAdDisplayDelegate() const override { return nullptr; }
    Ref<HLInterstitialAdDismissProxy> weakInterstitialDismissalDelegate() const override { return nullptr; }

    const Ref<HLAd>& ad() const { return ad_; }

private:
    void show(const Ref<HLAd>& ad, const char* how) {
        ad_ = ad;
        timeline_->add("app", std::string("banner slot: banner ") + how + ": " + (ad ? ad->description() : "no ad"));
    }

    Timeline* timeline_;
    Ref<HLAd> ad_;
};

// The application's delegate: at launch it starts the Halcyon client, then
// shows its root screen.
class HalcyonAppDelegate : public NSObject, public UIApplicationDelegate {
public:
    HalcyonAppDelegate(const HostOptions& options, Timeline* timeline, const ScenarioService* service)
        : options_(options), timeline_(timeline), service_(service) {}

    bool applicationDidFinishLaunchingWithOptions(const Ref<UIApplication>&, const Value&) override {
        timeline_->add("delegate", "application:didFinishLaunchingWithOptions:");
        auto settings = NSObject::alloc<HLInternalSdkSettings>()->init();
        if (service_) {
            const std::string& base = service_->clientUrl;
            // The reward requests always go over https: the API is reached
            // through the recorder's https listener when there is one.
            const std::string& api = service_->secureClientUrl.empty() ? base : service_->secureClientUrl;
            settings->putString(api + "api/", kHLSlotApiEndpoint);
            settings->putString(base + "ads/", kHLSlotAdServerEndpoint);
            settings->putString(base + "pix?", kHLSlotEventTrackingEndpoint);
            settings->putString(base + "res/", kHLSlotResourceCachePrefix);
            timeline_->add("app", "HLInternalSdkSettings: endpoints below " + base);
        }
        settings->setListener(std::make_shared<HalcyonTimelineListener>(timeline_));
        sdk_ = HLSdk::sharedWithKey(options_.halcyonKey, settings);
        timeline_->add("app", "HLSdk sharedWithKey:settings: " + options_.halcyonKey + (sdk_ ? "" : " (refused)"));

        window_ = UIWindow::alloc();
        window_->initWithFrame(UIScreen::mainScreen()->bounds());
        window_->setRootViewController(UIViewController::alloc()->init());
        window_->makeKeyAndVisible();
        return true;
    }
    void applicationDidEnterBackground(const Ref<UIApplication>&) override {
        timeline_->add("delegate", "applicationDidEnterBackground:");
    }
    void applicationWillEnterForeground(const Ref<UIApplication>&) override {
        timeline_->add("delegate", "applicationWillEnterForeground:");
    }
    void applicationWillTerminate(const Ref<UIApplication>&) override {
        timeline_->add("delegate", "applicationWillTerminate:");
    }
    Ref<UIWindow> window() const override { return window_; }

    const Ref<HLSdk>& sdk() const { return sdk_; }

private:
    HostOptions options_;
    Timeline* timeline_;
    const ScenarioService* service_;
    Ref<HLSdk> sdk_;
    Ref<UIWindow> window_;
};

class HalcyonScenario : public Scenario {
public:
    void play(ScenarioContext& context) override {
        Timeline& timeline = context.timeline();
        const ScenarioService* service = context.service("halcyon");
        const size_t stored = storedPostbacks(timeline, context.options().halcyonKey);
        if (simulator::HalcyonService* embedded = context.embeddedHalcyon()) {
            embedded->scriptStatuses(simulator::HalcyonService::kDevicePath, {503});
            if (stored == 0) {
                // The interstitial video's end goes through; the rewarded one's is
                // refused at each of the client's five tries.
                embedded->scriptStatuses(simulator::HalcyonService::postbackPath("video_end"), {200, 503, 503, 503, 503, 503});
                timeline.add("host", "Halcyon service: the rewarded video's end postback is refused (503) at each "
                                     "try: it stays stored for the next run on this home");
            }
            embedded->setSettings(std::string(kHalcyonServerSettings));
            embedded->setAd(halcyonScenarioAd());
            embedded->setNativeAnswer(halcyonNativeAnswer());
            prepareHalcyonDisplayStory(*embedded, timeline);
            timeline.add("host", "Halcyon service: the first device submission is answered 503; the answer to its retry carries " +
                                     std::string(kHalcyonServerSettings) +
                                     "; ads are HTML pages naming a script, a style sheet and an image; native "
                                     "answers list three ads with icons and images, the first with a video");
        }
        auto app = UIApplication::sharedApplication();
        auto delegate = std::make_shared<HalcyonAppDelegate>(context.options(), &timeline, service);
        timeline.add("host", "launch");
        app->simulateLaunch(delegate);
        if (!context.stay(0)) return quitScenarioApplication(context);
        tell(context, delegate, "after launch");
        if (const Ref<HLSdk>& sdk = delegate->sdk()) {
            Value purchase = Value::dictionary({{"item", "spectral-scanner"}, {"price", 4.99}, {"currency", "EUR"}});
            timeline.add("app", "HLEventService trackCheckoutWithTransactionIdentifier: T-1001 parameters: " +
                                    purchase.description());
            sdk->eventService()->trackCheckoutWithTransactionIdentifier(std::string("T-1001"), purchase);
        }
        // The retry of a refused submission comes 10 s later (slot 13).
        if (!context.stay(kHalcyonStayBeforeAds)) return quitScenarioApplication(context);
        Ref<HalcyonBannerSlot> slot;
        if (const Ref<HLSdk>& sdk = delegate->sdk()) {
            const Ref<HLAdService>& ads = sdk->adService();
            timeline.add("app", "HLAdService loadNextAd: INTER (the interstitial before the scan starts)");
            ads->loadNextAd(HLAdSize::sizeInterstitial(), std::make_shared<HalcyonLoadListener>(&timeline, "interstitial"));
            slot = std::make_shared<HalcyonBannerSlot>(&timeline);
            slot->initWithFrame(CGRectMake(0, 0, 320, 50));
            delegate->window()->rootViewController()->view()->addSubview(slot);
            ads->addAdUpdateObserver(slot, HLAdSize::sizeBanner());
            timeline.add("app", "HLAdService addAdUpdateObserver:ofSize: BANNER, loadNextAd: BANNER (the home screen)");
            ads->loadNextAd(HLAdSize::sizeBanner(), slot);
            if (!context.stay(1)) return quitScenarioApplication(context);
            timeline.add("app", "HLAdService loadNextAd: BANNER (the home screen shown again)");
            ads->loadNextAd(HLAdSize::sizeBanner(), slot);
        }
        if (!context.stay(kHalcyonForegroundStay)) return quitScenarioApplication(context);
        if (slot && slot->ad()) {
            const Ref<HLAd> ad = slot->ad();
            timeline.add("app", "the user taps the banner: HLAdService trackClickOn: " + ad->description() +
                                    " withPlacement: home");
            delegate->sdk()->adService()->trackClickOn(ad, std::string("home"), slot, ad->clickDestinationURL());
            for (const auto& url : UIApplication::sharedApplication()->openedURLs())
                timeline.add("app", "UIApplication opened " + platform::urlForLog(url->absoluteString()));
        }
        if (!context.stay(1)) return quitScenarioApplication(context);
        auto feed = std::make_shared<HalcyonNativeFeed>(&timeline);
        if (const Ref<HLSdk>& sdk = delegate->sdk()) {
            timeline.add("app", "HLNativeAdService loadNativeAdGroupOfCount: 3 (the discovery feed)");
            sdk->nativeAdService()->loadNativeAdGroupOfCount(3, feed);
        }
        if (!context.stay(1)) return quitScenarioApplication(context);
        if (Ref<HLNativeAd> ad = feed->first()) {
            timeline.add("app", "the user taps the first native ad: HLNativeAd launchClickTarget (" + ad->description() +
                                    ")");
            ad->launchClickTarget();
            auto opened = UIApplication::sharedApplication()->openedURLs();
            if (!opened.empty())
                timeline.add("app", "UIApplication opened " + platform::urlForLog(opened.back()->absoluteString()));
        }
        if (!context.stay(1)) return quitScenarioApplication(context);
        tell(context, delegate, "after the stay in the foreground");
        if (!playHalcyonDisplayStory(context, delegate->sdk(), delegate->window())) return quitScenarioApplication(context);

        timeline.add("host", "the user leaves the application");
        app->simulateEnterBackground();
        if (!context.stay(kHalcyonBackgroundStay)) return quitScenarioApplication(context);
        timeline.add("host", "the user returns");
        app->simulateEnterForeground();
        app->simulateBecomeActive();
        context.stay(kHalcyonStayAfterReturn);
        quitScenarioApplication(context);
    }

private:
    // The postbacks an earlier run on this home left in the client's file,
    // told on the timeline; the client sends them again at start-up.
    static size_t storedPostbacks(Timeline& timeline, const std::string& sdkKey) {
        auto caches = NSSearchPathForDirectoriesInDomains(NSCachesDirectory, NSUserDomainMask, true);
        if (caches.empty()) return 0;
        const std::string path = caches.front() + "/" + HLFileManager::kCacheFolderName + "/" +
                                 HLPersistentPostbackManager::queueFileNameForKey(sdkKey);
        if (!NSFileManager::defaultManager()->fileExistsAtPath(path)) return 0;
        const Value stored = NSKeyedUnarchiver::unarchiveObjectWithFile(path);
        const Value::Array* entries = stored.array();
        if (!entries || entries->empty()) return 0;
        for (const Value& entry : *entries)
            if (Ref<HLPostbackRequest> postback = entry.object<HLPostbackRequest>())
                timeline.add("host", "Halcyon: a postback an earlier run on this home left stored, sent again at "
                                     "start-up: " + (postback->targetURL() ? postback->targetURL()->absoluteString() : ""));
        return entries->size();
    }

    // The discovery feed's ads; the first comes with a video.
    static simulator::HalcyonNativeAnswer halcyonNativeAnswer() {
        simulator::HalcyonNativeAnswer answer;
        answer.ads.emplace(3);
        const char* titles[] = {"Spectral Scanner Pro", "EMF Meter Deluxe", "Night Vision Lens"};
        for (size_t i = 0; i < 3; ++i) (*answer.ads)[i].title = titles[i];
        (*answer.ads)[0].videoUrl = "{RES}scanner-trailer.mp4";
        (*answer.ads)[2].starRating = "3.5";
        return answer;
    }

    // What the client holds now, in a line.
    static void tell(ScenarioContext& context, const std::shared_ptr<HalcyonAppDelegate>& delegate,
                     const std::string& when) {
        const Ref<HLSdk>& sdk = delegate->sdk();
        if (!sdk) return;
        std::string state = sdk->isEnabledAndInitialized() ? "enabled"
                            : sdk->isInitializing()        ? "initialising"
                                                           : "disabled";
        std::string token = sdk->stringForKey(kHLSlotDeviceToken).value_or("");
        context.timeline().add(
            "host", "Halcyon " + when + ": " + state + ", device token " + (token.empty() ? "none yet" : token) +
                        ", ad refresh every " + std::to_string(sdk->integerForKey(kHLSlotAdRefreshSeconds)) + " s");
    }

};

}  // namespace

std::unique_ptr<Scenario> makeHalcyonScenario() { return std::make_unique<HalcyonScenario>(); }
