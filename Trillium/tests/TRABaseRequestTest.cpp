// The base query byte for byte with the default device, the optional fields
// with a carrier, Wi-Fi, limited tracking and session counts, and the
// placement-bearing request classes.
#include "Trillium/TRAAdapptManager.h"
#include "Trillium/TRABannerAdRequest.h"
#include "Trillium/TRABaseRequest.h"
#include "Trillium/TRAPlacementRequest.h"
#include "Trillium/tests/TrilliumTestSupport.h"
#include "platform/foundation/ASIdentifierManager.h"

namespace {

class TRABaseRequestTest : public TrilliumTest {
protected:
    std::string query(const Ref<TRABaseRequest>& request) {
        request->fillApplicationDetails(std::string(kTestAppId), std::string(kTestDevId));
        return request->getQueryString();
    }
};

TEST_F(TRABaseRequestTest, BaseQueryHasEveryFieldInOrder) {
    profile().model = "TestPhone";
    profile().machine = "TestPhone1,1";
    std::string userId = ASIdentifierManager::sharedManager()->advertisingIdentifier()->UUIDString();
    std::string expected =
        "publisherId=dev-456&productId=app-123&sdkVersion=3.5.0&sdkId=NATIVE&os=ios&userId=" + userId +
        "&packageId=com.paranormal.detector&manufacturer=TestPhone&model=TestPhone1,1&deviceVersion=9.0&width=320"
        "&height=568&appVersion=1.0&appBuildVersion=1.0&isp=&ispName=&grid=&ssid=&bssid=&twoClicks=true&density=2"
        "&orientation=portrait&clientSessionId=" +
        TRAAdapptManager::clientSessionId() + "&profileId=&timeSinceSessionStart=0&adsDisplayed=0";
    EXPECT_EQ(query(NSObject::alloc<TRABaseRequest>()->init()), expected);
}

TEST_F(TRABaseRequestTest, OptionalFieldsFollowTheDeviceAndTheSession) {
    profile().carrier = platform::DeviceCarrier{"Carrier Co", "310", "260", "us"};
    profile().radioAccessTechnology = "CTRadioAccessTechnologyLTE";
    profile().wifiSSID = "Home Net";
    profile().wifiBSSID = "aa:bb:cc:dd:ee:ff";
    profile().advertisingTrackingEnabled = false;
    TRATrilliumSDK::sharedInstance()->setIsCoronaEnvironment(true);
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setInteger(3, "TRADisableTwoClicks");
    defaults->setObject("profile-9", "TRAProfileId");
    TRAAdapptManager::updateNumOfTotalAdsDisplayedInCurrentSession();
    TRAAdapptManager::updateNumOfTotalAdsDisplayedInCurrentSession();
    driver().advance(42);

    std::string text = query(NSObject::alloc<TRABaseRequest>()->init());
    // Values go in as they are; the whole URL is escaped once when it is sent.
    EXPECT_TRUE(NSString::containsString(text, "&ispName=Carrier Co&grid=LTE&ssid=Home Net&")) << text;
    auto fields = simulator::TrilliumService::parseQuery(text);
    simulator::TrilliumRequest request{{}, fields};
    EXPECT_EQ(request.field("sdkId"), "ENGINE_B");
    EXPECT_EQ(request.field("isp"), "310260");
    EXPECT_EQ(request.field("grid"), "LTE");
    EXPECT_EQ(request.field("ssid"), "Home Net");
    EXPECT_EQ(request.field("bssid"), "aa:bb:cc:dd:ee:ff");
    EXPECT_EQ(request.field("limat"), "true");
    EXPECT_EQ(request.field("twoClicks"), std::nullopt);
    EXPECT_EQ(request.field("profileId"), "profile-9");
    EXPECT_EQ(request.field("timeSinceSessionStart"), "42");
    EXPECT_EQ(request.field("adsDisplayed"), "2");
    std::vector<std::string> names = request.fieldNames();
    auto limat = std::find(names.begin(), names.end(), "limat");
    ASSERT_NE(limat, names.end());
    EXPECT_EQ(*(limat - 1), "bssid");
    EXPECT_EQ(*(limat + 1), "density");
}

TEST_F(TRABaseRequestTest, PlacementRequestsEndWithTheirPlacement) {
    std::string overlay = query(NSObject::alloc<TRAOverlayAdRequest>()->init());
    EXPECT_TRUE(NSString::hasSuffix(overlay, "&adsDisplayed=0&placement=INAPP_OVERLAY")) << overlay;

    NSUserDefaults::standardUserDefaults()->setInteger(4, "TRABannerAdsNumber");
    auto banner = NSObject::alloc<TRABannerAdRequest>()->init();
    banner->fillApplicationDetails(std::string(kTestAppId), std::string(kTestDevId));
    banner->setViewSize(CGSizeMake(72.4f, 72.6f));
    std::string text = banner->getQueryString();
    EXPECT_TRUE(NSString::hasSuffix(text, "&placement=INAPP_BANNER&adsNumber=4")) << text;
    EXPECT_TRUE(NSString::containsString(text, "&width=72&height=73&")) << text;
}

TEST_F(TRABaseRequestTest, ABannerSendsItsOwnSizeWhenItIsSetBeforeTheFill) {
    auto banner = NSObject::alloc<TRABannerAdRequest>()->init();
    banner->setViewSize(CGSizeMake(300, 50));
    std::string text = query(banner);
    EXPECT_TRUE(NSString::containsString(text, "&width=300&height=50&")) << text;
    // A plain request on the same screen sends the screen's size.
    EXPECT_TRUE(NSString::containsString(query(NSObject::alloc<TRABaseRequest>()->init()), "&width=320&height=568&"));
}

}  // namespace
