// The utilities: canShowAd's reasons in order, the top-controller search,
// the in-app browser's presentation, orientation modes from Info.plist, URL
// pieces, video paths, the signature as the service checks it, and the
// tracking senders with their failure reports.
#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRAAdapptManager.h"
#include "Trillium/TRADataToBase64String.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/TRATransportHttp.h"
#include "Trillium/TRATrilliumAd.h"
#include "Trillium/tests/TrilliumTestSupport.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/Random.h"
#include "platform/net/NetworkConditions.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UINavigationController.h"

namespace testfakes {
// Stand-ins named as the client's screens, for the class-name probes.
class TRAAdViewController : public UIViewController {};
class TRAInAppBrowserViewController : public UIViewController {};
}  // namespace testfakes

namespace {

using simulator::Answer;
using simulator::TrilliumService;

class TRAAdSDKUtilsTest : public TrilliumTest {};

TEST_F(TRAAdSDKUtilsTest, CanShowAdGivesTheFirstReasonInOrder) {
    // No network and the do-not-show switch: the network is tested first.
    platform::testing::NetworkConditions::set(NetworkState::None);
    NSUserDefaults::standardUserDefaults()->setInteger(1, "TRADNS");
    EXPECT_EQ(TRAAdSDKUtils::canShowAd(), "No internet connection.");
    TRATrilliumSDK::sharedInstance()->setIsShowCaseAppOfflineMode(true);
    EXPECT_EQ(TRAAdSDKUtils::canShowAd(), "Failed show ad");
    TRATrilliumSDK::sharedInstance()->setIsShowCaseAppOfflineMode(false);
    platform::testing::NetworkConditions::set(NetworkState::Mobile);
    EXPECT_EQ(TRAAdSDKUtils::canShowAd(), "Failed show ad");
    NSUserDefaults::standardUserDefaults()->removeObjectForKey("TRADNS");
    auto root = rootViewController();
    window()->setRootViewController(nullptr);
    EXPECT_EQ(TRAAdSDKUtils::canShowAd(), "Failed show ad, window's rootViewController is not valid");

    window()->setRootViewController(root);
    EXPECT_EQ(TRAAdSDKUtils::canShowAd(), "");
    root->presentViewController(UIViewController::alloc()->init(), true, nullptr);
    EXPECT_EQ(TRAAdSDKUtils::canShowAd(), "Cannot show ad while a transition is already in progress");
    driver().advance(1);
    EXPECT_EQ(TRAAdSDKUtils::canShowAd(), "");
    root->dismissViewControllerAnimated(false, nullptr);
    driver().drain();
    root->presentViewController(NSObject::alloc<testfakes::TRAAdViewController>(), false, nullptr);
    driver().drain();
    EXPECT_EQ(TRAAdSDKUtils::canShowAd(), "An ad is already displayed");
    EXPECT_FALSE(TRAAdSDKUtils::TRAInAppBrowserViewControllerDisplayed());
}

TEST_F(TRAAdSDKUtilsTest, TopControllerIsFoundThroughTabsNavigationAndPresentation) {
    auto tabs = UITabBarController::alloc();
    tabs->init();
    auto first = UIViewController::alloc()->init();
    auto pushed = UIViewController::alloc()->init();
    auto nav = UINavigationController::alloc();
    nav->initWithRootViewController(first);
    tabs->setViewControllers({UIViewController::alloc()->init(), nav});
    tabs->setSelectedIndex(1);
    window()->setRootViewController(tabs);
    nav->pushViewController(pushed, false);
    driver().drain();
    EXPECT_EQ(TRAAdSDKUtils::topViewControllerWithRootViewController(tabs), pushed);
    auto browser = NSObject::alloc<testfakes::TRAInAppBrowserViewController>();
    pushed->presentViewController(browser, false, nullptr);
    driver().drain();
    EXPECT_EQ(TRAAdSDKUtils::topViewControllerWithRootViewController(tabs), browser);
    EXPECT_TRUE(TRAAdSDKUtils::TRAInAppBrowserViewControllerDisplayed());
    EXPECT_EQ(TRAAdSDKUtils::topViewControllerWithRootViewController(nullptr), nullptr);
}

TEST_F(TRAAdSDKUtilsTest, InAppBrowserIsPresentedFromTheTopController) {
    auto root = rootViewController();
    std::string openedUrl;
    Ref<TRASmartRedirectWebViewDelegate> storeDelegate;
    TRADisplayHooks::shared().inAppBrowser = [&](const std::string& url,
                                                  const Ref<TRASmartRedirectWebViewDelegate>& delegate) {
        openedUrl = url;
        storeDelegate = delegate;
        return std::static_pointer_cast<UIViewController>(NSObject::alloc<testfakes::TRAInAppBrowserViewController>());
    };
    auto delegate = NSObject::alloc<TRATrilliumAd>()->init();
    TRAAdSDKUtils::openInAppBrowserWithURL("http://example.test/landing", delegate);
    EXPECT_EQ(openedUrl, "http://example.test/landing");
    EXPECT_EQ(storeDelegate, delegate);
    ASSERT_NE(root->presentedViewController(), nullptr);
    // Portrait-only application, portrait device: animated.
    ASSERT_NE(root->presentedViewController()->transitionCoordinator(), nullptr);
    EXPECT_TRUE(root->presentedViewController()->transitionCoordinator()->isAnimated());
    driver().advance(1);
    EXPECT_TRUE(TRAAdSDKUtils::TRAInAppBrowserViewControllerDisplayed());
}

TEST_F(TRAAdSDKUtilsTest, InAppBrowserOpensNotAnimatedWhenTheDeviceFacesAnotherWay) {
    auto root = rootViewController();
    TRADisplayHooks::shared().inAppBrowser = [](const std::string&, const Ref<TRASmartRedirectWebViewDelegate>&) {
        return std::static_pointer_cast<UIViewController>(NSObject::alloc<testfakes::TRAInAppBrowserViewController>());
    };
    UIDevice::currentDevice()->beginGeneratingDeviceOrientationNotifications();
    UIDevice::currentDevice()->simulateOrientation(3);
    driver().drain();
    TRAAdSDKUtils::openInAppBrowserWithURL("http://example.test/", nullptr);
    ASSERT_NE(root->presentedViewController(), nullptr);
    auto coordinator = root->presentedViewController()->transitionCoordinator();
    EXPECT_TRUE(!coordinator || !coordinator->isAnimated());
}

TEST_F(TRAAdSDKUtilsTest, WithoutTheBrowserNothingIsPresented) {
    auto root = rootViewController();
    TRAAdSDKUtils::openInAppBrowserWithURL("http://example.test/", nullptr);
    EXPECT_EQ(root->presentedViewController(), nullptr);
    driver().drain();  // the line is written after the turn
    EXPECT_TRUE(logCapture().contains("in-app browser is not available"));
}

TEST_F(TRAAdSDKUtilsTest, OrientationModesFollowInfoPlistAndTheWrapper) {
    auto bundle = NSBundle::mainBundle();
    EXPECT_EQ(TRAAdSDKUtils::supportedOrientations(), 0);
    EXPECT_EQ(TRAAdSDKUtils::supportedOrientationsInAppBrowser(), 0);
    bundle->setInfoDictionaryValue("UISupportedInterfaceOrientations",
                                   Value::array({"UIInterfaceOrientationLandscapeLeft"}));
    EXPECT_EQ(TRAAdSDKUtils::supportedOrientations(), 1);
    bundle->setInfoDictionaryValue("UISupportedInterfaceOrientations",
                                   Value::array({"UIInterfaceOrientationPortrait", "UIInterfaceOrientationLandscapeRight"}));
    EXPECT_EQ(TRAAdSDKUtils::supportedOrientations(), 2);
    bundle->setInfoDictionaryValue("UISupportedInterfaceOrientations", Value());
    EXPECT_EQ(TRAAdSDKUtils::supportedOrientations(), 0);

    TRATrilliumSDK::sharedInstance()->setIsUnityEnvironment(true);
    TRAAdSDKUtils::setUnitySupportedOrientationsWithInt(1);
    EXPECT_EQ(TRAAdSDKUtils::supportedOrientations(), 1);
    EXPECT_EQ(TRAAdSDKUtils::supportedOrientationsInAppBrowser(), 2);
    EXPECT_EQ(TRAAdSDKUtils::getUnityVersionInt(), 4);
    TRAAdSDKUtils::setUnityVersion("5.3.1");
    EXPECT_EQ(TRAAdSDKUtils::getUnityVersionInt(), 5);
    EXPECT_EQ(TRAAdSDKUtils::getUnityAutoRotation(), 0);
}

TEST_F(TRAAdSDKUtilsTest, StatusBarAndScreenBounds) {
    TRAAdSDKUtils::setApplicationStatusBarHidden(true);
    EXPECT_TRUE(UIApplication::sharedApplication()->isStatusBarHidden());
    TRAAdSDKUtils::setApplicationStatusBarHidden(false);
    EXPECT_FALSE(UIApplication::sharedApplication()->isStatusBarHidden());
    CGRect bounds = TRAAdSDKUtils::getScreenBounds();
    EXPECT_EQ(bounds.size.width, 320);
    EXPECT_EQ(bounds.size.height, 568);
}

TEST_F(TRAAdSDKUtilsTest, ResourcesComeFromTheClientBundleOrTheWrapperFolder) {
    EXPECT_EQ(TRAAdSDKUtils::frameworkBundle(), nullptr);
    EXPECT_EQ(TRAAdSDKUtils::getResourcesImageFromString("info_I"), nullptr);
    EXPECT_EQ(TRAAdSDKUtils::getHtmlBundlePathWithHtmlName("splash"), std::nullopt);

    auto png = NSData::initWithBase64EncodedString(
        "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYPhfDwAChwGA60e6kgAAAABJRU5ErkJggg==");
    ASSERT_TRUE(png);
    auto files = NSFileManager::defaultManager();
    std::string clientBundle = bundlePath() + "/Trillium.bundle";
    ASSERT_TRUE(files->createDirectoryAtPath(clientBundle, true));
    ASSERT_TRUE(files->createFileAtPath(clientBundle + "/info_I.png", *png));
    ASSERT_TRUE(files->createFileAtPath(clientBundle + "/splash.html", NSString::dataUsingEncoding("<html></html>")));
    ASSERT_NE(TRAAdSDKUtils::frameworkBundle(), nullptr);
    EXPECT_NE(TRAAdSDKUtils::getResourcesImageFromString("info_I"), nullptr);
    EXPECT_EQ(TRAAdSDKUtils::getResourcesImageFromString("missing"), nullptr);
    EXPECT_EQ(TRAAdSDKUtils::getHtmlBundlePathWithHtmlName("splash"), clientBundle + "/splash.html");

    TRATrilliumSDK::sharedInstance()->setIsUnityEnvironment(true);
    EXPECT_EQ(TRAAdSDKUtils::getHtmlBundlePathWithHtmlName("splash"), std::nullopt);
    ASSERT_TRUE(files->createDirectoryAtPath(bundlePath() + "/Data/Raw", true));
    ASSERT_TRUE(files->createFileAtPath(bundlePath() + "/Data/Raw/splash.html", NSData()));
    EXPECT_EQ(TRAAdSDKUtils::getHtmlBundlePathWithHtmlName("splash"), bundlePath() + "/Data/Raw/splash.html");
}

TEST_F(TRAAdSDKUtilsTest, UrlPieces) {
    EXPECT_EQ(TRAAdSDKUtils::getDParamsFromHtml("http://h/c?d=abc&x=1"), "abc");
    EXPECT_EQ(TRAAdSDKUtils::getDParamsFromHtml("http://h/c?x=1&d=xyz"), "xyz");
    EXPECT_EQ(TRAAdSDKUtils::getDParamsFromHtml("<a href='c?id=1&d=q'>"), "q'>");
    EXPECT_EQ(TRAAdSDKUtils::getDParamsFromHtml("http://h/c?dd=1"), "");
    EXPECT_EQ(TRAAdSDKUtils::findIdFromAppStoreUrl("https://store.test/app/name/id12345?mt=8"), "12345");
    EXPECT_EQ(TRAAdSDKUtils::findIdFromAppStoreUrl("https://store.test/id1/x/id99"), "99");
    EXPECT_EQ(TRAAdSDKUtils::findIdFromAppStoreUrl("https://store.test/app?x=1"), "https://store.test/app");
    // Page commands: the scheme is looked for anywhere, the URL cut at its length.
    EXPECT_EQ(TRAAdSDKUtils::pageCommandInUrl("trilliumad://closeAd"), "closeAd");
    EXPECT_EQ(TRAAdSDKUtils::pageCommandInUrl("trilliumad://"), "");
    EXPECT_EQ(TRAAdSDKUtils::pageCommandInUrl("http://h/trilliumad://x"), "liumad://x");
    EXPECT_EQ(TRAAdSDKUtils::pageCommandInUrl("http://h/closeAd"), std::nullopt);
    EXPECT_EQ(TRAAdSDKUtils::randomNumBetweenOneAndMaxNum(0), 1);
    platform::testing::setRandomSource([] { return 41u; });
    EXPECT_EQ(TRAAdSDKUtils::randomNumBetweenOneAndMaxNum(10), 2);
    platform::testing::setRandomSource(nullptr);
    EXPECT_EQ(TRADataToBase64String::base64String(NSString::dataUsingEncoding("any carnal pleas")),
              "YW55IGNhcm5hbCBwbGVhcw==");
    auto error = TRAAdSDKUtils::createErrorWithDescription("Boom");
    EXPECT_EQ(error->domain(), service.baseUrl());
    EXPECT_EQ(error->code(), 0);
    EXPECT_EQ(error->localizedDescription(), "Boom");
}

TEST_F(TRAAdSDKUtilsTest, VideoPaths) {
    EXPECT_EQ(TRAAdSDKUtils::getFileNameFromVideoUrl("http://cdn.test/v/clip.one.mov?x=1"), "clip.one.mp4");
    EXPECT_EQ(TRAAdSDKUtils::getFileNameFromVideoUrl("http://cdn.test/v/a%2Fb.mp4"), "a_b.mp4");
    EXPECT_EQ(TRAAdSDKUtils::getFileNameFromVideoUrl("http://cdn.test/v/.."), std::nullopt);
    EXPECT_EQ(TRAAdSDKUtils::getFileNameFromVideoUrl("http://cdn.test/"), std::nullopt);
    EXPECT_EQ(TRAAdSDKUtils::getFileNameFromVideoUrl("not a url"), std::nullopt);
    std::string folder = TRAAdSDKUtils::videoDestinationDirectoryPath();
    EXPECT_EQ(folder, home() + "/Library/Caches/com.paranormal.detector");
    EXPECT_EQ(TRAAdSDKUtils::getDestPathFromFileName("a.mp4"), folder + "/a.mp4");
    EXPECT_TRUE(TRAAdSDKUtils::isEnougthMemoryForVideo());
    NSUserDefaults::standardUserDefaults()->setInteger(int64_t(1) << 40, "TRAMinAvailableStorageRequired");
    EXPECT_FALSE(TRAAdSDKUtils::isEnougthMemoryForVideo());
}

TEST_F(TRAAdSDKUtilsTest, RequestsCarryTheTransportHeaders) {
    auto request = TRATransportHttp::createRequest("http://h.test/p?q=a b");
    ASSERT_NE(request->URL(), nullptr);
    EXPECT_EQ(request->URL()->absoluteString(), "http://h.test/p?q=a%20b");
    EXPECT_EQ(request->timeoutInterval(), 10.0);
    EXPECT_EQ(request->HTTPMethod(), "GET");
    EXPECT_EQ(request->valueForHTTPHeaderField("Content-Type"), "charset=utf-8");
    EXPECT_EQ(request->valueForHTTPHeaderField("User-Agent"), profile().effectiveUserAgent());
    EXPECT_EQ(TRATransportHttp::createRequest("http://h.test/%41")->URL()->absoluteString(), "http://h.test/%41");
}

TEST_F(TRAAdSDKUtilsTest, TrackingSendersSignWhatTheServiceChecks) {
    TRAAdSDKUtils::sendClick(service.trackingUrl(TrilliumService::kClickPath, "c1"));
    TRAAdSDKUtils::sendClose(service.trackingUrl(TrilliumService::kClosePath, "x1"));
    TRAAdSDKUtils::sendVideoEvent(service.trackingUrl(TrilliumService::kVideoEventPath, "v1") + "&event=start");
    TRAAdSDKUtils::sendClick(std::nullopt);
    ASSERT_TRUE(waitForRequests(TrilliumService::kClickPath, 1));
    ASSERT_TRUE(waitForRequests(TrilliumService::kClosePath, 1));
    ASSERT_TRUE(waitForRequests(TrilliumService::kVideoEventPath, 1));
    ASSERT_TRUE(driver().settle());
    for (const char* path : {TrilliumService::kClickPath, TrilliumService::kClosePath, TrilliumService::kVideoEventPath}) {
        auto requests = service.requestsTo(path);
        ASSERT_EQ(requests.size(), 1u) << path;
        EXPECT_TRUE(TrilliumService::signatureMatches(requests[0], kTestDevId, kTestAppId)) << requests[0].request.target;
        EXPECT_FALSE(TrilliumService::signatureMatches(requests[0], "other", kTestAppId));
        EXPECT_EQ(requests[0].request.header("User-Agent"), profile().effectiveUserAgent());
    }
    auto click = service.requestsTo(TrilliumService::kClickPath)[0];
    EXPECT_EQ(click.fieldNames(), (std::vector<std::string>{"d", "ts", "sig"}));
    EXPECT_EQ(click.field("d"), "c1");
}

TEST_F(TRAAdSDKUtilsTest, ImpressionsCarryTheSessionFieldsAndTheEncodedTag) {
    NSUserDefaults::standardUserDefaults()->setObject("prof-7", "TRAProfileId");
    TRAAdSDKUtils::sendImpression(service.trackingUrl(TrilliumService::kImpressionPath, "i1") + "&adTag=level end");
    ASSERT_TRUE(waitForRequests(TrilliumService::kImpressionPath, 1));
    auto impression = service.requestsTo(TrilliumService::kImpressionPath)[0];
    EXPECT_EQ(impression.fieldNames(),
              (std::vector<std::string>{"d", "adTag", "clientSessionId", "profileId", "adTagEnc", "ts", "sig"}));
    EXPECT_EQ(impression.field("adTag"), "level end");
    EXPECT_EQ(impression.field("adTagEnc"), "bGV2ZWwgZW5k");
    EXPECT_EQ(impression.field("profileId"), "prof-7");
    EXPECT_EQ(impression.field("clientSessionId"), TRAAdapptManager::clientSessionId());
    EXPECT_TRUE(TrilliumService::signatureMatches(impression, kTestDevId, kTestAppId));
}

TEST_F(TRAAdSDKUtilsTest, FailedImpressionsAndVideoEventsAreReportedToAnalytics) {
    service.setAnswer(TrilliumService::kImpressionPath, Answer::drop());
    service.setAnswer(TrilliumService::kVideoEventPath, Answer::drop());
    TRAAdSDKUtils::sendImpression(service.trackingUrl(TrilliumService::kImpressionPath, "imp9"));
    TRAAdSDKUtils::sendVideoEvent(service.trackingUrl(TrilliumService::kVideoEventPath, "vid9"));
    ASSERT_TRUE(waitForRequests(TrilliumService::kAnalyticsPath, 2));
    std::vector<std::string> categories, ds;
    for (const auto& event : service.requestsTo(TrilliumService::kAnalyticsPath)) {
        categories.push_back(event.field("category").value_or(""));
        ds.push_back(event.field("d").value_or(""));
        EXPECT_EQ(event.field("value"), "-1005");
    }
    std::sort(categories.begin(), categories.end());
    std::sort(ds.begin(), ds.end());
    EXPECT_EQ(categories, (std::vector<std::string>{"2", "9"}));
    EXPECT_EQ(ds, (std::vector<std::string>{"imp9", "vid9"}));
    // A failed click is not reported.
    service.setAnswer(TrilliumService::kClickPath, Answer::drop());
    TRAAdSDKUtils::sendClick(service.trackingUrl(TrilliumService::kClickPath, "c"));
    ASSERT_TRUE(waitForRequests(TrilliumService::kClickPath, 1));
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(service.requestsTo(TrilliumService::kAnalyticsPath).size(), 2u);
}

}  // namespace
