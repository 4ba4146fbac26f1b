// The device-data submission as the service receives it: decoded field by
// field, "first_install" true once across restarts, identifiers kept with or
// without "settings", the tracking choice, orientations and time zones, and
// answers that are refused, partial, malformed or huge changing nothing.
#include <gtest/gtest.h>

#include "halcyon/core/HLDataCollector.h"
#include "halcyon/core/tests/HalcyonTestSupport.h"
#include "platform/foundation/DeviceProfile.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSFileManager.h"

namespace {

using simulator::Answer;
using simulator::HalcyonService;

constexpr const char* kHLTestIdfa = "6D92078A-8246-4BA4-AE5B-76104861E7DC";

class HLDeviceDataTest : public HalcyonTest {
protected:
    void SetUp() override {
        HalcyonTest::SetUp();
        profile().advertisingIdentifier = kHLTestIdfa;
    }
    std::vector<simulator::RecordedRequest> submissions() { return service.requestsTo(HalcyonService::kDevicePath); }
    Value lastBody() {
        auto all = submissions();
        return all.empty() ? Value() : HalcyonService::jsonBody(all.back());
    }
    // The stored identifiers (slots 2 to 5), "" when absent.
    std::vector<std::string> storedIdentifiers() {
        Value stored = storedSettings();
        std::vector<std::string> ids;
        for (const char* key : {"device_id", "device_token", "publisher_id", "app_id"})
            ids.push_back(stored[key].stringValue());
        return ids;
    }
    const std::vector<std::string> served = {"hl-device-1", "hl-token-1", "hl-publisher-1", "hl-app-1"};
};

TEST_F(HLDeviceDataTest, TheSubmissionDecodesFieldByField) {
    profile().timeZoneName = "Asia/Kolkata";
    profile().carrier = platform::DeviceCarrier{"Test Mobile", "310", "260", "us"};
    profile().localeIdentifier = "fr_CA";
    startSdk();
    auto all = submissions();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].method, "POST");
    EXPECT_EQ(all[0].query, std::string("api_key=") + kHLTestSdkKey);
    Value body = HalcyonService::jsonBody(all[0]);
    EXPECT_EQ(body.keys(), (std::vector<std::string>{"device_info", "app_info", "targeting", "stats"}));
    const Value& device = body["device_info"];
    EXPECT_EQ(device.keys(),
              (std::vector<std::string>{"brand", "model", "revision", "locale", "platform", "os", "tz_offset", "carrier",
                                        "country_code", "orientation_lock", "dnt", "idfa", "type"}));
    EXPECT_EQ(device["brand"], Value("Apple"));
    EXPECT_EQ(device["model"], Value("iPhone"));
    EXPECT_EQ(device["revision"], Value("iPhone8,1"));
    EXPECT_EQ(device["locale"], Value("fr_CA"));
    EXPECT_EQ(device["platform"], Value("ios"));
    EXPECT_EQ(device["type"], Value("ios"));
    EXPECT_EQ(device["os"], Value("9.0"));
    EXPECT_TRUE(device["tz_offset"].isDouble());
    EXPECT_EQ(device["tz_offset"].doubleValue(), 5.5);
    EXPECT_EQ(device["carrier"], Value("Test Mobile"));
    EXPECT_EQ(device["country_code"], Value("US"));
    EXPECT_EQ(device["orientation_lock"], Value("portrait"));
    EXPECT_EQ(device["dnt"], Value("false"));
    EXPECT_EQ(device["idfa"], Value(kHLTestIdfa));
    const Value& app = body["app_info"];
    EXPECT_EQ(app.keys(), (std::vector<std::string>{"app_name", "package_name", "halcyon_sdk_version", "app_version",
                                                    "installed_at", "first_install"}));
    EXPECT_EQ(app["app_name"], Value("Paranormal Detector"));
    EXPECT_EQ(app["package_name"], Value("com.paranormal.detector"));
    EXPECT_EQ(app["halcyon_sdk_version"], Value("3.4.3"));
    EXPECT_EQ(app["app_version"], Value("1.0"));
    EXPECT_EQ(app["first_install"], Value("true"));
    EXPECT_EQ(body["targeting"], Value::dictionary({}));
    EXPECT_EQ(body["stats"], Value::dictionary({}));
}

TEST_F(HLDeviceDataTest, FirstInstallIsTrueInExactlyOneSubmissionAcrossRestarts) {
    startSdk();
    EXPECT_EQ(lastBody()["app_info"]["first_install"], Value("true"));
    // The install time is the documents folder's creation, the same at every start.
    Value documents = NSFileManager::defaultManager()->attributesOfItemAtPath(home() + "/Documents");
    ASSERT_TRUE(documents[NSFileCreationDate].date());
    const auto installedAt = static_cast<long long>(documents[NSFileCreationDate].date()->timeIntervalSince1970() * 1000);
    EXPECT_EQ(lastBody()["app_info"]["installed_at"], Value(installedAt));
    driver().advance(3600);
    restartSdk();
    EXPECT_EQ(lastBody()["app_info"]["first_install"], Value("false"));
    EXPECT_EQ(lastBody()["app_info"]["installed_at"], Value(installedAt));
    restartSdk();
    ASSERT_EQ(submissions().size(), 3u);
    EXPECT_EQ(lastBody()["app_info"]["first_install"], Value("false"));
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->stringForKey(HLSdk::isFirstRunKey()), "false");
}

TEST_F(HLDeviceDataTest, IdentifiersAreKeptWithoutSettingsAndUsedAfterARestart) {
    Ref<HLSdk> sdk = startSdk();
    EXPECT_EQ(storedIdentifiers(), served);
    EXPECT_EQ(sdk->stringForKey(kHLSlotDeviceToken), "hl-token-1");
    restartSdk();
    ASSERT_EQ(submissions().size(), 2u);
    EXPECT_EQ(submissions()[1].query, "device_token=hl-token-1");
}

TEST_F(HLDeviceDataTest, SettingsInTheAnswerAreAppliedAndKept) {
    service.setSettings(R"({"get_retry_delay": "2500", "hash_algorithm": 5, "short_hash_size": "abc",
                           "unknown_setting": 1, "countdown_color": [1], "adserver_endpoint": null})");
    service.setDeviceIdentity({"d2", "t2", "p2", "a2", std::string("vz2")});
    Ref<HLSdk> sdk = startSdk();
    EXPECT_EQ(sdk->timeIntervalForKey(kHLSlotGetRetryDelay), 2500);
    EXPECT_EQ(sdk->stringForKey(kHLSlotHashAlgorithm), "5");
    EXPECT_EQ(sdk->integerForKey(kHLSlotShortHashSize), 16);  // emptied: the default again
    EXPECT_EQ(sdk->stringForKey(34), "#C8FFFFFF");
    EXPECT_EQ(sdk->stringForKey(kHLSlotAdServerEndpoint), service.adServerUrl());
    EXPECT_TRUE(listener->contains("WARN [HLSettingsManager] Setting \"unknown_setting\" is unknown, ignoring"));
    EXPECT_TRUE(listener->contains("DEBUG [ConnectionUtils] New settings processed"));
    Value stored = storedSettings();
    EXPECT_EQ(stored["get_retry_delay"], Value(2500));
    EXPECT_EQ(stored["app_id"], Value("vz2"));  // "vz" wins over "app_id"
    EXPECT_FALSE(stored.contains("short_hash_size"));
    EXPECT_FALSE(stored.contains("countdown_color"));
}

TEST_F(HLDeviceDataTest, AnAnswerWithoutAllIdentifiersStoresNoneOnAnyAttempt) {
    const std::string partial = R"({"results": [{"device_id": "d", "device_token": "t", "app_id": "a"}]})";
    service.script(HalcyonService::kDevicePath, {Answer::ok(partial)});
    Ref<HLSdk> sdk = startSdk();
    EXPECT_EQ(sdk->stringForKey(kHLSlotDeviceId), "");
    EXPECT_TRUE(listener->contains("Unable to perform API hanshake. The answer lacks an identifier"));

    // The same answer to a retried attempt, which runs on queue 1.
    service.script(HalcyonService::kDevicePath, {Answer::withStatus(503), Answer::ok(partial)});
    restartSdk();
    driver().advance(10);
    ASSERT_TRUE(settle());
    EXPECT_EQ(submissions().size(), 3u);
    EXPECT_EQ(listener->count("The answer lacks an identifier"), 2u);
    EXPECT_EQ(storedIdentifiers(), (std::vector<std::string>{"", "", "", ""}));
}

TEST_F(HLDeviceDataTest, MalformedOrHugeAnswersChangeNothing) {
    startSdk();
    Value before = storedSettings();
    std::string deep(20000, '[');
    std::string huge = "{\"results\": [{\"device_id\": \"" + std::string(3 << 20, 'x') + "\"}]}";
    std::vector<Answer> answers = {Answer::ok("[]"),
                                   Answer::ok(R"({"results": {"device_id": "d"}})"),
                                   Answer::ok(R"({"results": [5]})"),
                                   Answer::ok(R"({"results": []})"),
                                   Answer::ok(R"({"results": [{"device_id": "d", "device_token": )"),
                                   Answer::ok("not json at all"),
                                   Answer::ok(deep),
                                   Answer::ok(huge),
                                   Answer::ok(R"({"results": [{"device_id": ["d"], "device_token": {}, "publisher_id": null, "app_id": true}]})"),
                                   Answer::ok(R"({"results": [{"device_id": "d", "device_token": "t", "publisher_id": "p", "app_id": "a", "settings": [1]}]})")};
    size_t count = answers.size();
    for (auto& answer : answers) {
        service.script(HalcyonService::kDevicePath, {std::move(answer)});
        restartSdk();
        if (storedSettings()["device_id"] == Value("d")) {
            // The last answer is whole but its "settings" are not an object:
            // the identifiers are taken, the settings ignored.
            EXPECT_TRUE(listener->contains("Ignoring \"settings\" that are not an object"));
            break;
        }
        EXPECT_EQ(storedSettings(), before) << submissions().size();
    }
    EXPECT_EQ(submissions().size(), count + 1);
}

TEST_F(HLDeviceDataTest, RefusalsOfTheKeyActThroughTheSubmission) {
    startSdk();
    service.scriptStatuses(HalcyonService::kDevicePath, {401});
    Ref<HLSdk> sdk = restartSdk();
    EXPECT_EQ(storedIdentifiers(), (std::vector<std::string>{"", "", "hl-publisher-1", "hl-app-1"}));
    EXPECT_TRUE(logCapture().contains("is rejected by Halcyon"));

    service.scriptStatuses(HalcyonService::kDevicePath, {418});
    restartSdk();
    EXPECT_EQ(storedSettings()["is_disabled"], Value(true));
    EXPECT_EQ(submissions().back().query, std::string("api_key=") + kHLTestSdkKey);

    service.scriptStatuses(HalcyonService::kDevicePath, {403});
    restartSdk();
    EXPECT_EQ(storedSettings(), Value::dictionary({}));

    // A server failure is retried once (slot 6), then changes nothing.
    restartSdk();  // the identifiers stored again
    Value before = storedSettings();
    EXPECT_EQ(storedIdentifiers(), served);
    service.scriptStatuses(HalcyonService::kDevicePath, {500, 500});
    restartSdk();
    driver().advance(10);
    ASSERT_TRUE(settle());
    EXPECT_EQ(storedSettings(), before);
    EXPECT_EQ(submissions().size(), 7u);
}

TEST_F(HLDeviceDataTest, TheTrackingChoiceIsReadAtEveryCall) {
    profile().advertisingTrackingEnabled = false;
    Ref<HLSdk> sdk = startSdk();
    Value device = lastBody()["device_info"];
    EXPECT_EQ(device["dnt"], Value("true"));
    EXPECT_FALSE(device.contains("idfa"));
    sdk->settingsManager()->putBool(true, kHLSlotQq);
    Value again = sdk->dataCollector()->deviceInformation();
    EXPECT_EQ(again["dnt"], Value("true"));
    EXPECT_EQ(again["idfa"], Value(kHLTestIdfa));
}

TEST_F(HLDeviceDataTest, OrientationsAndTimeZonesAsTheDeviceHasThem) {
    auto bundle = NSBundle::mainBundle();
    Ref<HLSdk> sdk = startSdk();
    EXPECT_EQ(lastBody()["device_info"]["tz_offset"], Value(0));
    struct Case {
        Value orientations;
        const char* expected;
    };
    for (const Case& c : {Case{Value::array({"UIInterfaceOrientationPortrait", "UIInterfaceOrientationLandscapeLeft"}), "none"},
                          Case{Value::array({"UIInterfaceOrientationLandscapeRight"}), "landscape"},
                          Case{Value::array({"UIInterfaceOrientationPortraitUpsideDown", 5}), "portrait"},
                          Case{Value("UIInterfaceOrientationPortrait"), "unknown"}, Case{Value(), "unknown"}}) {
        bundle->setInfoDictionaryValue("UISupportedInterfaceOrientations", c.orientations);
        auto collector = NSObject::alloc<HLDataCollector>()->initWithSdk(sdk);
        EXPECT_EQ(collector->deviceInformation()["orientation_lock"], Value(c.expected)) << c.expected;
    }
    profile().timeZoneName = "America/St_Johns";  // UTC-03:30 in winter, -02:30 in summer
    auto collector = NSObject::alloc<HLDataCollector>()->initWithSdk(sdk);
    double offset = collector->deviceInformation()["tz_offset"].doubleValue();
    EXPECT_TRUE(offset == -3.5 || offset == -2.5) << offset;
}

}  // namespace
