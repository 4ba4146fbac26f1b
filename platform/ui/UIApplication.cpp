#include "platform/ui/UIApplication.h"

#include <algorithm>
#include <cctype>
#include <csignal>

#include "platform/foundation/DeviceProfile.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/Platform.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSRunLoop.h"
#include "platform/ui/MainThreadOnly.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"

namespace platform {

// ---- the delegate's defaults: what "not sent" does ----------------------------------

bool UIApplicationDelegate::applicationDidFinishLaunchingWithOptions(const Ref<UIApplication>&, const Value&) {
    return true;
}
void UIApplicationDelegate::applicationDidBecomeActive(const Ref<UIApplication>&) {}
void UIApplicationDelegate::applicationWillResignActive(const Ref<UIApplication>&) {}
void UIApplicationDelegate::applicationDidEnterBackground(const Ref<UIApplication>&) {}
void UIApplicationDelegate::applicationWillEnterForeground(const Ref<UIApplication>&) {}
void UIApplicationDelegate::applicationWillTerminate(const Ref<UIApplication>&) {}
UIInterfaceOrientationMask UIApplicationDelegate::applicationSupportedInterfaceOrientationsForWindow(
    const Ref<UIApplication>&, const Ref<UIWindow>&) {
    return UIInterfaceOrientationMaskAll;
}
Ref<UIWindow> UIApplicationDelegate::window() const { return nullptr; }

// ---- the application ----------------------------------------------------------------

Ref<UIApplication> UIApplication::sharedApplication() {
    // Never destroyed: windows and controllers may be in use during static teardown.
    static Ref<UIApplication>* app = new Ref<UIApplication>(std::make_shared<UIApplication>());
    return *app;
}

Ref<UIApplicationDelegate> UIApplication::delegate() const { return delegate_; }

void UIApplication::setDelegate(const Ref<UIApplicationDelegate>& delegate) {
    MainThreadOnly mainThreadOnly("UIApplication::setDelegate");
    delegate_ = delegate;
}

Ref<UIWindow> UIApplication::keyWindow() const { return UIWindow::keyWindow(); }
std::vector<Ref<UIWindow>> UIApplication::windows() const { return UIWindow::visibleWindows(); }

void UIApplication::post(const char* name, const Value& userInfo) {
    NSNotificationCenter::defaultCenter()->postNotificationName(name, self<UIApplication>(), userInfo);
}

// ---- URLs ------------------------------------------------------------------------------

namespace {
std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
}  // namespace

bool UIApplication::canOpenURL(const Ref<NSURL>& url) const {
    if (!url) return false;
    std::string scheme = lower(url->scheme());
    if (scheme.empty()) return false;
    {
        std::scoped_lock lock(mutex_);
        if (removedSchemes_.count(scheme)) return false;
        if (addedSchemes_.count(scheme)) return true;
    }
    static const std::set<std::string> standard = {"http", "https", "mailto", "tel", "sms",
                                                   "itms", "itms-apps", "itms-appss"};
    if (standard.count(scheme)) return true;
    for (const std::string& s : DeviceProfile::current().openableSchemes)
        if (lower(s) == scheme) return true;
    return false;
}

bool UIApplication::openURL(const Ref<NSURL>& url) {
    if (!canOpenURL(url)) return false;
    {
        std::scoped_lock lock(mutex_);
        openedURLs_.push_back(url);
    }
    logInfo("open URL: " + urlForLog(url->absoluteString()));
    return true;
}

std::vector<Ref<NSURL>> UIApplication::openedURLs() const {
    std::scoped_lock lock(mutex_);
    return openedURLs_;
}

void UIApplication::setCanOpenScheme(const std::string& scheme, bool canOpen) {
    std::scoped_lock lock(mutex_);
    std::string s = lower(scheme);
    (canOpen ? addedSchemes_ : removedSchemes_).insert(s);
    (canOpen ? removedSchemes_ : addedSchemes_).erase(s);
}

// ---- status bar ------------------------------------------------------------------------

void UIApplication::setStatusBarHidden(bool hidden, UIStatusBarAnimation) { setStatusBarHidden(hidden); }

void UIApplication::setStatusBarHidden(bool hidden) {
    MainThreadOnly mainThreadOnly("UIApplication::setStatusBarHidden");
    statusBarHidden_ = hidden;
}

CGRect UIApplication::statusBarFrame() const {
    if (statusBarHidden_) return CGRectZero;
    return CGRectMake(0, 0, UIScreen::mainScreen()->bounds().size.width, 20);
}

void UIApplication::setStatusBarStyle(UIStatusBarStyle style) {
    MainThreadOnly mainThreadOnly("UIApplication::setStatusBarStyle");
    statusBarStyle_ = style;
}

void UIApplication::setStatusBarStyle(UIStatusBarStyle style, bool) { setStatusBarStyle(style); }

// ---- background tasks ---------------------------------------------------------------------

UIBackgroundTaskIdentifier UIApplication::beginBackgroundTaskWithExpirationHandler(Block) {
    std::scoped_lock lock(mutex_);
    UIBackgroundTaskIdentifier id = nextTask_++;
    tasks_.insert(id);
    return id;
}

void UIApplication::endBackgroundTask(UIBackgroundTaskIdentifier identifier) {
    std::scoped_lock lock(mutex_);
    if (!tasks_.erase(identifier) && identifier != UIBackgroundTaskInvalid)
        logError("UIApplication::endBackgroundTask: unknown background task " + std::to_string(identifier));
}

// ---- orientations ---------------------------------------------------------------------------

UIInterfaceOrientationMask UIApplication::supportedInterfaceOrientationsForWindow(const Ref<UIWindow>& window) const {
    bool tablet = DeviceProfile::current().idiom == 1;
    Value list;
    if (tablet) list = NSBundle::mainBundle()->objectForInfoDictionaryKey("UISupportedInterfaceOrientations~ipad");
    if (!list.isArray()) list = NSBundle::mainBundle()->objectForInfoDictionaryKey("UISupportedInterfaceOrientations");
    UIInterfaceOrientationMask mask = 0;
    if (const auto* items = list.array()) {
        for (const Value& item : *items) {
            std::string name = item.stringValue();
            if (name == "UIInterfaceOrientationPortrait") mask |= UIInterfaceOrientationMaskPortrait;
            if (name == "UIInterfaceOrientationPortraitUpsideDown") mask |= UIInterfaceOrientationMaskPortraitUpsideDown;
            if (name == "UIInterfaceOrientationLandscapeLeft") mask |= UIInterfaceOrientationMaskLandscapeLeft;
            if (name == "UIInterfaceOrientationLandscapeRight") mask |= UIInterfaceOrientationMaskLandscapeRight;
        }
    }
    if (mask == 0) mask = tablet ? UIInterfaceOrientationMaskAll : UIInterfaceOrientationMaskAllButUpsideDown;
    if (delegate_ && delegate_->respondsToSelector("application:supportedInterfaceOrientationsForWindow:")) {
        auto me = std::const_pointer_cast<UIApplication>(self<UIApplication>());
        UIInterfaceOrientationMask answer = mask;
        runtime::callAtBoundary(
            [&] { answer = delegate_->applicationSupportedInterfaceOrientationsForWindow(me, window); },
            "application delegate");
        mask &= answer;
    }
    return mask;
}

bool UIApplication::respondsToSelector(std::string_view selector) const {
    static constexpr std::string_view known[] = {
        "setStatusBarHidden:withAnimation:", "setStatusBarHidden:", "isStatusBarHidden", "statusBarFrame",
        "statusBarOrientation", "setStatusBarStyle:", "setStatusBarStyle:animated:", "statusBarStyle",
        "openURL:", "canOpenURL:", "keyWindow", "windows", "delegate", "applicationState",
        "beginBackgroundTaskWithExpirationHandler:", "endBackgroundTask:",
        "supportedInterfaceOrientationsForWindow:", "setIdleTimerDisabled:", "isIdleTimerDisabled"};
    for (std::string_view s : known)
        if (s == selector) return true;
    return UIResponder::respondsToSelector(selector);
}

Ref<UIViewController> UIApplication::topmostViewController() const {
    auto window = keyWindow();
    auto c = window ? window->rootViewController() : nullptr;
    while (c && c->presentedViewController()) c = c->presentedViewController();
    return c;
}

namespace {
// The root controller of each visible window and the chain it presents.
std::vector<Ref<UIViewController>> visibleControllers() {
    std::vector<Ref<UIViewController>> list;
    for (const auto& w : UIWindow::visibleWindows())
        for (auto c = w->rootViewController(); c; c = c->presentedViewController()) list.push_back(c);
    return list;
}
}  // namespace

void UIApplication::rotateInterfaceTo(UIInterfaceOrientation o) {
    MainThreadOnly mainThreadOnly("UIApplication::rotateInterfaceTo");
    if (o < UIInterfaceOrientationPortrait || o > UIInterfaceOrientationLandscapeLeft) return;
    reportsUnknownOrientation_ = false;
    if (o == statusBarOrientation_) return;
    Ref<UIApplication> keep = self<UIApplication>();
    UIInterfaceOrientation old = statusBarOrientation_;
    post(UIApplicationWillChangeStatusBarOrientationNotification,
         Value::dictionary({{UIApplicationStatusBarOrientationUserInfoKey, int64_t(o)}}));
    auto controllers = visibleControllers();
    bool modern = systemVersionAtLeast(8, 0);
    if (!modern)
        for (const auto& c : controllers)
            runtime::callAtBoundary([&] { c->willRotateToInterfaceOrientation(o, 0.3); }, "rotation");
    auto oldTraits = UITraitCollection::current();
    statusBarOrientation_ = o;
    if (modern) {
        auto traits = UITraitCollection::current();
        CGRect screen = UIScreen::mainScreen()->bounds();
        auto coordinator = UIViewControllerTransitionCoordinator::alloc();
        coordinator->setAnimated(true);
        coordinator->beginDeferring();
        for (const auto& c : controllers) {
            if (!traits->isEqual(*oldTraits))
                runtime::callAtBoundary([&] { c->willTransitionToTraitCollection(traits, coordinator); }, "rotation");
            runtime::callAtBoundary([&] { c->viewWillTransitionToSize(screen.size, coordinator); }, "rotation");
        }
        // Windows take the new screen size; root and presented views follow
        // their masks.
        for (const auto& w : UIWindow::visibleWindows()) w->setFrame(screen);
        coordinator->runDeferred();
    } else {
        for (const auto& c : controllers)
            runtime::callAtBoundary([&] { c->didRotateFromInterfaceOrientation(old); }, "rotation");
    }
    post(UIApplicationDidChangeStatusBarOrientationNotification,
         Value::dictionary({{UIApplicationStatusBarOrientationUserInfoKey, int64_t(old)}}));
}

// ---- life cycle -------------------------------------------------------------------------------

void UIApplication::simulateLaunch(const Ref<UIApplicationDelegate>& delegate, const Value& launchOptions) {
    MainThreadOnly mainThreadOnly("UIApplication::simulateLaunch");
    if (launched_) {
        logError("UIApplication::simulateLaunch: the application has already launched");
        return;
    }
    launched_ = true;
    Ref<UIApplication> me = self<UIApplication>();
    delegate_ = delegate;
    state_ = UIApplicationStateInactive;
    if (delegate_)
        runtime::callAtBoundary([&] { delegate_->applicationDidFinishLaunchingWithOptions(me, launchOptions); },
                                "application delegate");
    post(UIApplicationDidFinishLaunchingNotification, launchOptions);
    simulateBecomeActive();
}

void UIApplication::deliver(void (UIApplicationDelegate::*method)(const Ref<UIApplication>&), const char* notification) {
    Ref<UIApplication> me = self<UIApplication>();
    if (delegate_) runtime::callAtBoundary([&] { ((*delegate_).*method)(me); }, "application delegate");
    post(notification);
}

void UIApplication::simulateResignActive() {
    MainThreadOnly mainThreadOnly("UIApplication::simulateResignActive");
    deliver(&UIApplicationDelegate::applicationWillResignActive, UIApplicationWillResignActiveNotification);
    state_ = UIApplicationStateInactive;
}

void UIApplication::simulateEnterBackground() {
    MainThreadOnly mainThreadOnly("UIApplication::simulateEnterBackground");
    if (state_ == UIApplicationStateActive) simulateResignActive();
    state_ = UIApplicationStateBackground;
    deliver(&UIApplicationDelegate::applicationDidEnterBackground, UIApplicationDidEnterBackgroundNotification);
}

void UIApplication::simulateEnterForeground() {
    MainThreadOnly mainThreadOnly("UIApplication::simulateEnterForeground");
    deliver(&UIApplicationDelegate::applicationWillEnterForeground, UIApplicationWillEnterForegroundNotification);
    state_ = UIApplicationStateInactive;
}

void UIApplication::simulateBecomeActive() {
    MainThreadOnly mainThreadOnly("UIApplication::simulateBecomeActive");
    state_ = UIApplicationStateActive;
    deliver(&UIApplicationDelegate::applicationDidBecomeActive, UIApplicationDidBecomeActiveNotification);
}

void UIApplication::simulateTerminate() {
    MainThreadOnly mainThreadOnly("UIApplication::simulateTerminate");
    deliver(&UIApplicationDelegate::applicationWillTerminate, UIApplicationWillTerminateNotification);
}

void UIApplication::simulateStatusBarOrientation(UIInterfaceOrientation o) {
    MainThreadOnly mainThreadOnly("UIApplication::simulateStatusBarOrientation");
    if (o == UIInterfaceOrientationUnknown) reportsUnknownOrientation_ = true;
    else rotateInterfaceTo(o);
}

// ---- the program's entry ------------------------------------------------------------------------

namespace {
void stopOnSignal(int) { runtime::stopMainRunLoop(); }
}  // namespace

int UIApplicationMain(int, char**, const std::function<Ref<UIApplicationDelegate>()>& makeDelegate) {
    Platform::addClassRegistration(registerUIClasses);
    PlatformOptions options;
    options.clock = PlatformOptions::ClockKind::System;
    Platform::initialize(options);
    std::signal(SIGINT, stopOnSignal);
    std::signal(SIGTERM, stopOnSignal);
    Ref<UIApplicationDelegate> delegate;
    if (makeDelegate) runtime::callAtBoundary([&] { delegate = makeDelegate(); }, "UIApplicationMain");
    auto app = UIApplication::sharedApplication();
    app->simulateLaunch(delegate, Value());
    NSRunLoop::mainRunLoop()->run();
    app->simulateTerminate();
    Platform::shutdown();
    return 0;
}

}  // namespace platform
