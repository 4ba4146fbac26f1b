// The entry point: its creation brings the lifecycle manager into being, and
// it forwards the splash, cache and wrapper calls to it (the splash only with
// an application identifier); without a manager every forward is a no-op.
#include "Trillium/TRATrilliumSDK.h"

#include "Trillium/TRAAdPreferences.h"
#include "Trillium/tests/TrilliumTestSupport.h"

namespace {

class RecordingManager : public NSObject, public TRAEventAdManaging {
public:
    void disableReturnAd() override { calls.push_back("disableReturnAd"); }
    void setSplashAdDelegate(const Ref<TRADelegateProtocol>& delegate) override {
        calls.push_back("setSplashAdDelegate");
        splashDelegate = delegate;
    }
    void showSplashAdWithPreferences(const Ref<TRASplashPreferences>&, const Ref<TRAAdPreferences>& adPreferences,
                                     const std::optional<std::string>& adTag) override {
        calls.push_back("showSplash:" + adTag.value_or("nil") + (adPreferences ? ":prefs" : ""));
    }
    void appDidFinishLaunchingForInterstitialSplash() override { calls.push_back("interstitialSplash"); }
    void showVisualCacheDB() override { calls.push_back("showVisualCacheDB"); }
    void hideVisualCacheDB() override { calls.push_back("hideVisualCacheDB"); }
    void clearCacheDB() override { calls.push_back("clearCacheDB"); }
    void appDidFinishLaunching() override { calls.push_back("launch"); }
    void appWillEnterForeground() override { calls.push_back("foreground"); }
    void appDidEnterBackground() override { calls.push_back("background"); }

    std::vector<std::string> calls;
    Ref<TRADelegateProtocol> splashDelegate;
};

class TRATrilliumSDKTest : public TrilliumTest {
protected:
    void SetUp() override {
        TRADisplayHooks::shared().eventAdManager = [this] {
            ++managersMade;
            return std::static_pointer_cast<TRAEventAdManaging>(manager);
        };
        TrilliumTest::SetUp();
    }
    Ref<RecordingManager> manager = NSObject::alloc<RecordingManager>();
    int managersMade = 0;
};

TEST_F(TRATrilliumSDKTest, CreationBringsTheManagerIntoBeing) {
    // Made inside the fixture's set-up, which created the entry point.
    EXPECT_EQ(managersMade, 1);
    auto sdk = TRATrilliumSDK::sharedInstance();
    EXPECT_EQ(TRATrilliumSDK::sharedInstance(), sdk);
    EXPECT_TRUE(TRATrilliumSDK::hasSharedInstance());
    EXPECT_EQ(sdk->eventAdManager(), manager);
    EXPECT_EQ(sdk->appID(), kTestAppId);
    EXPECT_EQ(sdk->devID(), kTestDevId);
    EXPECT_FALSE(sdk->isUnityEnvironment());
    EXPECT_FALSE(sdk->isMoPubMediationEnvironment());
    EXPECT_FALSE(sdk->getIsShowCaseAppOfflineMode());
    EXPECT_EQ(sdk->preferences(), nullptr);
}

TEST_F(TRATrilliumSDKTest, CallsAreForwardedToTheManager) {
    auto sdk = TRATrilliumSDK::sharedInstance();
    auto delegate = NSObject::alloc<RecordingAdDelegate>();
    sdk->disableReturnAd();
    sdk->showSplashAd();
    sdk->showSplashAdWithDelegate(delegate, NSObject::alloc<TRAAdPreferences>()->init(), nullptr, std::string("start"));
    sdk->showInterstitialSplashAdWithDelegate(nullptr, nullptr);
    sdk->showVisualCacheDB();
    sdk->hideVisualCacheDB();
    sdk->clearCacheDB();
    sdk->unitySDKInitialize();
    sdk->unityAppDidEnterBackground();
    sdk->unityAppWillEnterForeground();
    EXPECT_EQ(manager->calls,
              (std::vector<std::string>{"disableReturnAd", "showSplash:nil", "setSplashAdDelegate", "showSplash:start:prefs",
                                        "showSplash:nil", "interstitialSplash", "showVisualCacheDB", "hideVisualCacheDB",
                                        "clearCacheDB", "launch", "background", "foreground"}));
    EXPECT_EQ(manager->splashDelegate, delegate);
}

TEST_F(TRATrilliumSDKTest, NoSplashWithoutAnApplicationIdentifier) {
    auto sdk = TRATrilliumSDK::sharedInstance();
    expectLogLine("Application ID is nil or empty.");
    auto delegate = NSObject::alloc<RecordingAdDelegate>();
    sdk->setAppID(std::string());
    sdk->showSplashAdWithDelegate(delegate);
    sdk->setAppID(std::nullopt);
    sdk->showSplashAd();
    EXPECT_EQ(manager->calls, std::vector<std::string>{"setSplashAdDelegate"});
}

TEST(TRATrilliumSDKWithoutManagerTest, ForwardsAreNoOpsWithoutAManagerAndALaterOneIsReached) {
    // (No platform needed: nothing here reaches it.)
    TRADisplayHooks::shared().eventAdManager = nullptr;
    EXPECT_FALSE(TRATrilliumSDK::hasSharedInstance());
    auto sdk = TRATrilliumSDK::sharedInstance();
    EXPECT_EQ(sdk->eventAdManager(), nullptr);
    EXPECT_EQ(sdk->appID(), std::nullopt);
    sdk->disableReturnAd();
    sdk->clearCacheDB();
    sdk->unitySDKInitialize();

    // A display side registered after the entry point was made is looked up.
    auto late = NSObject::alloc<RecordingManager>();
    TRADisplayHooks::shared().eventAdManager = [late] { return std::static_pointer_cast<TRAEventAdManaging>(late); };
    sdk->disableReturnAd();
    sdk->unityAppDidEnterBackground();
    EXPECT_EQ(sdk->eventAdManager(), late);
    EXPECT_EQ(late->calls, (std::vector<std::string>{"disableReturnAd", "background"}));
}

}  // namespace
