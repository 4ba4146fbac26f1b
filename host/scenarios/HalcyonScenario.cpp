// The Halcyon scenario: an application that shows Halcyon ads starts the
// client at launch with its SDK key (HLSdk sharedWithKey:settings:), pointed
// at the Halcyon service through slot overrides. The client initialises on
// its queue 0 and submits the device data; the embedded service refuses the
// first submission (503), so it is retried 10 s later on queue 1, and its
// answer brings the device identifiers and a server setting. The client
// reports its "landing" pixel as it initialises; after launch the user buys
// something and the application tracks a "checkout" event with parameters,
// a pixel with a JSON body through the persisted postback queue. Then a stay
// in the foreground, one in the background, and the quit. The client's own
// log lines go to the timeline. Ad loading and display join as they are built.
#include <memory>
#include <mutex>

#include "halcyon/core/HLConstants.h"
#include "halcyon/core/HLEventService.h"
#include "halcyon/core/HLInternalSdkSettings.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "host/scenarios/Scenarios.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"
#include "simulator/HalcyonService.h"

namespace {

constexpr double kHalcyonForegroundStay = 30;
constexpr double kHalcyonBackgroundStay = 120;
constexpr double kHalcyonStayAfterReturn = 10;
// What the embedded service's device answer sets on the client.
constexpr const char* kHalcyonServerSettings = R"({"ad_refresh_seconds": 90})";

// The client's log lines, as they come (any queue), to the timeline.
class HalcyonTimelineListener : public NSObject, public HLLogListenerDelegate {
public:
    explicit HalcyonTimelineListener(Timeline* timeline) : timeline_(timeline) {}
    void didLog(const std::string& line) override { timeline_->add("log", "Halcyon " + line); }

private:
    Timeline* timeline_;
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
            settings->putString(base + "api/", kHLSlotApiEndpoint);
            settings->putString(base + "ads/", kHLSlotAdServerEndpoint);
            settings->putString(base + "pix?", kHLSlotEventTrackingEndpoint);
            settings->putString(base, kHLSlotResourceCachePrefix);
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
        if (simulator::HalcyonService* embedded = context.embeddedHalcyon()) {
            embedded->scriptStatuses(simulator::HalcyonService::kDevicePath, {503});
            embedded->setSettings(std::string(kHalcyonServerSettings));
            timeline.add("host", "Halcyon service: the first device submission is answered 503; its answer carries " +
                                     std::string(kHalcyonServerSettings));
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
        if (!context.stay(kHalcyonForegroundStay)) return quitScenarioApplication(context);
        tell(context, delegate, "after the stay in the foreground");

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
