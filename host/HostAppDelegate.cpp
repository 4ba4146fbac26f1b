#include "host/HostAppDelegate.h"

#include <netdb.h>

#include "Trillium/TRATrilliumSDK.h"
#include "Trillium/display/TRASplashPreferences.h"
#include "analytics/Orrery.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIViewController.h"
#include "tamarind/TamarindAdRegistration.h"

namespace {

// Whether the name resolves to an address. (The platform's reachability
// judges the network's state alone, whatever the name.)
bool hostNameResolves(const std::string& name) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    bool resolved = ::getaddrinfo(name.c_str(), nullptr, &hints, &found) == 0 && found;
    if (found) ::freeaddrinfo(found);
    return resolved;
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
    call("SCNetworkReachabilityCreateWithName: " + options_.reachabilityHost);
    judgeHostReachability();

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

void HostAppDelegate::judgeHostReachability() {
    SCNetworkReachabilityFlags flags = 0;
    bool known = hostReachability_ && SCNetworkReachabilityGetFlags(hostReachability_, &flags);
    const std::string name = options_.reachabilityHost;
    if (!known || !(flags & kSCNetworkReachabilityFlagsReachable)) {
        call("reachability host " + name + " (not reachable)");
        return;
    }
    // Resolved off the main thread, so that the launch never waits on it;
    // told on the main thread.
    Weak<HostAppDelegate> weak = self<HostAppDelegate>();
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0), [weak, name] {
        bool resolves = hostNameResolves(name);
        dispatch_async(dispatch_get_main_queue(), [weak, name, resolves] {
            if (auto delegate = weak.lock())
                delegate->call("reachability host " + name +
                               (resolves ? " (reachable)" : " (not reachable: the name does not resolve)"));
        });
    });
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
