// The application delegate of the host program: the application's own
// start-up, in the application's order, up to the main run loop: the Trillium
// entry point with its identifiers and its return ad off, the reachability
// host, the analytics switches and session, the Tamarind key, the idle timer;
// and the lifecycle callbacks. Each client call and callback goes to the
// timeline. Main thread.
#pragma once

#include "Trillium/TRADelegateProtocol.h"
#include "host/HostOptions.h"
#include "host/Timeline.h"
#include "platform/net/SCNetworkReachability.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIWindow.h"

class HostAppDelegate : public NSObject, public UIApplicationDelegate {
public:
    Ref<HostAppDelegate> initWithOptions(const HostOptions& options, Timeline* timeline);

    bool applicationDidFinishLaunchingWithOptions(const Ref<UIApplication>& application,
                                                  const Value& launchOptions) override;
    void applicationDidBecomeActive(const Ref<UIApplication>& application) override;
    void applicationWillResignActive(const Ref<UIApplication>& application) override;
    void applicationDidEnterBackground(const Ref<UIApplication>& application) override;
    void applicationWillEnterForeground(const Ref<UIApplication>& application) override;
    void applicationWillTerminate(const Ref<UIApplication>& application) override;
    Ref<UIWindow> window() const override { return window_; }

    // An application that keeps the Trillium return ad (the real one turns it
    // off at launch); set before the launch.
    void setKeepsReturnAd(bool keeps) { keepsReturnAd_ = keeps; }

    // An application that asks for a splash screen in template mode at
    // launch (theme from the options), telling this delegate of its splash
    // ad; set before the launch.
    void setSplashAdDelegate(const Ref<TRADelegateProtocol>& delegate) { splashAdDelegate_ = delegate; }

    // The reachability of the host name the application judges the network on.
    const SCNetworkReachabilityRef& hostReachability() const { return hostReachability_; }

private:
    void call(const std::string& text) { timeline_->add("app", text); }
    // Tells the timeline whether the reachability host is reachable: the
    // network's state, and (resolved on a worker) whether its name resolves.
    void judgeHostReachability();

    HostOptions options_;
    Timeline* timeline_ = nullptr;
    Ref<UIWindow> window_;
    SCNetworkReachabilityRef hostReachability_;
    bool keepsReturnAd_ = false;
    Ref<TRADelegateProtocol> splashAdDelegate_;
};
