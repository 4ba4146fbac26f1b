#include "host/HostAppDelegate.h"

#include <netdb.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "Trillium/TRATrilliumSDK.h"
#include "Trillium/display/TRASplashPreferences.h"
#include "analytics/Orrery.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIViewController.h"
#include "tamarind/TamarindAdRegistration.h"

namespace {

// Real seconds the name's resolution may take at launch.
constexpr double kHostNameResolutionSeconds = 2;

// Whether the name resolves to an address in time. (The platform's
// reachability judges the network's state alone, whatever the name.) A
// resolver that takes longer is left to finish on its own thread.
bool hostNameResolves(const std::string& name) {
    struct Lookup {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool resolved = false;
    };
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, name] {
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        bool resolved = ::getaddrinfo(name.c_str(), nullptr, &hints, &found) == 0 && found;
        if (found) ::freeaddrinfo(found);
        std::scoped_lock lock(lookup->mutex);
        lookup->finished = true;
        lookup->resolved = resolved;
        lookup->done.notify_all();
    }).detach();
    std::unique_lock lock(lookup->mutex);
    lookup->done.wait_for(lock, std::chrono::duration<double>(kHostNameResolutionSeconds), [&] { return lookup->finished; });
    return lookup->resolved;
}

}  // namespace

Ref<HostAppDelegate> HostAppDelegate::initWithOptions(const HostOptions& options, Timeline* timeline) {
    options_ = options;
    timeline_ = timeline;
    return self<HostAppDelegate>();
}

bool HostAppDelegate::applicationDidFinishLaunchingWithOptions(const Ref<UIApplication>& application, const Value&) {
    timeline_->add("delegate", "application:didFinishLaunchingWithOptions:");

    // The Trillium entry point first: making it brings its lifecycle manager
    // into being, which must hear the launch notification that follows.
    auto trillium = TRATrilliumSDK::sharedInstance();
    call("TRATrilliumSDK sharedInstance");
    trillium->setAppID(options_.trilliumAppId);
    call("TRATrilliumSDK setAppID: " + options_.trilliumAppId);
    trillium->setDevID(options_.trilliumDevId);
    call("TRATrilliumSDK setDevID: " + options_.trilliumDevId);
    if (!keepsReturnAd_) {
        trillium->disableReturnAd();
        call("TRATrilliumSDK disableReturnAd");
    }
    if (splashAdDelegate_) {
        // Asked before this method returns: the splash screen goes up at the launch notification.
        auto splash = NSObject::alloc<TRASplashPreferences>()->init();
        splash->setSplashMode(TRASplashPreferences::SplashModeTemplate);
        if (options_.splashTheme) splash->setSplashTemplateTheme(*options_.splashTheme);
        splash->setSplashAdDisplayTime(10);
        trillium->showSplashAdWithDelegate(splashAdDelegate_, splash);
        call(NSString::stringWithFormat("TRATrilliumSDK showSplashAdWithDelegate:withPreferences: (template, theme %lld, "
                                        "ad shown for %lld s)",
                                        splash->splashTemplateTheme(), splash->splashAdDisplayTime()));
    }

    hostReachability_ = SCNetworkReachabilityCreateWithName(options_.reachabilityHost);
    SCNetworkReachabilityFlags flags = 0;
    bool known = hostReachability_ && SCNetworkReachabilityGetFlags(hostReachability_, &flags);
    std::string judged = !known || !(flags & kSCNetworkReachabilityFlagsReachable) ? " (not reachable)"
                         : hostNameResolves(options_.reachabilityHost)               ? " (reachable)"
                                                                                     : " (not reachable: the name does not resolve)";
    call("reachability host " + options_.reachabilityHost + judged);

    Orrery::setCrashReportingEnabled(true);
    call("Orrery setCrashReportingEnabled: YES");
    Orrery::setBackgroundSessionEnabled(false);
    call("Orrery setBackgroundSessionEnabled: NO");
    // Relay, when the scenario switches it on, is set up just before this
    // call: the client reads its switch when the session starts.
    Orrery::startSession(options_.analyticsKey);
    call("Orrery startSession: " + options_.analyticsKey);

    bool registered = TamarindAdRegistration::sharedRegistration()->setApplicationId(options_.tamarindKey);
    call("TamarindAdRegistration setApplicationId: " + options_.tamarindKey + (registered ? "" : " (refused)"));

    application->setIdleTimerDisabled(true);
    call("UIApplication setIdleTimerDisabled: YES");

    // The application's root screen, as its storyboard gives it.
    window_ = UIWindow::alloc();
    window_->initWithFrame(UIScreen::mainScreen()->bounds());
    window_->setRootViewController(UIViewController::alloc()->init());
    window_->makeKeyAndVisible();
    return true;
}

void HostAppDelegate::applicationDidBecomeActive(const Ref<UIApplication>&) {
    timeline_->add("delegate", "applicationDidBecomeActive:");
}
void HostAppDelegate::applicationWillResignActive(const Ref<UIApplication>&) {
    timeline_->add("delegate", "applicationWillResignActive:");
}
void HostAppDelegate::applicationDidEnterBackground(const Ref<UIApplication>&) {
    timeline_->add("delegate", "applicationDidEnterBackground:");
}
void HostAppDelegate::applicationWillEnterForeground(const Ref<UIApplication>&) {
    timeline_->add("delegate", "applicationWillEnterForeground:");
}
void HostAppDelegate::applicationWillTerminate(const Ref<UIApplication>&) {
    timeline_->add("delegate", "applicationWillTerminate:");
}
