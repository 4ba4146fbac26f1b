// The host's Halcyon scenario end to end on the virtual clock: the client
// started with the SDK key against the embedded Halcyon service (or one given
// by URL), its refused first device submission retried 10 s later, the
// identifiers and the server's setting kept in the sandbox, the "landing" and
// "checkout" pixels, the start-up preloads answering the first interstitial,
// the banner kept and then refreshed for its slot, its resources cached
// once, the background click's postback, the native preload and the feed's
// native ads with their files and click, and nothing sent to the other
// clients' services.
#include "host/ScenarioRunner.h"
#include "host/tests/HostTestSupport.h"
#include "platform/foundation/PropertyList.h"
#include "simulator/HalcyonService.h"

namespace {

const char* const kHalcyonScenarioPreferences = "/Library/Preferences/com.paranormal.detector.plist";

class HostHalcyonScenarioTest : public HostTest {
protected:
    void runHalcyonScenario() {
        options.scenario = "halcyon";
        ScenarioRunner runner(options);
        ASSERT_EQ(runner.run(), 0) << runner.error();
        readOutput(options.outDir);
    }
};

}  // namespace

TEST_F(HostHalcyonScenarioTest, TheClientStartsWithItsKeyAgainstTheEmbeddedService) {
    options.halcyonKey = "hl-e2e-key";
    runHalcyonScenario();

    auto device = of("halcyon", "/api/device");
    ASSERT_EQ(device.size(), 2u);
    EXPECT_EQ(device[0].status(), 503);
    EXPECT_EQ(device[1].status(), 200);
    EXPECT_GE(device[1].entry["sentAt"].doubleValue() - device[0].entry["sentAt"].doubleValue(), 10.0);
    EXPECT_EQ(device[0].field("api_key"), "hl-e2e-key");
    EXPECT_EQ(device[0].entry["purpose"].stringValue(), "device data");
    std::string body = readFile(options.outDir + "/traffic/" + device[1].entry["requestBody"].stringValue());
    EXPECT_NE(body.find("\"first_install\": \"true\""), std::string::npos) << body;
    auto pixels = of("halcyon", "/pix");
    ASSERT_EQ(pixels.size(), 2u);
    EXPECT_EQ(pixels[0].field("event"), "landing");
    EXPECT_EQ(pixels[0].field("sdk_key"), "hl-e2e-key");
    EXPECT_EQ(pixels[0].entry["purpose"].stringValue(), "event pixel");
    EXPECT_EQ(pixels[1].field("event"), "checkout");
    EXPECT_EQ(pixels[1].status(), 200);
    EXPECT_EQ(pixels[1].entry["method"].stringValue(), "POST");
    auto checkout = NSJSONSerialization::JSONObjectWithData(
        NSData::dataWithString(readFile(options.outDir + "/traffic/" + pixels[1].entry["requestBody"].stringValue())));
    ASSERT_TRUE(checkout);
    EXPECT_EQ(*checkout, Value::dictionary({{"item", "spectral-scanner"},
                                            {"price", "4.99"},
                                            {"currency", "EUR"},
                                            {"transaction_id", "T-1001"}}));
    // Ads: three preloads at start-up (an interstitial, two incentivized);
    // the application's interstitial came from the queue.
    auto ads = of("halcyon", "/ads/2.0/ad");
    ASSERT_GE(ads.size(), 4u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(ads[i].field("preloading"), "true") << i;
    EXPECT_EQ(ads[0].field("size"), "INTER");
    EXPECT_EQ(ads[0].entry["purpose"].stringValue(), "ad request");
    for (const auto& ad : ads) EXPECT_FALSE(ad.field("size") == "INTER" && ad.field("preloading") == "false");
    for (const char* resource : {"/res/ad.js", "/res/ad.css", "/res/banner.png"}) {
        ASSERT_EQ(of("halcyon", resource).size(), 1u) << resource;
        EXPECT_EQ(of("halcyon", resource)[0].entry["purpose"].stringValue(), "ad resource");
    }
    EXPECT_TRUE(of("halcyon", "/landing").empty());
    auto clicks = of("halcyon", "/postback/click");
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].field("p"), "home");
    EXPECT_EQ(clicks[0].field("clcode"), "cl-1");
    // Native ads: the start-up preload of one, then the feed's group of
    // three, of which the first two are precached (a file shared by name is
    // fetched once); the click on the first goes through the postback queue.
    auto native = of("halcyon", "/ads/nad");
    ASSERT_EQ(native.size(), 2u);
    EXPECT_EQ(native[0].field("preloading"), "true");
    EXPECT_EQ(native[0].field("slot_count"), "1");
    EXPECT_EQ(native[1].field("preloading"), "false");
    EXPECT_EQ(native[1].field("slot_count"), "3");
    EXPECT_TRUE(native[1].field("etfw").has_value());
    EXPECT_EQ(native[1].entry["purpose"].stringValue(), "native ad request");
    for (const char* resource : {"icon-1.png", "image-1.png", "scanner-trailer.mp4", "icon-4.png", "image-5.png"}) {
        auto fetched = of("halcyon", std::string("/res/native/") + resource);
        ASSERT_EQ(fetched.size(), 1u) << resource;
        EXPECT_EQ(fetched[0].entry["purpose"].stringValue(), "native ad resource");
        EXPECT_FALSE(readFile(options.outDir + "/sandbox/Library/Caches/hl/" + resource).empty()) << resource;
    }
    EXPECT_TRUE(of("halcyon", "/res/native/icon-6.png").empty());
    auto nativeClicks = of("halcyon", "/track/native_click");
    ASSERT_EQ(nativeClicks.size(), 1u);
    EXPECT_EQ(nativeClicks[0].field("clcode"), "ncl-4");
    EXPECT_EQ(nativeClicks[0].field("event"), "ev-4");
    long tracked = lineWith("HLEventService trackCheckoutWithTransactionIdentifier: T-1001 parameters: "
                            "{ item = \"spectral-scanner\"; price = 4.99; currency = EUR; }");
    EXPECT_GT(tracked, lineWith("UIApplicationDidFinishLaunchingNotification"));
    // Every value on one line, none with an escape.
    for (const std::string& line : timeline)
        for (const char* escape : {"\\n", "\\r", "\\t", "\\x"}) EXPECT_EQ(line.find(escape), std::string::npos) << line;
    EXPECT_GT(lineWith("halcyon event pixel: POST /pix?event=checkout", tracked), tracked);
    EXPECT_GE(lineWith("halcyon event pixel: POST /pix?event=landing"), 0);
    EXPECT_TRUE(of("trillium").empty());
    EXPECT_TRUE(of("relay").empty());

    long at = 0;
    for (const char* step : {"HLSdk sharedWithKey:settings: hl-e2e-key", "UIApplicationDidFinishLaunchingNotification",
                             "Halcyon WARN [HLTaskRepeatRequest] Unable to send requset due to server failure (code 503)",
                             "halcyon device data: POST /api/device?api_key=hl-e2e-key",
                             "interstitial loaded: Halcyon Ad #1, REGULAR/INTER",
                             "banner slot: banner loaded: Halcyon Ad #", "banner slot: the kept banner again",
                             "banner slot: banner refreshed: Halcyon Ad #", "HLAdService trackClickOn:",
                             "UIApplication opened http://127.0.0.1:",
                             "HLNativeAdService loadNativeAdGroupOfCount: 3", "native feed: 3 native ads loaded",
                             "native feed: HLNativeAd <id = 4, title = Spectral Scanner Pro> \"Install\", rating 4.5, "
                             "images cached, video cached",
                             "native feed: HLNativeAd <id = 6, title = Night Vision Lens> \"Install\", rating 3.5, "
                             "images not cached, no video",
                             "the user taps the first native ad",
                             "UIApplication opened http://127.0.0.1:",
                             "Halcyon after the stay in the foreground: enabled, device token hl-token-1, ad refresh every 90 s",
                             "UIApplicationWillTerminateNotification"}) {
        long found = lineWith(step, at);
        EXPECT_GE(found, at) << "missing or out of order: " << step;
        if (found >= 0) at = found;
    }

    // The client's debug lines stay in the client log.
    EXPECT_TRUE(loggedByAClient("debug    Halcyon DEBUG [ConnectionUtils] New settings processed"));
    EXPECT_EQ(lineWith("Halcyon DEBUG"), -1);
    EXPECT_GE(lineWith("expected: the embedded Halcyon service refuses the first device-data submission"), 0);

    auto defaults = platform::PropertyList::valueWithContentsOfFile(options.outDir + "/sandbox" + kHalcyonScenarioPreferences);
    ASSERT_TRUE(defaults && defaults->isDictionary());
    const Value& table = (*defaults)["com.halcyon.sdk.hl-e"];
    EXPECT_EQ(table["device_token"].stringValue(), "hl-token-1");
    EXPECT_EQ(table["ad_refresh_seconds"].integerValue(), 90);
    EXPECT_EQ((*defaults)["com.halcyon.sdk.isFirstRun"].stringValue(), "false");
    EXPECT_EQ((*defaults)["com.halcyon.sdk.lastKnownVersionCode"].integerValue(), 343);
    // The rewarded video's end postback, refused, waits in the postback file
    // for the next run on this home.
    auto videoEnds = of("halcyon", "/postback/video_end");
    ASSERT_EQ(videoEnds.size(), 6u);
    EXPECT_EQ(videoEnds[0].status(), 200);
    EXPECT_EQ(videoEnds.back().status(), 503);
    EXPECT_EQ(videoEnds.back().field("p"), "bonus-scan");
    std::string queue = readFile(options.outDir + "/sandbox/Library/Caches/hl/"
                                     "queued_postbacks_1.f0a0c83d68b73657fd2aaa22bb314751d195709c.plist");
    EXPECT_NE(queue.find("p=bonus-scan"), std::string::npos);
    EXPECT_EQ(lineWith("trillium service: "), -1);
    EXPECT_EQ(lineWith("relay service: "), -1);
}

TEST_F(HostHalcyonScenarioTest, AHalcyonServiceGivenByUrlIsRecorded) {
    // Its service has no ads: no screen shows, and no snapshot is written.
    simulator::HalcyonService external;
    ASSERT_TRUE(external.start());
    external.setAd(std::nullopt);
    external.setIncentivizedAd(std::nullopt);
    options.halcyonUrl = external.server().url("/");
    runHalcyonScenario();
    EXPECT_GE(lineWith("no snapshot halcyon-interstitial-dialog.png: the interstitial did not show"), 0);
    EXPECT_GE(lineWith("no snapshot halcyon-poststitial.png: the rewarded video's poststitial did not show"), 0);
    EXPECT_FALSE(std::filesystem::exists(options.outDir + "/snapshots/halcyon-interstitial-dialog.png"));
    EXPECT_FALSE(std::filesystem::exists(options.outDir + "/snapshots/halcyon-poststitial.png"));
    ASSERT_EQ(external.requestsTo(simulator::HalcyonService::kDevicePath).size(), 1u);
    auto device = of("halcyon", "/api/device");
    ASSERT_EQ(device.size(), 1u);
    EXPECT_EQ(device[0].status(), 200);
    EXPECT_EQ(device[0].serviceUrl().rfind(external.apiUrl() + "device?api_key=", 0), 0u) << device[0].serviceUrl();
    EXPECT_GE(lineWith("ad refresh every 120 s"), 0);
    external.stop();
}
