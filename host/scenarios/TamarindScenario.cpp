// The Tamarind scenario: an application that shows Tamarind template
// interstitials, against the Tamarind service (the embedded simulator, or
// --tamarind-url), behind the recorder. At launch it registers its
// application key; then a modal interstitial is loaded, presented over the
// root screen (its creative calls MRAID and reports what it hears through
// its console, which joins the timeline), snapshotted
// (snapshots/tamarind-modal-interstitial.png), and closed with the native
// close button; then a modeless interstitial is loaded into a view of the
// root screen, presented, snapshotted
// (snapshots/tamarind-modeless-interstitial.png) and hidden. Each controller
// call and delegate callback is told on the timeline, with the client's log
// lines.
#include <memory>
#include <string>

#include "host/scenarios/Scenarios.h"
#include "platform/store/StoreClasses.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"
#include "simulator/TamarindService.h"
#include "tamarind/TMATModalInterstitialController.h"
#include "tamarind/TMATModelessInterstitialController.h"
#include "tamarind/TMAdConfiguration.h"
#include "tamarind/TMLog.h"
#include "tamarind/TamarindAdOptions.h"
#include "tamarind/TamarindAdRegistration.h"

namespace {

constexpr const char* kTamarindScenarioSlot = "paranormal-sightings";
// Real seconds a load may take on loopback.
constexpr double kTamarindScenarioLoadSeconds = 10;
constexpr double kTamarindScenarioShowSeconds = 3;

// The creatives: each says through its console what MRAID tells it.
constexpr const char* kTamarindScenarioCreativeScript =
    "<script>"
    "function say(text) { console.log('creative: ' + text); }"
    "say('scripts run: state ' + mraid.getState() + ', placement ' + mraid.getPlacementType());"
    "['ready', 'stateChange', 'viewableChange', 'sizeChange', 'error'].forEach(function (name) {"
    "  mraid.addEventListener(name, function () {"
    "    say('mraid ' + name + ' ' + JSON.stringify(Array.prototype.slice.call(arguments))); });"
    "});"
    "mraid.addEventListener('ready', function () {"
    "  say('supports sms ' + mraid.supports('sms') + ', screen ' + JSON.stringify(mraid.getScreenSize()) +"
    "      ', max size ' + JSON.stringify(mraid.getMaxSize()));"
    "  mraid.expand();"
    "});"
    "</script>";

// The heading keeps clear of the top right corner, where the modal
// interstitial's native close button's 50-point area lies 8 points in from
// the edges (the modeless one shows none).
std::string tamarindScenarioCreative(const std::string& title) {
    return "<div style=\"background:#2b1a4a;color:#e8e0ff;height:100%;padding:12px 16px\">"
           "<h1 style=\"margin-right:50px\">" +
           title + "</h1><p>Spectral readings near you.</p></div>" + kTamarindScenarioCreativeScript;
}

// The application's ad object for one controller: tells the timeline each
// callback; the root screen presents what the creative opens.
class TamarindScenarioAd : public NSObject, public TMATBaseAdControllerDelegate {
public:
    TamarindScenarioAd(Timeline* timeline, std::string name) : timeline_(timeline), name_(std::move(name)) {}

    void controllerDidLoadAd() override {
        tell("controllerDidLoadAd");
        loaded = true;
    }
    void controllerFailedToLoadAd(Ref<NSError> error) override {
        tell("controllerFailedToLoadAd: " + (error ? error->domain() + " " + std::to_string(error->code()) + " " +
                                                         error->localizedDescription()
                                                   : std::string("(no error)")));
        failed = true;
    }
    void adHasExpired() override { tell("adHasExpired"); }
    void controllerWillPresentAd() override { tell("controllerWillPresentAd"); }
    void controllerDidPresentAd() override {
        tell("controllerDidPresentAd");
        presented = true;
    }
    void controllerWillDismissAd() override {
        tell("controllerWillDismissAd");
        presented = false;
    }
    void controllerDidDismissAd() override { tell("controllerDidDismissAd"); }
    Ref<UIViewController> viewControllerForPresentingModalView() override {
        auto window = UIApplication::sharedApplication()->keyWindow();
        return window ? window->rootViewController() : nullptr;
    }
    PLATFORM_RESPONDS_TO("viewControllerForPresentingModalView")

    bool finished() const { return loaded || failed; }
    const std::string& name() const { return name_; }
    bool loaded = false;
    bool failed = false;
    bool presented = false;

private:
    void tell(const std::string& callback) { timeline_->add("delegate", name_ + " " + callback); }

    Timeline* timeline_;
    std::string name_;
};

// At launch: the application key, then the root screen.
class TamarindScenarioAppDelegate : public NSObject, public UIApplicationDelegate {
public:
    TamarindScenarioAppDelegate(const HostOptions& options, Timeline* timeline) : options_(options), timeline_(timeline) {}

    bool applicationDidFinishLaunchingWithOptions(const Ref<UIApplication>&, const Value&) override {
        timeline_->add("delegate", "application:didFinishLaunchingWithOptions:");
        bool registered = TamarindAdRegistration::sharedRegistration()->setApplicationId(options_.tamarindKey);
        timeline_->add("app", "TamarindAdRegistration setApplicationId: " + options_.tamarindKey +
                                  (registered ? "" : " (refused)"));
        window_ = UIWindow::alloc();
        window_->initWithFrame(UIScreen::mainScreen()->bounds());
        auto root = UIViewController::alloc()->init();
        root->view()->setBackgroundColor(UIColor::colorWithRed(0.08f, 0.1f, 0.14f, 1));
        window_->setRootViewController(root);
        window_->makeKeyAndVisible();
        return true;
    }
    void applicationWillTerminate(const Ref<UIApplication>&) override {
        timeline_->add("delegate", "applicationWillTerminate:");
    }
    Ref<UIWindow> window() const override { return window_; }

private:
    HostOptions options_;
    Timeline* timeline_;
    Ref<UIWindow> window_;
};

class TamarindScenario : public Scenario {
public:
    void play(ScenarioContext& context) override {
        Timeline& timeline = context.timeline();
        const ScenarioService* tamarind = context.service("tamarind");
        if (!tamarind) return;
        if (simulator::TamarindService* service = context.embeddedTamarind()) {
            service->setAdAnswers({service->adAnswer(simulator::TamarindAd{
                                       .creative = tamarindScenarioCreative("Haunted House Tours"), .id = "modal-1"}),
                                   service->adAnswer(simulator::TamarindAd{
                                       .creative = tamarindScenarioCreative("Ghost Detector Pro"), .id = "modeless-1"})});
        } else {
            timeline.add("host", "Tamarind service given by URL: its own configuration and ads are used");
        }

        // Store links open the store sheet rather than the system.
        platform::registerStoreClasses();
        TMLog::setLogLevel(TMLogLevel::Info);
        TMAdConfiguration::sharedAMAdConfiguration()->setConfigurationURL(tamarind->clientUrl + "msdk/getConfig");

        auto app = UIApplication::sharedApplication();
        auto appDelegate = std::make_shared<TamarindScenarioAppDelegate>(context.options(), &timeline);
        timeline.add("host", "launch");
        app->simulateLaunch(appDelegate);
        if (!context.stay(1)) return quitScenarioApplication(context);

        if (showModal(context) && showModeless(context)) context.stay(1);
        quitScenarioApplication(context);
    }

private:
    // Loads an interstitial for the slot and waits for the outcome; true when loaded.
    static bool load(ScenarioContext& context, const Ref<TMATBaseAdController>& controller,
                     const TamarindScenarioAd& ad, const std::string& where) {
        context.timeline().add("app", ad.name() + " loadWithOptions:size:forAd: (interstitial, slot " +
                                          kTamarindScenarioSlot + ")" + where);
        auto options = TamarindAdOptions::options();
        options->advancedOptions().set("slotId", Value(kTamarindScenarioSlot));
        controller->loadWithOptions(options, "interstitial", nullptr);
        context.waitUntil([&] { return ad.finished(); }, kTamarindScenarioLoadSeconds);
        return ad.loaded;
    }

    // False when the run is to end.
    static bool showModal(ScenarioContext& context) {
        Timeline& timeline = context.timeline();
        auto ad = std::make_shared<TamarindScenarioAd>(&timeline, "modal");
        auto controller = TMATModalInterstitialController::adControllerWithDelegate(ad);
        if (!load(context, controller, *ad, "")) return !context.quitRequested();
        bool ready = controller->isReady();
        timeline.add("app", std::string("modal isReady: ") + (ready ? "YES" : "NO"));
        auto window = UIApplication::sharedApplication()->keyWindow();
        timeline.add("app", "modal presentFromViewController: (the root screen)");
        controller->presentFromViewController(window->rootViewController());
        if (!context.stay(kTamarindScenarioShowSeconds)) return false;
        auto shown = controller->interstitialAdViewController();
        snapshotScenarioScreen(context, window, ad->presented && shown ? shown->view() : nullptr,
                               "the modal interstitial", "tamarind-modal-interstitial.png");

        auto button = shown ? shown->interstitialAdContainer()->closeButton() : nullptr;
        if (button) {
            timeline.add("host", "the user taps the close button");
            window->simulateTap(button);
        }
        return context.stay(1);
    }

    static bool showModeless(ScenarioContext& context) {
        Timeline& timeline = context.timeline();
        auto root = UIApplication::sharedApplication()->keyWindow()->rootViewController()->view();
        auto containerView = UIView::alloc();
        containerView->initWithFrame(root->bounds());
        root->addSubview(containerView);
        auto ad = std::make_shared<TamarindScenarioAd>(&timeline, "modeless");
        auto controller = TMATModelessInterstitialController::adControllerWithDelegate(ad, containerView);
        if (!load(context, controller, *ad, " into a view of the root screen")) return !context.quitRequested();
        bool presented = controller->onPresented();
        timeline.add("app", std::string("modeless onPresented: ") + (presented ? "YES" : "NO"));
        if (!context.stay(kTamarindScenarioShowSeconds)) return false;
        snapshotScenarioScreen(context, UIApplication::sharedApplication()->keyWindow(),
                               presented ? controller->interstitialAdContainer() : nullptr,
                               "the modeless interstitial", "tamarind-modeless-interstitial.png");
        timeline.add("app", "modeless onHidden");
        controller->onHidden();
        containerView->removeFromSuperview();
        return true;
    }
};

}  // namespace

std::unique_ptr<Scenario> makeTamarindScenario() { return std::make_unique<TamarindScenario>(); }
