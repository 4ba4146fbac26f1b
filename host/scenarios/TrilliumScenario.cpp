// The Trillium scenario: an application that keeps the Trillium return ad and
// asks for a splash screen in template mode at launch (--splash-theme picks
// its theme). At launch the client loads its configuration, the splash ad and
// the return ad; the splash screen is up until its minimum time, then the
// splash ad shows until its display time closes it. The user
// leaves for long enough, and at the return the ad shows and its impressions
// go out. The user taps the ad: the click is reported and followed through
// the service's redirects to a landing page that stays, which opens in the
// client's in-app browser once the walk's time-out has passed; the user
// closes the browser. Then a video ad is loaded (its file downloaded), shown,
// played to its end and closed (TrilliumVideoStory), a banner and native ads
// (TrilliumBannerStory), and the user quits. Every callback of the ads goes
// to the timeline, and snapshots/ gets the splash screen, the splash ad, the
// return ad over the application's home screen, the browser, the playing video, the banner and
// the native ads as PNG, each while its screen is up.
#include <memory>

#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRADelegateProtocol.h"
#include "Trillium/display/TRAAdViewController.h"
#include "Trillium/display/TRAEventAdManager.h"
#include "Trillium/display/TRAInAppBrowserViewController.h"
#include "host/HostAppDelegate.h"
#include "host/TrafficRecorder.h"
#include "host/scenarios/Scenarios.h"
#include "host/scenarios/TrilliumVideoStory.h"
#include "host/scenarios/TrilliumBannerStory.h"
#include "platform/runtime/Log.h"
#include "platform/ui/UIApplication.h"
#include "simulator/TrilliumClickChains.h"
#include "simulator/TrilliumService.h"

namespace {

// Application seconds in each state.
constexpr double kTrilliumSplashLook = 1;       // the splash screen is up (its minimum time is longer)
constexpr double kTrilliumSplashAdLook = 5;     // the splash ad shows at the minimum time, for its display time
constexpr double kTrilliumForegroundStay = 24;  // the splash ad's display time ends
constexpr double kTrilliumBackgroundStay = 360;  // over the 300 s after which the return ad shows
constexpr double kTrilliumLookAtTheAd = 5;
constexpr double kTrilliumWalkStay = 10;         // over the click walk's 7 s time-out
constexpr double kTrilliumReadTheLanding = 20;
constexpr double kTrilliumStayAfterBrowser = 5;

// What the application hears of one of its ads ("return ad", "splash ad").
class TrilliumScenarioAdListener : public NSObject, public TRADelegateProtocol {
public:
    TrilliumScenarioAdListener(Timeline& timeline, std::string ad) : timeline_(timeline), ad_(std::move(ad)) {}
    void didLoadAd(const Ref<TRAAbstractAd>&) override { say("didLoadAd:"); }
    void failedLoadAd(const Ref<TRAAbstractAd>&, const Ref<NSError>& error) override {
        say("failedLoadAd:withError: " + (error ? error->localizedDescription() : std::string("(null)")));
    }
    void didShowAd(const Ref<TRAAbstractAd>&) override {
        shown_ = true;
        say("didShowAd:");
    }
    void failedShowAd(const Ref<TRAAbstractAd>&, const Ref<NSError>& error) override {
        say("failedShowAd:withError: " + (error ? error->localizedDescription() : std::string("(null)")));
    }
    void didCloseAd(const Ref<TRAAbstractAd>&) override {
        closed_ = true;
        say("didCloseAd:");
    }
    void didClickAd(const Ref<TRAAbstractAd>&) override { say("didClickAd:"); }
    void didCloseInAppStore(const Ref<TRAAbstractAd>&) override { say("didCloseInAppStore:"); }
    PLATFORM_RESPONDS_TO("didLoadAd:", "failedLoadAd:withError:", "didShowAd:", "failedShowAd:withError:",
                         "didCloseAd:", "didClickAd:", "didCloseInAppStore:")

    // Shown and not closed yet.
    bool isUp() const { return shown_ && !closed_; }

private:
    void say(const std::string& callback) { timeline_.add("trillium", ad_ + " " + callback); }
    Timeline& timeline_;
    std::string ad_;
    bool shown_ = false;
    bool closed_ = false;
};

// A full-screen ad page of the scenario's own: the ad screen's web view is
// clear, so the page paints all the user sees of it, a backdrop over the
// whole screen (dimmed or opaque) with a card on it: a title, a line of
// text, the call to action ("ad0") and the close link.
struct TrilliumScenarioAdPage {
    std::string backdrop;
    std::string title;
    std::string text;
    std::string action;
    std::string target;
    std::string dismiss;
};

std::string trilliumScenarioAdPageBody(const TrilliumScenarioAdPage& page) {
    return "<style>body{margin:0;padding-top:96px;background:" + page.backdrop + ";font-family:sans-serif}"
           ".card{margin:0 22px;padding:20px 20px 18px;background:#f5f2ea;border-radius:18px;"
           "text-align:center;color:#1c2330}"
           ".badge{display:inline-block;padding:2px 8px;border-radius:6px;background:#e9d9a6;color:#6b5010;"
           "font-size:11px;font-weight:bold}"
           ".mark{width:64px;height:64px;margin:14px auto 0;border-radius:16px;background:#2a9d6e;color:#fff;"
           "font-size:36px;font-weight:bold;line-height:64px}"
           "h1{margin:14px 0 6px;font-size:25px}"
           "p{margin:0 0 20px;font-size:15px;line-height:21px;color:#4b5262}"
           "#ad0{display:block;padding:13px;border-radius:24px;background:#2a9d6e;color:#fff;font-size:17px;"
           "font-weight:bold;text-decoration:none}"
           "#close{display:block;margin-top:14px;color:#6b7280;font-size:14px;text-decoration:none}</style>" +
           simulator::TrilliumClickChains::adPageScript() + "<div class=\"card\"><span class=\"badge\">AD</span>" +
           "<div class=\"mark\">P</div><h1>" + page.title + "</h1><p>" + page.text + "</p><a id=\"ad0\" href=\"" +
           page.target + "\">" + page.action + "</a><a id=\"close\" href=\"trilliumad://closeAd\">" + page.dismiss +
           "</a></div>";
}

// The application's own home screen, which shows wherever an ad leaves it visible.
void showTrilliumScenarioHome(const Ref<UIView>& root) {
    root->setBackgroundColor(UIColor::colorWithRed(0.08f, 0.1f, 0.14f, 1));
    auto label = [&](const std::string& text, CGRect frame, Ref<UIFont> font, Ref<UIColor> colour) {
        auto line = addTrilliumStoryLabel(root, text, frame, std::move(font), std::move(colour));
        line->setTextAlignment(NSTextAlignmentCenter);
        return line;
    };
    CGFloat width = root->bounds().size.width;
    label("Paranormal Detector", CGRectMake(0, 96, width, 32), UIFont::boldSystemFontOfSize(24), UIColor::whiteColor());
    label("Hold the phone still to scan the room", CGRectMake(0, 136, width, 20), UIFont::systemFontOfSize(14),
          UIColor::lightGrayColor());
    auto scan = label("Scan", CGRectMake(width / 2 - 80, 220, 160, 48), UIFont::boldSystemFontOfSize(20),
                      UIColor::whiteColor());
    scan->setBackgroundColor(UIColor::colorWithRed(0.16f, 0.62f, 0.45f, 1));
    scan->layer()->setCornerRadius(24);
    scan->layer()->setMasksToBounds(true);
}

class TrilliumScenario : public Scenario {
public:
    void play(ScenarioContext& context) override {
        Timeline& timeline = context.timeline();
        scriptService(context);
        labelClickTraffic(context);
        auto app = UIApplication::sharedApplication();
        auto delegate = NSObject::alloc<HostAppDelegate>()->initWithOptions(context.options(), &timeline);
        delegate->setKeepsReturnAd(true);
        auto listener = std::make_shared<TrilliumScenarioAdListener>(timeline, "return ad");
        auto splashListener = std::make_shared<TrilliumScenarioAdListener>(timeline, "splash ad");
        delegate->setSplashAdDelegate(splashListener);

        timeline.add("host", "launch (an application that keeps the Trillium return ad and shows a splash)");
        app->simulateLaunch(delegate);
        if (auto root = delegate->window() ? delegate->window()->rootViewController() : nullptr)
            showTrilliumScenarioHome(root->view());
        TRAEventAdManager::sharedInstance()->setReturnAdDelegate(listener);
        timeline.add("app", "TRAEventAdManager setReturnAdDelegate:");
        if (!context.stay(kTrilliumSplashLook)) return quit(context);
        if (TRAEventAdManager::sharedInstance()->splashViewController()) snapshot(context, delegate, "splash.png");
        else timeline.add("host", "no splash screen is up");
        if (!context.stay(kTrilliumSplashAdLook)) return quit(context);
        if (splashListener->isUp()) snapshot(context, delegate, "trillium-splash-ad.png");
        else timeline.add("host", "no splash ad is up");
        if (!context.stay(kTrilliumForegroundStay)) return quit(context);

        timeline.add("host", "the user leaves the application");
        app->simulateEnterBackground();
        if (!context.stay(kTrilliumBackgroundStay)) return quit(context);
        timeline.add("host", "the user returns");
        app->simulateEnterForeground();
        app->simulateBecomeActive();
        if (!context.stay(kTrilliumLookAtTheAd)) return quit(context);

        auto top = TRAAdSDKUtils::topViewControllerWithRootViewController(delegate->window()->rootViewController());
        auto screen = std::dynamic_pointer_cast<TRAAdViewController>(top);
        if (!screen) {
            timeline.add("host", "no return ad is on screen; nothing to tap");
            return quit(context);
        }
        snapshot(context, delegate, "return-ad.png");
        timeline.add("host", "the user taps the ad");
        if (!screen->webView()->simulateLinkClick("ad0")) timeline.add("host", "the ad page has no link to tap");
        if (!context.stay(kTrilliumWalkStay)) return quit(context);

        top = TRAAdSDKUtils::topViewControllerWithRootViewController(delegate->window()->rootViewController());
        auto browser = std::dynamic_pointer_cast<TRAInAppBrowserViewController>(top);
        if (!browser) {
            timeline.add("host", "the in-app browser did not open");
            return quit(context);
        }
        timeline.add("host", "the in-app browser shows " + platform::urlForLog(browser->webViewURL()));
        if (!context.stay(kTrilliumReadTheLanding)) return quit(context);
        snapshot(context, delegate, "in-app-browser.png");
        timeline.add("host", "the user closes the in-app browser");
        delegate->window()->simulateTap(browser->closeButton());
        if (!context.stay(kTrilliumStayAfterBrowser)) return quit(context);
        if (!playTrilliumVideoAd(context)) return quit(context);
        playTrilliumBannerAndNativeAds(context);
        quit(context);
    }

private:
    // The embedded service's ad: one ad on the page, followed through the
    // redirects chain and allowed into the in-app browser. A service given by
    // URL serves what it serves.
    static void scriptService(ScenarioContext& context) {
        simulator::TrilliumService* service = context.embeddedTrillium();
        if (!service) {
            context.timeline().add("host", "Trillium service given by URL: its own ads and click chains are used");
            return;
        }
        simulator::TrilliumClickChains chains(service->server());
        chains.install();
        simulator::TrilliumHtmlAd ad;
        // Over the application's screen, which the dimmed backdrop lets show through.
        ad.body = trilliumScenarioAdPageBody({"rgba(6,8,14,0.78)", "Paranormal Pro",
                                              "Night vision and a live spirit map of your home. Free for 7 days.",
                                              "Try it free", chains.chainUrl("redirects", "d=ret1&index=0"),
                                              "No thanks"});
        ad.impressions = {"ret1"};
        ad.clickTrackings = {"ret1"};
        ad.closes = {"ret1"};
        ad.smartRedirect = {true};
        ad.trilliumBrowserEnabled = {true};
        service->setHtmlAd(service->htmlAdPage(ad));
        // The splash ad is an ad of its own, whose reports carry "spl1"; like
        // every page of an ad screen it defines the enableScheme() the screen
        // calls. It covers the screen, as the splash screen before it did.
        simulator::TrilliumHtmlAd splash;
        splash.body = trilliumScenarioAdPageBody({"#131c2b", "Paranormal Pro: tonight only",
                                                  "Every feature unlocked until dawn. Scan the house at full power.",
                                                  "Unlock tonight", chains.chainUrl("redirects", "d=spl1&index=0"),
                                                  "Continue to the app"});
        splash.impressions = {"spl1"};
        splash.clickTrackings = {"spl1"};
        splash.closes = {"spl1"};
        service->setHtmlAdsForPlacement(
            "INAPP_SPLASH", {simulator::Answer::ok(service->htmlAdPage(splash)).header("Content-Type", "text/html")});
    }

    static void labelClickTraffic(ScenarioContext& context) {
        context.recorder().overrideLabeler("trillium", [](const std::string&, const std::string& target) {
            if (target.rfind("/chain/", 0) == 0) return std::string("click walk hop");
            if (target.rfind("/landing/", 0) == 0) return std::string("landing page");
            return std::string();
        });
    }

    static void snapshot(ScenarioContext& context, const Ref<HostAppDelegate>& delegate, const std::string& name) {
        snapshotScenarioWindow(context, delegate->window(), name);
    }

    static void quit(ScenarioContext& context) { quitScenarioApplication(context); }
};

}  // namespace

std::unique_ptr<Scenario> makeTrilliumScenario() { return std::make_unique<TrilliumScenario>(); }
