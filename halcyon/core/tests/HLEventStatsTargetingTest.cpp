// Event pixels decoded from the requests the service recorded (the query
// keys, device entries, "postinstall" with "sub_event", slot 111 at the next
// start, sanitised parameters, checkout and purchase keys), and the stored
// counters and targeting values: kept after every change, across restarts,
// ignored when stored as the wrong kind (or as values JSON cannot hold),
// sent with the device data and cleared by a reset.
#include <gtest/gtest.h>

#include <filesystem>

#include "halcyon/core/HLEventService.h"
#include "halcyon/core/HLStatsManager.h"
#include "halcyon/core/HLTargetingData.h"
#include "halcyon/core/tests/HalcyonTestSupport.h"
#include "platform/foundation/NSData.h"

namespace {

using simulator::HalcyonPixel;
using simulator::HalcyonService;

constexpr const char* kHLEventTestIdfa = "6D92078A-8246-4BA4-AE5B-76104861E7DC";

class HLEventStatsTargetingTest : public HalcyonTest {
protected:
    void SetUp() override {
        HalcyonTest::SetUp();
        profile().advertisingIdentifier = kHLEventTestIdfa;
    }
    std::vector<std::string> keysOf(const HalcyonPixel& pixel) {
        std::vector<std::string> keys;
        for (const auto& [key, value] : pixel.query) keys.push_back(key);
        return keys;
    }
    // The pixels of one event type ("event", or "sub_event" for the others).
    std::vector<HalcyonPixel> pixelsOf(std::string_view type) {
        std::vector<HalcyonPixel> found;
        for (auto& pixel : service.eventPixels())
            if (pixel.field("sub_event").value_or(pixel.field("event").value_or("")) == type) found.push_back(pixel);
        return found;
    }
    Ref<NSUserDefaults> defaults = NSUserDefaults::standardUserDefaults();
};

TEST_F(HLEventStatsTargetingTest, TheLandingPixelCarriesTheTwelveKeysThenTheDeviceEntries) {
    Ref<HLSdk> sdk = startSdk();
    const std::string now = Value(NSDate::date().timeIntervalSince1970() * 1000).stringValue();
    std::vector<HalcyonPixel> pixels = service.eventPixels();
    ASSERT_EQ(pixels.size(), 1u);
    const HalcyonPixel landing = pixels[0];
    EXPECT_EQ(landing.request.method, "POST");
    EXPECT_EQ(landing.body, Value::dictionary({}));
    // Device entries replace the same keys in place; each key occurs once.
    EXPECT_EQ(keysOf(landing),
              (std::vector<std::string>{"event", "api_did", "ts", "event_id", "ia", "package_name", "sdk_key",
                                        "sdk_version", "app_version", "idfa", "dnt", "os", "brand", "model",
                                        "revision", "locale", "platform", "tz_offset", "orientation_lock",
                                        "postback_ts"}));
    EXPECT_EQ(landing.field("event"), "landing");
    EXPECT_EQ(landing.field("api_did"), "");  // the device submission answers after the landing
    EXPECT_EQ(landing.field("ts"), now);
    EXPECT_EQ(landing.field("postback_ts"), now);
    std::string id = landing.field("event_id").value_or("");
    EXPECT_EQ(id.size(), 40u);
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_FALSE(landing.field("ia").value_or("").empty());
    EXPECT_EQ(landing.field("package_name"), "com.paranormal.detector");
    EXPECT_EQ(landing.field("sdk_key"), kHLTestSdkKey);
    EXPECT_EQ(landing.field("sdk_version"), "3.4.3");
    EXPECT_EQ(landing.field("app_version"), "1.0");
    EXPECT_EQ(landing.field("idfa"), kHLEventTestIdfa);
    EXPECT_EQ(landing.field("dnt"), "false");
    EXPECT_EQ(landing.field("os"), "9.0");
    EXPECT_EQ(landing.field("revision"), "iPhone8,1");
    EXPECT_EQ(landing.field("sub_event"), std::nullopt);
    // A comma is outside the escaped set: it goes out as it is.
    EXPECT_NE(landing.request.query->find("revision=iPhone8,1&"), std::string::npos);

    // Tracking limited: the identifier is left out, as in the device data.
    profile().advertisingTrackingEnabled = false;
    sdk->eventService()->trackEvent("landing");
    ASSERT_TRUE(settle());
    pixels = service.eventPixels();
    ASSERT_EQ(pixels.size(), 2u);
    EXPECT_EQ(pixels[1].field("dnt"), "true");
    EXPECT_EQ(pixels[1].count("idfa"), 0u);
    EXPECT_NE(pixels[1].field("event_id"), landing.field("event_id"));
}

TEST_F(HLEventStatsTargetingTest, OtherEventsGoOutAsPostinstallWithTheirParametersAsStrings) {
    Ref<HLSdk> sdk = startSdk();
    const NSDate when = NSDate::dateWithTimeIntervalSince1970(1500000000.25);
    sdk->eventService()->trackEvent(
        "level_up", Value::dictionary({{"score", 12}, {"ratio", 0.5}, {"name", "ghost"}, {"when", Value(when)},
                                       {"blob", Value(NSData::dataWithString("hi"))}, {"list", Value::array({1})},
                                       {"map", Value::dictionary({})}}));
    ASSERT_TRUE(settle());
    std::vector<HalcyonPixel> pixels = pixelsOf("level_up");
    ASSERT_EQ(pixels.size(), 1u);
    EXPECT_EQ(pixels[0].field("event"), "postinstall");
    EXPECT_EQ(keysOf(pixels[0])[keysOf(pixels[0]).size() - 2], "sub_event");
    EXPECT_EQ(pixels[0].body, Value::dictionary({{"score", "12"},
                                                 {"ratio", "0.5"},
                                                 {"name", "ghost"},
                                                 {"when", "1500000000250"},
                                                 {"blob", "aGk="}}));
    EXPECT_EQ(listener->count("Unable to encode event parameter list. The dictionary passed to "
                              "trackEvent:parameters: should contain only NSString keys"),
              1u);
    EXPECT_EQ(listener->count("Unable to encode event parameter map."), 1u);
    EXPECT_TRUE(logCapture().contains("USER [HLEventService] Unable to encode event parameter list."));
}

TEST_F(HLEventStatsTargetingTest, CheckoutAndPurchaseCarryTheirKeysWithOrWithoutADictionary) {
    std::filesystem::create_directories(bundlePath() + "/StoreKit");
    ASSERT_TRUE(NSData::dataWithString("receipt-bytes").writeToFile(bundlePath() + "/StoreKit/receipt", true));
    Ref<HLSdk> sdk = startSdk();
    auto events = sdk->eventService();
    events->trackCheckoutWithTransactionIdentifier(std::string("T-1"), Value());
    events->trackInAppPurchaseWithTransactionIdentifier(std::string("S-1"), Value());
    events->trackInAppPurchaseWithTransactionIdentifier(std::string("S-2"),
                                                        Value::dictionary({{"receipt_data", "the caller's"}}));
    ASSERT_TRUE(settle());
    std::vector<HalcyonPixel> checkout = pixelsOf("checkout");
    ASSERT_EQ(checkout.size(), 1u);
    EXPECT_EQ(checkout[0].body, Value::dictionary({{"transaction_id", "T-1"}}));
    std::vector<HalcyonPixel> iap = pixelsOf("iap");
    ASSERT_EQ(iap.size(), 2u);
    EXPECT_EQ(iap[0].field("event"), "iap");
    EXPECT_EQ(iap[0].body, Value::dictionary({{"store_id", "S-1"}, {"receipt_data", "cmVjZWlwdC1ieXRlcw=="}}));
    EXPECT_EQ(iap[1].body, Value::dictionary({{"receipt_data", "the caller's"}, {"store_id", "S-2"}}));
}

TEST_F(HLEventStatsTargetingTest, AServerChangeOfTopLevelEventsAppliesFromTheNextStart) {
    service.setSettings(std::string(R"({"top_level_events": "landing"})"));
    Ref<HLSdk> sdk = startSdk();
    ASSERT_EQ(sdk->stringForKey(kHLSlotTopLevelEvents), "landing");
    sdk->eventService()->trackCheckoutWithTransactionIdentifier(std::string("T-1"), Value());
    ASSERT_TRUE(settle());
    EXPECT_EQ(pixelsOf("checkout").back().field("event"), "checkout");

    Ref<HLSdk> next = restartSdk();
    next->eventService()->trackCheckoutWithTransactionIdentifier(std::string("T-2"), Value());
    ASSERT_TRUE(settle());
    const HalcyonPixel second = pixelsOf("checkout").back();
    EXPECT_EQ(second.field("event"), "postinstall");
    EXPECT_EQ(second.field("sub_event"), "checkout");
    EXPECT_EQ(second.field("api_did"), "hl-device-1");

    // Switched off: nothing is sent.
    auto settings = serviceSettings();
    settings->putBool(false, kHLSlotEventsEnabled);
    Ref<HLSdk> off = restartSdk(settings);
    const size_t before = service.eventPixels().size();
    off->eventService()->trackEvent("anything");
    ASSERT_TRUE(settle());
    EXPECT_EQ(service.eventPixels().size(), before);
}

TEST_F(HLEventStatsTargetingTest, CountersAreKeptAfterEveryChangeAndSentWithTheDeviceData) {
    Ref<HLSdk> sdk = startSdk();
    auto stats = sdk->statsManager();
    EXPECT_EQ(stats->userDataKey(), std::string(kHLTestSettingsKey) + ".stats");
    EXPECT_EQ(stats->valueOfKey("ad_req"), Value(0));
    stats->incrementKey("ad_req");
    stats->incrementKey("ad_req");
    stats->incrementKey("ad_imp_session");
    stats->setValue(Value(5.5), "ad_session_start");
    stats->setValue(Value(Ref<NSObject>(NSObject::alloc<NSObject>())), "object");
    EXPECT_TRUE(listener->contains("Refused a statistic that cannot be stored: object"));
    stats->setValue(Value("9"), "counter");
    stats->incrementKey("counter");  // a stored string counts by its number
    const Value expected =
        Value::dictionary({{"ad_req", 2}, {"ad_imp_session", 1}, {"ad_session_start", 5.5}, {"counter", 10}});
    EXPECT_EQ(defaults->objectForKey(stats->userDataKey()), expected);

    // A restart reads them back and clears the session count.
    Ref<HLSdk> next = restartSdk();
    Value stored = next->statsManager()->stats();
    EXPECT_EQ(stored["ad_req"], Value(2));
    EXPECT_FALSE(stored.contains("ad_imp_session"));
    auto devices = service.requestsTo(HalcyonService::kDevicePath);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(HalcyonService::jsonBody(devices[1])["stats"], stored);

    // A wrong kind stored is ignored with a line (on the console: the
    // counters load before the publisher's listener is given).
    Value table = storedSettings();
    table.set("is_verbose_logging", true);
    defaults->setObject(table, kHLTestSettingsKey);
    defaults->setObject(Value::array({1, 2}), next->statsManager()->userDataKey());
    Ref<HLSdk> third = restartSdk();
    EXPECT_EQ(third->statsManager()->stats(), Value::dictionary({}));
    EXPECT_TRUE(logCapture().contains("ERROR [HLStatsManager] Ignored stored statistics that are not a dictionary"));
}

TEST_F(HLEventStatsTargetingTest, StoredValuesJsonCannotHoldAreDroppedAndTheDeviceDataGoesOut) {
    const std::string key = std::string(kHLTestSettingsKey) + ".stats";
    // Verbose as stored: the counters load before the publisher's listener
    // is given, so their lines reach the console only.
    defaults->setInteger(kHLSdkVersionCode, HLSdk::lastKnownVersionCodeKey());
    defaults->setObject(Value::dictionary({{"is_verbose_logging", true}}), kHLTestSettingsKey);
    defaults->setObject(Value::dictionary({{"ad_req", 3},
                                           {"when", NSDate::date()},
                                           {"blob", NSData::dataWithString("x")},
                                           {"list", Value::array({1, NSDate::date()})},
                                           {"label", "kept"}}),
                        key);
    Ref<HLSdk> sdk = startSdk();
    const Value kept = Value::dictionary({{"ad_req", 3}, {"label", "kept"}});
    auto submissions = service.requestsTo(HalcyonService::kDevicePath);
    ASSERT_EQ(submissions.size(), 1u);
    EXPECT_EQ(HalcyonService::jsonBody(submissions[0])["stats"], kept);
    EXPECT_EQ(logCapture().count("ERROR [HLStatsManager] Dropped the stored statistic"), 3u);
    EXPECT_EQ(defaults->objectForKey(key), kept);

    sdk->statsManager()->setValue(Value(NSDate::date()), "later");
    EXPECT_TRUE(listener->contains("Refused a statistic that cannot be stored: later"));
    EXPECT_EQ(sdk->statsManager()->stats(), kept);
}

TEST_F(HLEventStatsTargetingTest, TargetingStoresAcceptedValuesAsStrings) {
    Ref<HLSdk> sdk = startSdk();
    auto targeting = sdk->targetingData();
    EXPECT_EQ(targeting->targetKey(), std::string(kHLTestSettingsKey) + ".targeting");
    targeting->setBirthYear(1900);
    EXPECT_EQ(targeting->allData(), Value::dictionary({}));
    EXPECT_EQ(targeting->birthYear(), 1900);
    targeting->setBirthYear(1901);
    EXPECT_EQ(targeting->allData()["yob"], Value("1901"));
    targeting->setBirthYear(9999);
    targeting->setBirthYear(9998);
    EXPECT_EQ(targeting->allData()["yob"], Value("9998"));
    targeting->setGender('M');
    targeting->setGender('x');
    EXPECT_FALSE(targeting->allData().contains("gender"));
    targeting->setGender('f');
    targeting->setKeywords({"a b", "c"});
    targeting->setKeywords({});
    targeting->setInterests({" cats ", "", "dogs"});
    targeting->setLanguage(std::string(""));
    targeting->setLanguage(std::string("de"));
    targeting->setExtraValue(std::string("v"), std::string("k"));
    targeting->setExtraValue(std::string(""), std::string("k2"));
    targeting->setCarrier(std::string("x"));
    targeting->setCountry(std::string("x"));
    targeting->setLocationWithLatitude(1, 2);
    const Value expected = Value::dictionary({{"yob", "9998"},
                                              {"gender", "f"},
                                              {"keywords", "a b,c"},
                                              {"interests", " cats ,,dogs"},
                                              {"language", "de"},
                                              {"ex_k", "v"}});
    EXPECT_EQ(targeting->allData(), expected);
    EXPECT_TRUE(listener->contains("Explicitly setting `carrier` targeting data is deprecated."));
    EXPECT_TRUE(listener->contains("Explicitly setting `country code` targeting data is deprecated."));
    EXPECT_TRUE(listener->contains("Explicitly setting location targeting data is deprecated."));

    // Kept across a restart and sent with the device data.
    Ref<HLSdk> next = restartSdk();
    EXPECT_EQ(next->targetingData()->allData(), expected);
    auto devices = service.requestsTo(HalcyonService::kDevicePath);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(HalcyonService::jsonBody(devices[1])["targeting"], expected);
    next->targetingData()->clearAll();
    EXPECT_EQ(next->targetingData()->allData(), Value::dictionary({}));

    // A wrong kind stored reads as empty, and the next value starts afresh.
    defaults->setObject(Value("junk"), next->targetingData()->targetKey());
    EXPECT_EQ(next->targetingData()->allData(), Value::dictionary({}));
    EXPECT_TRUE(listener->contains("Ignored stored targeting that is not a dictionary"));
    next->targetingData()->setLanguage(std::string("fr"));
    EXPECT_EQ(next->targetingData()->allData(), Value::dictionary({{"language", "fr"}}));
}

TEST_F(HLEventStatsTargetingTest, AResetClearsCountersAndTargeting) {
    Ref<HLSdk> sdk = startSdk();
    sdk->statsManager()->incrementKey("ad_req");
    sdk->targetingData()->setGender('m');
    sdk->resetSdkState();
    EXPECT_EQ(defaults->objectForKey(sdk->statsManager()->userDataKey()), Value::dictionary({}));
    EXPECT_EQ(defaults->objectForKey(sdk->targetingData()->targetKey()), Value::dictionary({}));
    Ref<HLSdk> next = restartSdk();
    auto devices = service.requestsTo(HalcyonService::kDevicePath);
    ASSERT_EQ(devices.size(), 2u);
    Value body = HalcyonService::jsonBody(devices[1]);
    EXPECT_EQ(body["stats"], Value::dictionary({}));
    EXPECT_EQ(body["targeting"], Value::dictionary({}));
}

}  // namespace
