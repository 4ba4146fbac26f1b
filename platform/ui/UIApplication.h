// The application object: delegate and launch, life-cycle states and
// notifications, windows, the status bar, interface orientation and rotation,
// opening URLs (scheme rules, a record of what was opened), background tasks;
// with the test seams that drive the life cycle. Also UIApplicationMain.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/NSURL.h"
#include "platform/foundation/Value.h"
#include "platform/ui/UIResponder.h"
#include "platform/ui/UIView.h"

namespace platform {

class UIWindow;
class UIApplication;
class UIViewController;

using UIApplicationState = int64_t;
inline constexpr UIApplicationState UIApplicationStateActive = 0;
inline constexpr UIApplicationState UIApplicationStateInactive = 1;
inline constexpr UIApplicationState UIApplicationStateBackground = 2;

// Interface orientations share the numbers of device orientations 1–4.
using UIInterfaceOrientation = int64_t;
inline constexpr UIInterfaceOrientation UIInterfaceOrientationUnknown = 0;
inline constexpr UIInterfaceOrientation UIInterfaceOrientationPortrait = 1;
inline constexpr UIInterfaceOrientation UIInterfaceOrientationPortraitUpsideDown = 2;
inline constexpr UIInterfaceOrientation UIInterfaceOrientationLandscapeRight = 3;
inline constexpr UIInterfaceOrientation UIInterfaceOrientationLandscapeLeft = 4;

// Masks: 1 << orientation.
using UIInterfaceOrientationMask = uint64_t;
inline constexpr UIInterfaceOrientationMask UIInterfaceOrientationMaskPortrait = 2;
inline constexpr UIInterfaceOrientationMask UIInterfaceOrientationMaskPortraitUpsideDown = 4;
inline constexpr UIInterfaceOrientationMask UIInterfaceOrientationMaskLandscapeRight = 8;
inline constexpr UIInterfaceOrientationMask UIInterfaceOrientationMaskLandscapeLeft = 16;
inline constexpr UIInterfaceOrientationMask UIInterfaceOrientationMaskLandscape = 24;
inline constexpr UIInterfaceOrientationMask UIInterfaceOrientationMaskAllButUpsideDown = 26;
inline constexpr UIInterfaceOrientationMask UIInterfaceOrientationMaskAll = 30;

inline bool UIInterfaceOrientationIsPortrait(UIInterfaceOrientation o) { return o == 1 || o == 2; }
inline bool UIInterfaceOrientationIsLandscape(UIInterfaceOrientation o) { return o == 3 || o == 4; }

using UIStatusBarAnimation = int64_t;
inline constexpr UIStatusBarAnimation UIStatusBarAnimationNone = 0;
inline constexpr UIStatusBarAnimation UIStatusBarAnimationFade = 1;
inline constexpr UIStatusBarAnimation UIStatusBarAnimationSlide = 2;

using UIStatusBarStyle = int64_t;
inline constexpr UIStatusBarStyle UIStatusBarStyleDefault = 0;
inline constexpr UIStatusBarStyle UIStatusBarStyleLightContent = 1;

using UIBackgroundTaskIdentifier = uint64_t;
inline constexpr UIBackgroundTaskIdentifier UIBackgroundTaskInvalid = 0;

inline constexpr const char* UIApplicationDidFinishLaunchingNotification = "UIApplicationDidFinishLaunchingNotification";
inline constexpr const char* UIApplicationDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";
inline constexpr const char* UIApplicationWillResignActiveNotification = "UIApplicationWillResignActiveNotification";
inline constexpr const char* UIApplicationDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* UIApplicationWillEnterForegroundNotification =
    "UIApplicationWillEnterForegroundNotification";
inline constexpr const char* UIApplicationWillTerminateNotification = "UIApplicationWillTerminateNotification";
inline constexpr const char* UIApplicationWillChangeStatusBarOrientationNotification =
    "UIApplicationWillChangeStatusBarOrientationNotification";
inline constexpr const char* UIApplicationDidChangeStatusBarOrientationNotification =
    "UIApplicationDidChangeStatusBarOrientationNotification";
inline constexpr const char* UIApplicationStatusBarOrientationUserInfoKey =
    "UIApplicationStatusBarOrientationUserInfoKey";

// The application's delegate; every method is optional.
class UIApplicationDelegate : public virtual NSObjectProtocol {
public:
    virtual bool applicationDidFinishLaunchingWithOptions(const Ref<UIApplication>& application,
                                                          const Value& launchOptions);
    virtual void applicationDidBecomeActive(const Ref<UIApplication>& application);
    virtual void applicationWillResignActive(const Ref<UIApplication>& application);
    virtual void applicationDidEnterBackground(const Ref<UIApplication>& application);
    virtual void applicationWillEnterForeground(const Ref<UIApplication>& application);
    virtual void applicationWillTerminate(const Ref<UIApplication>& application);
    // Only consulted when listed with PLATFORM_RESPONDS_TO
    // ("application:supportedInterfaceOrientationsForWindow:").
    virtual UIInterfaceOrientationMask applicationSupportedInterfaceOrientationsForWindow(
        const Ref<UIApplication>& application, const Ref<UIWindow>& window);
    // The delegate's window property (null by default).
    virtual Ref<UIWindow> window() const;
};

class UIApplication : public UIResponder {
public:
    static Ref<UIApplication> sharedApplication();

    Ref<UIApplicationDelegate> delegate() const;
    void setDelegate(const Ref<UIApplicationDelegate>& delegate);
    Ref<UIWindow> keyWindow() const;
    // Visible windows by windowLevel, then in the order they became visible.
    std::vector<Ref<UIWindow>> windows() const;
    // Any thread: an atomic snapshot.
    UIApplicationState applicationState() const { return state_.load(); }

    // Any thread. True for http, https, mailto, tel, sms, itms, itms-apps,
    // itms-appss and the profile's openable schemes; false otherwise or for null.
    bool canOpenURL(const Ref<NSURL>& url) const;
    // Any thread. Answers as canOpenURL; when true, records the URL and logs
    // "open URL: <url>".
    bool openURL(const Ref<NSURL>& url);

    // The status bar belongs to the application: only these change it.
    bool isStatusBarHidden() const { return statusBarHidden_; }
    void setStatusBarHidden(bool hidden, UIStatusBarAnimation animation);
    void setStatusBarHidden(bool hidden);
    // (0, 0, screen width, 20) when visible; the zero rectangle when hidden.
    CGRect statusBarFrame() const;
    // The reported orientation: UIInterfaceOrientationUnknown (0) while a
    // test makes it so (simulateStatusBarOrientation(0)), else the interface's.
    UIInterfaceOrientation statusBarOrientation() const {
        return reportsUnknownOrientation_ ? UIInterfaceOrientationUnknown : statusBarOrientation_;
    }
    // The orientation the interface is laid out in (1 to 4), whatever is reported.
    UIInterfaceOrientation interfaceLayoutOrientation() const { return statusBarOrientation_; }
    UIStatusBarStyle statusBarStyle() const { return statusBarStyle_; }
    void setStatusBarStyle(UIStatusBarStyle style);
    void setStatusBarStyle(UIStatusBarStyle style, bool animated);
    bool isIdleTimerDisabled() const { return idleTimerDisabled_; }
    void setIdleTimerDisabled(bool d) { idleTimerDisabled_ = d; }

    // Increasing identifiers from 1; the expiration handler never runs.
    UIBackgroundTaskIdentifier beginBackgroundTaskWithExpirationHandler(Block handler);
    void endBackgroundTask(UIBackgroundTaskIdentifier identifier);

    // Info.plist "UISupportedInterfaceOrientations" ∩ the delegate's answer.
    UIInterfaceOrientationMask supportedInterfaceOrientationsForWindow(const Ref<UIWindow>& window) const;

    bool respondsToSelector(std::string_view selector) const override;

    // ---- seams (main thread; the delegate method first, then the notification) ----
    // Inactive → the delegate's launch method → UIApplicationDidFinishLaunchingNotification
    // → Active and UIApplicationDidBecomeActiveNotification.
    void simulateLaunch(const Ref<UIApplicationDelegate>& delegate, const Value& launchOptions = Value());
    void simulateResignActive();
    // Resigns first when active.
    void simulateEnterBackground();
    void simulateEnterForeground();
    void simulateBecomeActive();
    void simulateTerminate();
    // Rotates the interface to `o` (1 to 4) unconditionally. 0 makes
    // statusBarOrientation() report UIInterfaceOrientationUnknown, as the
    // system does before it knows, while the interface keeps its layout; no
    // notification is posted, and the next rotation ends it.
    void simulateStatusBarOrientation(UIInterfaceOrientation o);
    std::vector<Ref<NSURL>> openedURLs() const;
    void setCanOpenScheme(const std::string& scheme, bool canOpen);

    // ---- used by the platform ----
    // Rotates the interface (notifications, controller hooks, screen and
    // window sizes); nothing when `o` is current or not 1–4.
    void rotateInterfaceTo(UIInterfaceOrientation o);
    // The controller on top of the key window's presentation chain.
    Ref<UIViewController> topmostViewController() const;

private:
    void post(const char* name, const Value& userInfo = Value());
    // The delegate's method (when there is a delegate), then the notification.
    void deliver(void (UIApplicationDelegate::*method)(const Ref<UIApplication>&), const char* notification);

    std::atomic<UIApplicationState> state_{UIApplicationStateInactive};
    Ref<UIApplicationDelegate> delegate_;
    bool statusBarHidden_ = false;
    UIInterfaceOrientation statusBarOrientation_ = UIInterfaceOrientationPortrait;
    bool reportsUnknownOrientation_ = false;
    UIStatusBarStyle statusBarStyle_ = UIStatusBarStyleDefault;
    bool idleTimerDisabled_ = false;
    bool launched_ = false;

    // Guards what other threads may reach: the URL record, the scheme
    // overrides and the background tasks.
    mutable std::mutex mutex_;
    std::vector<Ref<NSURL>> openedURLs_;
    std::set<std::string> addedSchemes_;
    std::set<std::string> removedSchemes_;
    UIBackgroundTaskIdentifier nextTask_ = 1;
    std::set<UIBackgroundTaskIdentifier> tasks_;
};

// The program's entry: initialises the platform on the system clock, makes
// the delegate, launches, runs the main run loop until SIGINT or SIGTERM,
// then posts UIApplicationWillTerminateNotification and shuts down.
int UIApplicationMain(int argc, char** argv, const std::function<Ref<UIApplicationDelegate>()>& makeDelegate);

// Registers the UI classes for NSClassFromString (UIAlertController only from
// system version 8.0).
void registerUIClasses();

}  // namespace platform

using platform::registerUIClasses;
using platform::UIApplication;
using platform::UIApplicationDelegate;
using platform::UIApplicationDidBecomeActiveNotification;
using platform::UIApplicationDidChangeStatusBarOrientationNotification;
using platform::UIApplicationDidEnterBackgroundNotification;
using platform::UIApplicationDidFinishLaunchingNotification;
using platform::UIApplicationMain;
using platform::UIApplicationState;
using platform::UIApplicationStateActive;
using platform::UIApplicationStateBackground;
using platform::UIApplicationStateInactive;
using platform::UIApplicationStatusBarOrientationUserInfoKey;
using platform::UIApplicationWillChangeStatusBarOrientationNotification;
using platform::UIApplicationWillEnterForegroundNotification;
using platform::UIApplicationWillResignActiveNotification;
using platform::UIApplicationWillTerminateNotification;
using platform::UIBackgroundTaskIdentifier;
using platform::UIBackgroundTaskInvalid;
using platform::UIInterfaceOrientation;
using platform::UIInterfaceOrientationIsLandscape;
using platform::UIInterfaceOrientationIsPortrait;
using platform::UIInterfaceOrientationLandscapeLeft;
using platform::UIInterfaceOrientationLandscapeRight;
using platform::UIInterfaceOrientationMask;
using platform::UIInterfaceOrientationMaskAll;
using platform::UIInterfaceOrientationMaskAllButUpsideDown;
using platform::UIInterfaceOrientationMaskLandscape;
using platform::UIInterfaceOrientationMaskLandscapeLeft;
using platform::UIInterfaceOrientationMaskLandscapeRight;
using platform::UIInterfaceOrientationMaskPortrait;
using platform::UIInterfaceOrientationMaskPortraitUpsideDown;
using platform::UIInterfaceOrientationPortrait;
using platform::UIInterfaceOrientationPortraitUpsideDown;
using platform::UIInterfaceOrientationUnknown;
using platform::UIStatusBarAnimation;
using platform::UIStatusBarAnimationFade;
using platform::UIStatusBarAnimationNone;
using platform::UIStatusBarAnimationSlide;
using platform::UIStatusBarStyle;
using platform::UIStatusBarStyleDefault;
using platform::UIStatusBarStyleLightContent;
