// The application: launch and life-cycle order, URLs, status bar, rotation,
// device orientation, background tasks; alerts and their seams.
#include <thread>

#include "UITestFixture.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSClassRegistry.h"
#include "platform/foundation/NSNotificationCenter.h"

namespace platform::testing {
namespace {

using ApplicationTest = UITestFixture;

// Collects notification names in order.
struct Listener {
    std::vector<std::string> names;
    std::vector<Value> userInfos;
    std::vector<Ref<NSObject>> tokens;
    void listen(const std::string& name) {
        tokens.push_back(NSNotificationCenter::defaultCenter()->addObserverForName(
            name, nullptr, nullptr, [this](const NSNotification& n) {
                names.push_back(n.name);
                userInfos.push_back(n.userInfo);
            }));
    }
    ~Listener() {
        for (const auto& t : tokens) NSNotificationCenter::defaultCenter()->removeObserver(t.get());
    }
};

class Delegate : public UIApplicationDelegate, public NSObject {
public:
    std::vector<std::string>* log = nullptr;
    UIInterfaceOrientationMask mask = UIInterfaceOrientationMaskAll;
    PLATFORM_RESPONDS_TO("application:supportedInterfaceOrientationsForWindow:")
    bool applicationDidFinishLaunchingWithOptions(const Ref<UIApplication>& app, const Value&) override {
        log->push_back(std::string("didFinishLaunching state=") + std::to_string(app->applicationState()));
        // Registering here still hears the launch notification.
        token = NSNotificationCenter::defaultCenter()->addObserverForName(
            UIApplicationDidFinishLaunchingNotification, nullptr, nullptr,
            [this](const NSNotification&) { log->push_back("observer: launched"); });
        return true;
    }
    void applicationDidBecomeActive(const Ref<UIApplication>&) override { log->push_back("didBecomeActive"); }
    void applicationWillResignActive(const Ref<UIApplication>&) override { log->push_back("willResignActive"); }
    void applicationDidEnterBackground(const Ref<UIApplication>&) override { log->push_back("didEnterBackground"); }
    void applicationWillEnterForeground(const Ref<UIApplication>&) override { log->push_back("willEnterForeground"); }
    void applicationWillTerminate(const Ref<UIApplication>&) override { log->push_back("willTerminate"); }
    UIInterfaceOrientationMask applicationSupportedInterfaceOrientationsForWindow(const Ref<UIApplication>&,
                                                                                  const Ref<UIWindow>&) override {
        return mask;
    }
    ~Delegate() override {
        if (token) NSNotificationCenter::defaultCenter()->removeObserver(token.get());
    }
    Ref<NSObject> token;
};

TEST_F(ApplicationTest, LaunchCallsTheDelegateThenNotifiesThenBecomesActive) {
    std::vector<std::string> log;
    Listener listener;
    for (const char* n : {UIApplicationDidFinishLaunchingNotification, UIApplicationDidBecomeActiveNotification,
                          UIApplicationWillResignActiveNotification, UIApplicationDidEnterBackgroundNotification,
                          UIApplicationWillEnterForegroundNotification, UIApplicationWillTerminateNotification})
        listener.listen(n);
    auto delegate = std::make_shared<Delegate>();
    delegate->log = &log;
    auto app = UIApplication::sharedApplication();
    app->simulateLaunch(delegate);
    EXPECT_EQ(log, (std::vector<std::string>{"didFinishLaunching state=1", "observer: launched", "didBecomeActive"}));
    EXPECT_EQ(listener.names, (std::vector<std::string>{UIApplicationDidFinishLaunchingNotification,
                                                        UIApplicationDidBecomeActiveNotification}));
    EXPECT_EQ(app->applicationState(), UIApplicationStateActive);
    EXPECT_EQ(app->delegate(), delegate);

    log.clear();
    listener.names.clear();
    app->simulateEnterBackground();  // resigns first
    EXPECT_EQ(app->applicationState(), UIApplicationStateBackground);
    app->simulateEnterForeground();
    EXPECT_EQ(app->applicationState(), UIApplicationStateInactive);
    app->simulateBecomeActive();
    app->simulateTerminate();
    EXPECT_EQ(log, (std::vector<std::string>{"willResignActive", "didEnterBackground", "willEnterForeground",
                                             "didBecomeActive", "willTerminate"}));
    EXPECT_EQ(listener.names,
              (std::vector<std::string>{UIApplicationWillResignActiveNotification,
                                        UIApplicationDidEnterBackgroundNotification,
                                        UIApplicationWillEnterForegroundNotification,
                                        UIApplicationDidBecomeActiveNotification, UIApplicationWillTerminateNotification}));

    // The state is readable from other threads.
    UIApplicationState seen = -1;
    std::thread([&] { seen = app->applicationState(); }).join();
    EXPECT_EQ(seen, UIApplicationStateActive);

    expectLogLine("already launched");
    app->simulateLaunch(delegate);
}

TEST_F(ApplicationTest, OpeningURLsFollowsTheSchemeRulesAndIsRecorded) {
    auto app = UIApplication::sharedApplication();
    for (const char* ok : {"http://a.test/", "HTTPS://a.test/", "mailto:x@y.test", "tel:123", "sms:123",
                           "itms://x", "itms-apps://x", "itms-appss://x"})
        EXPECT_TRUE(app->canOpenURL(NSURL::URLWithString(ok))) << ok;
    for (const char* no : {"fb://profile", "javascript:alert(1)", "file:///etc/passwd", "custom://x"})
        EXPECT_FALSE(app->canOpenURL(NSURL::URLWithString(no))) << no;
    EXPECT_FALSE(app->canOpenURL(nullptr));
    EXPECT_FALSE(app->openURL(nullptr));

    EXPECT_FALSE(app->openURL(NSURL::URLWithString("custom://x")));
    app->setCanOpenScheme("custom", true);
    app->setCanOpenScheme("tel", false);
    EXPECT_TRUE(app->openURL(NSURL::URLWithString("custom://x")));
    EXPECT_FALSE(app->openURL(NSURL::URLWithString("tel:1")));
    // From another thread too.
    std::thread([&] { EXPECT_TRUE(app->openURL(NSURL::URLWithString("https://b.test/p?q=1"))); }).join();
    auto opened = app->openedURLs();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0]->absoluteString(), "custom://x");
    EXPECT_EQ(opened[1]->absoluteString(), "https://b.test/p?q=1");
    EXPECT_TRUE(logCapture().contains("open URL: https://b.test/p?q=1"));
}

TEST_F(ApplicationTest, TheProfilesOpenableSchemesCount) {
    profile().openableSchemes = {"fb"};
    EXPECT_TRUE(UIApplication::sharedApplication()->canOpenURL(NSURL::URLWithString("fb://profile")));
}

TEST_F(ApplicationTest, TheStatusBarBelongsToTheApplication) {
    auto app = UIApplication::sharedApplication();
    EXPECT_EQ(app->statusBarFrame(), CGRectMake(0, 0, 320, 20));
    EXPECT_TRUE(app->respondsToSelector("setStatusBarHidden:withAnimation:"));
    EXPECT_FALSE(app->respondsToSelector("noSuchSelector:"));
    app->setStatusBarHidden(true, UIStatusBarAnimationFade);
    EXPECT_TRUE(app->isStatusBarHidden());
    EXPECT_EQ(app->statusBarFrame(), CGRectZero);
    EXPECT_EQ(UIScreen::mainScreen()->applicationFrame(), CGRectMake(0, 0, 320, 568));
    app->setStatusBarHidden(false);
    EXPECT_EQ(app->beginBackgroundTaskWithExpirationHandler([] {}), 1u);
    EXPECT_EQ(app->beginBackgroundTaskWithExpirationHandler(nullptr), 2u);
    app->endBackgroundTask(1);
    app->endBackgroundTask(UIBackgroundTaskInvalid);
}

class RotationRecorder : public UIViewController {
public:
    std::vector<std::string> log;
    CGSize size{};
    Ref<UIViewControllerTransitionCoordinator> coordinator;
    void viewWillTransitionToSize(CGSize s, const Ref<UIViewControllerTransitionCoordinator>& c) override {
        log.push_back("viewWillTransitionToSize screen=" + NSStringFromCGRect(UIScreen::mainScreen()->bounds()) +
                      " view=" + NSStringFromCGSize(view()->bounds().size));
        size = s;
        c->animateAlongsideTransition(
            [this](const auto&) { log.push_back("alongside view=" + NSStringFromCGSize(view()->bounds().size)); },
            [this](const auto&) { log.push_back("alongside done"); });
    }
    void willTransitionToTraitCollection(const Ref<UITraitCollection>& t,
                                         const Ref<UIViewControllerTransitionCoordinator>&) override {
        log.push_back("traits vertical=" + std::to_string(t->verticalSizeClass()));
    }
    void willRotateToInterfaceOrientation(UIInterfaceOrientation o, double) override {
        log.push_back("willRotate " + std::to_string(o));
    }
    void didRotateFromInterfaceOrientation(UIInterfaceOrientation o) override {
        log.push_back("didRotate from " + std::to_string(o));
    }
    bool autorotate = true;
    bool shouldAutorotate() override { return autorotate; }
};

TEST_F(ApplicationTest, RotationFromEightSwapsTheScreenAndCallsTheTransitionHooks) {
    auto c = std::make_shared<RotationRecorder>();
    c->init();
    window()->setRootViewController(c);
    Listener listener;
    listener.listen(UIApplicationWillChangeStatusBarOrientationNotification);
    listener.listen(UIApplicationDidChangeStatusBarOrientationNotification);
    CGRect boundsAtWill{};
    auto token = NSNotificationCenter::defaultCenter()->addObserverForName(
        UIApplicationWillChangeStatusBarOrientationNotification, nullptr, nullptr,
        [&](const NSNotification&) { boundsAtWill = UIScreen::mainScreen()->bounds(); });
    UIApplication::sharedApplication()->simulateStatusBarOrientation(UIInterfaceOrientationLandscapeLeft);
    NSNotificationCenter::defaultCenter()->removeObserver(token.get());
    EXPECT_EQ(boundsAtWill, CGRectMake(0, 0, 320, 568));  // still the old bounds
    ASSERT_EQ(listener.names.size(), 2u);
    EXPECT_EQ(listener.userInfos[0][UIApplicationStatusBarOrientationUserInfoKey].integerValue(), 4);
    EXPECT_EQ(c->size, CGSizeMake(568, 320));
    EXPECT_EQ(c->log, (std::vector<std::string>{"traits vertical=1",
                                                "viewWillTransitionToSize screen={{0, 0}, {568, 320}} view={320, 568}",
                                                "alongside view={568, 320}"}));
    driver().drain();
    EXPECT_EQ(c->log.back(), "alongside done");
    EXPECT_EQ(window()->frame(), CGRectMake(0, 0, 568, 320));
    EXPECT_EQ(c->interfaceOrientation(), UIInterfaceOrientationLandscapeLeft);
    EXPECT_EQ(UIApplication::sharedApplication()->statusBarFrame(), CGRectMake(0, 0, 568, 20));
    // The other landscape: same size class, no trait call.
    c->log.clear();
    UIApplication::sharedApplication()->simulateStatusBarOrientation(UIInterfaceOrientationLandscapeRight);
    EXPECT_EQ(c->log.front().rfind("viewWillTransitionToSize", 0), 0u);
}

TEST_F(ApplicationTest, TheStatusBarCanReportAnUnknownOrientationWhileTheLayoutStays) {
    auto app = UIApplication::sharedApplication();
    auto c = std::make_shared<RotationRecorder>();
    c->init();
    window()->setRootViewController(c);
    app->simulateStatusBarOrientation(UIInterfaceOrientationLandscapeLeft);
    c->log.clear();
    Listener listener;
    listener.listen(UIApplicationWillChangeStatusBarOrientationNotification);

    app->simulateStatusBarOrientation(UIInterfaceOrientationUnknown);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationUnknown);
    EXPECT_EQ(c->interfaceOrientation(), UIInterfaceOrientationUnknown);
    EXPECT_EQ(app->interfaceLayoutOrientation(), UIInterfaceOrientationLandscapeLeft);
    EXPECT_EQ(UIScreen::mainScreen()->bounds(), CGRectMake(0, 0, 568, 320));
    EXPECT_TRUE(listener.names.empty());
    EXPECT_TRUE(c->log.empty());

    // The next rotation ends it, also one to the orientation it had.
    app->simulateStatusBarOrientation(UIInterfaceOrientationLandscapeLeft);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeLeft);
    app->simulateStatusBarOrientation(UIInterfaceOrientationUnknown);
    app->simulateStatusBarOrientation(UIInterfaceOrientationPortrait);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationPortrait);
    EXPECT_EQ(UIScreen::mainScreen()->bounds(), CGRectMake(0, 0, 320, 568));
}

TEST_F(ApplicationTest, RotationBeforeEightKeepsThePortraitScreenAndCallsTheOldHooks) {
    profile().systemVersion = "7.1";
    auto c = std::make_shared<RotationRecorder>();
    c->init();
    window()->setRootViewController(c);
    UIApplication::sharedApplication()->simulateStatusBarOrientation(UIInterfaceOrientationLandscapeRight);
    EXPECT_EQ(c->log, (std::vector<std::string>{"willRotate 3", "didRotate from 1"}));
    EXPECT_EQ(UIScreen::mainScreen()->bounds(), CGRectMake(0, 0, 320, 568));
}

TEST_F(ApplicationTest, TurningTheDeviceRotatesOnlyWhereTheTopControllerAllows) {
    auto device = UIDevice::currentDevice();
    auto app = UIApplication::sharedApplication();
    auto c = std::make_shared<RotationRecorder>();
    c->init();
    window()->setRootViewController(c);
    Listener listener;
    listener.listen(UIDeviceOrientationDidChangeNotification);
    EXPECT_EQ(device->orientation(), UIDeviceOrientationPortrait);

    // Info.plist allows portrait only.
    device->simulateOrientation(UIDeviceOrientationLandscapeLeft);
    EXPECT_EQ(device->orientation(), UIDeviceOrientationLandscapeLeft);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationPortrait);
    EXPECT_TRUE(listener.names.empty());  // not generating

    NSBundle::mainBundle()->setInfoDictionaryValue(
        "UISupportedInterfaceOrientations",
        Value::array({"UIInterfaceOrientationPortrait", "UIInterfaceOrientationLandscapeLeft"}));
    device->beginGeneratingDeviceOrientationNotifications();
    device->beginGeneratingDeviceOrientationNotifications();
    device->endGeneratingDeviceOrientationNotifications();
    EXPECT_TRUE(device->isGeneratingDeviceOrientationNotifications());
    device->simulateOrientation(UIDeviceOrientationLandscapeRight);  // interface 4: allowed
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeLeft);
    EXPECT_EQ(listener.names.size(), 1u);
    device->simulateOrientation(UIDeviceOrientationFaceUp);  // no interface change
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeLeft);
    c->autorotate = false;
    device->simulateOrientation(UIDeviceOrientationPortrait);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeLeft);
    c->autorotate = true;

    // The delegate's answer narrows the mask.
    std::vector<std::string> log;
    auto delegate = std::make_shared<Delegate>();
    delegate->log = &log;
    delegate->mask = UIInterfaceOrientationMaskLandscapeLeft;
    app->setDelegate(delegate);
    EXPECT_EQ(app->supportedInterfaceOrientationsForWindow(window()), UIInterfaceOrientationMaskLandscapeLeft);
    device->simulateOrientation(UIDeviceOrientationPortrait);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeLeft);
    app->setDelegate(nullptr);
}

TEST_F(ApplicationTest, DeviceFactsComeFromTheProfile) {
    profile().idiom = 1;
    profile().systemVersion = "8.4";
    auto device = UIDevice::currentDevice();
    EXPECT_EQ(device->userInterfaceIdiom(), UIUserInterfaceIdiomPad);
    EXPECT_EQ(device->model(), "iPad");
    EXPECT_EQ(device->systemVersion(), "8.4");
    EXPECT_EQ(device->systemName(), "iOS");
    auto id = device->identifierForVendor();
    ASSERT_TRUE(id);
    EXPECT_TRUE(id->isEqual(*device->identifierForVendor()));
    EXPECT_EQ(UIScreen::mainScreen()->bounds(), CGRectMake(0, 0, 768, 1024));
    EXPECT_EQ(rootViewController()->supportedInterfaceOrientations(), UIInterfaceOrientationMaskAll);
}

TEST_F(ApplicationTest, ClassesAreFoundByNameAlertControllerFromEight) {
    EXPECT_TRUE(NSClassFromString("UIView"));
    EXPECT_TRUE(NSClassFromString("UIAlertController"));
    EXPECT_EQ(NSClassFromString("UILabel").alloc()->className(), "UILabel");
}

// ---- alerts ----

class AlertDelegate : public UIAlertViewDelegate, public NSObject {
public:
    std::vector<std::string> log;
    void alertViewClickedButtonAtIndex(const Ref<UIAlertView>& a, int64_t i) override { note(a, "clicked", i); }
    void alertViewWillDismissWithButtonIndex(const Ref<UIAlertView>& a, int64_t i) override { note(a, "willDismiss", i); }
    void alertViewDidDismissWithButtonIndex(const Ref<UIAlertView>& a, int64_t i) override {
        note(a, std::string("didDismiss visible=") + (a->isVisible() ? "yes" : "no"), i);
    }
    void willPresentAlertView(const Ref<UIAlertView>& a) override { note(a, "willPresent", 0); }
    void didPresentAlertView(const Ref<UIAlertView>& a) override { note(a, "didPresent", 0); }
    void note(const Ref<UIAlertView>& a, const std::string& what, int64_t i) {
        log.push_back(a->title().value_or("?") + " " + what + " " + std::to_string(i));
    }
};

TEST_F(ApplicationTest, AlertViewsShowOneAtATimeAndReportTaps) {
    auto d = std::make_shared<AlertDelegate>();
    auto first = UIAlertView::alloc()->initWithTitle("A", "m", d, "Cancel", {"OK", "Later"});
    auto second = UIAlertView::alloc()->initWithTitle("B", std::nullopt, d, std::nullopt, {"Only"});
    EXPECT_EQ(first->cancelButtonIndex(), 0);
    EXPECT_EQ(first->numberOfButtons(), 3);
    EXPECT_EQ(first->buttonTitleAtIndex(1), "OK");
    EXPECT_EQ(first->buttonTitleAtIndex(3), std::nullopt);
    EXPECT_EQ(second->cancelButtonIndex(), -1);
    EXPECT_EQ(second->buttonTitleAtIndex(0), "Only");

    first->show();
    second->show();
    EXPECT_EQ(UIAlertView::visibleAlert(), first);
    EXPECT_FALSE(second->isVisible());
    EXPECT_EQ(d->log, (std::vector<std::string>{"A willPresent 0"}));
    driver().drain();
    EXPECT_EQ(d->log.back(), "A didPresent 0");

    d->log.clear();
    first->simulateTapButtonAtIndex(1);
    EXPECT_EQ(d->log, (std::vector<std::string>{"A clicked 1", "A willDismiss 1"}));
    EXPECT_FALSE(first->isVisible());
    driver().drain();
    EXPECT_EQ(d->log, (std::vector<std::string>{"A clicked 1", "A willDismiss 1", "A didDismiss visible=no 1",
                                                "B willPresent 0", "B didPresent 0"}));
    EXPECT_EQ(UIAlertView::visibleAlert(), second);

    // Dismissing in code, -1 included: never "clicked".
    d->log.clear();
    second->dismissWithClickedButtonIndex(-1, true);
    driver().drain();
    EXPECT_EQ(d->log, (std::vector<std::string>{"B willDismiss -1", "B didDismiss visible=no -1"}));
    EXPECT_EQ(UIAlertView::visibleAlert(), nullptr);

    expectLogLine("the alert is not visible");
    second->simulateTapButtonAtIndex(0);
}

TEST_F(ApplicationTest, AnAlertControllerRunsTheTappedActionAfterItsDismissal) {
    std::vector<std::string> log;
    auto alert = UIAlertController::alertControllerWithTitle("T", "M", UIAlertControllerStyleAlert);
    alert->addAction(UIAlertAction::actionWithTitle("Cancel", UIAlertActionStyleCancel,
                                                    [&](Ref<UIAlertAction>) { log.push_back("cancel"); }));
    alert->addAction(UIAlertAction::actionWithTitle("Go", UIAlertActionStyleDefault, [&](Ref<UIAlertAction> a) {
        log.push_back("go " + a->title().value_or(""));
        log.push_back(std::string("presented=") + (rootViewController()->presentedViewController() ? "yes" : "no"));
    }));
    ASSERT_EQ(alert->actions().size(), 2u);
    EXPECT_EQ(alert->actions()[1]->style(), UIAlertActionStyleDefault);
    expectLogLine("the alert is not presented");
    alert->simulateTapActionAtIndex(1);
    rootViewController()->presentViewController(alert, true, nullptr);
    driver().advance(0.3);
    alert->simulateTapActionAtIndex(1);
    EXPECT_TRUE(log.empty());
    driver().advance(0.3);
    EXPECT_EQ(log, (std::vector<std::string>{"go Go", "presented=no"}));
}

}  // namespace
}  // namespace platform::testing
