// Device identity against the Tamarind service: the exchanges byte for byte,
// once per registration interval across restarts, retried after a failure,
// held back while the stored preferences cannot be read.
#include <cerrno>
#include <cmath>

#include "platform/foundation/FileSystemConditions.h"
#include "platform/foundation/NSUserDefaults.h"
#include "tamarind/TMSISClient.h"
#include "tamarind/tests/TamarindTestSupport.h"

using simulator::Answer;
using simulator::TamarindService;

namespace {

class TMSISRecordingDelegate : public NSObject, public TMSISClientDelegate {
public:
    void sisClientDidBootstrapDevice(const std::string& deviceId) override { outcomes.push_back("ok " + deviceId); }
    void sisClientDidFailWithError(Ref<NSError> error) override {
        outcomes.push_back("failed " + error->localizedDescription());
    }
    std::vector<std::string> outcomes;
};

constexpr const char* kTMSISDeviceJson =
    "{\"os\":\"ios\",\"osVersion\":\"9.0\",\"model\":\"iPhone8,1\",\"locale\":\"en_US\",\"screen\":\"320x568\","
    "\"scale\":2,\"idfa\":\"6D92078A-8246-4BA4-AE5B-76104861E7DC\",\"limitAdTracking\":false}";

}  // namespace

class TMSISClientTest : public TamarindTest {
protected:
    // Runs one bootstrap and waits for its outcome; false when none came.
    bool bootstrapDevice() {
        size_t before = delegate->outcomes.size();
        auto client = NSObject::alloc<TMSISClient>()->init();
        client->setDelegate(delegate);
        client->bootstrapDevice();
        return waitFor([&] { return delegate->outcomes.size() > before; });
    }
    size_t identityRequests() { return service.requestsUnder("/api3/").size(); }
    std::string startEvent() {
        auto ms = static_cast<int64_t>(std::floor(NSDate::date().timeIntervalSince1970() * 1000));
        return "{\"did\":\"sim-device-1\",\"appId\":\"tm-test-key\",\"events\":[{\"name\":\"appStart\",\"timestamp\":" +
               std::to_string(ms) + "}]}";
    }

    Ref<TMSISRecordingDelegate> delegate = NSObject::alloc<TMSISRecordingDelegate>();
};

TEST_F(TMSISClientTest, RegistersTheDeviceAndItsStartOncePerIntervalAcrossRestarts) {
    loadConfiguration();
    ASSERT_TRUE(bootstrapDevice());
    EXPECT_EQ(delegate->outcomes.back(), "ok sim-device-1");
    auto generated = service.requestsTo(TamarindService::kGenerateDevicePath);
    ASSERT_EQ(generated.size(), 1u);
    EXPECT_EQ(generated[0].header("Content-Type"), "application/json");
    EXPECT_EQ(generated[0].body, std::string("{\"appId\":\"tm-test-key\",\"sdkVersion\":\"tamarindAdSDK-ios-2.2.15\","
                                             "\"device\":") + kTMSISDeviceJson + "}");
    auto events = service.requestsTo(TamarindService::kRegisterEventPath);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].body, startEvent());
    EXPECT_EQ(TMSISClient::deviceIdentifier(), "sim-device-1");

    // Nothing is due again within the interval, also after a restart.
    NSObject::alloc<TMSISClient>()->init()->bootstrapDevice();
    restartProcessState();
    driver().advance(86399);
    NSObject::alloc<TMSISClient>()->init()->bootstrapDevice();
    EXPECT_TRUE(driver().settle());
    EXPECT_EQ(identityRequests(), 2u);

    driver().advance(1);
    ASSERT_TRUE(bootstrapDevice());
    auto updated = service.requestsTo(TamarindService::kUpdateDevicePath);
    ASSERT_EQ(updated.size(), 1u);
    EXPECT_EQ(updated[0].body, std::string("{\"did\":\"sim-device-1\",\"appId\":\"tm-test-key\",\"sdkVersion\":"
                                           "\"tamarindAdSDK-ios-2.2.15\",\"device\":") + kTMSISDeviceJson + "}");
    ASSERT_EQ(service.requestsTo(TamarindService::kRegisterEventPath).size(), 2u);
    EXPECT_EQ(service.requestsTo(TamarindService::kRegisterEventPath)[1].body, startEvent());
}

// The preferences cannot be read at a start: the stored identity is neither
// asked for anew nor its exchange repeated; once they read, nothing is due.
TEST_F(TMSISClientTest, PreferencesThatCannotBeReadHoldTheRegistrationBack) {
    loadConfiguration();
    ASSERT_TRUE(bootstrapDevice());
    const std::string preferences = home() + "/Library/Preferences";
    platform::testing::FileSystemConditions::setReadsFail(preferences, EIO);
    restartProcessState();
    // As the application sets it up at each start: the configuration loads.
    TMAdConfiguration::sharedAMAdConfiguration()->setConfigurationURL(service.configurationURL());
    ASSERT_TRUE(TamarindAdRegistration::sharedRegistration()->setApplicationId(kTamarindTestAppKey));
    loadConfiguration();
    NSObject::alloc<TMSISClient>()->init()->bootstrapDevice();
    EXPECT_TRUE(driver().settle());
    EXPECT_EQ(identityRequests(), 2u);

    platform::testing::FileSystemConditions::setReadsFail(preferences, std::nullopt);
    NSObject::alloc<TMSISClient>()->init()->bootstrapDevice();
    EXPECT_TRUE(driver().settle());
    EXPECT_EQ(identityRequests(), 2u);
    EXPECT_EQ(service.requestsTo(TamarindService::kGenerateDevicePath).size(), 1u);
    EXPECT_EQ(TMSISClient::deviceIdentifier(), "sim-device-1");
}

TEST_F(TMSISClientTest, AFailedExchangeIsRetriedAtTheNextBootstrap) {
    loadConfiguration();
    service.setAnswer("POST", TamarindService::kGenerateDevicePath, Answer::withStatus(500));
    ASSERT_TRUE(bootstrapDevice());
    EXPECT_EQ(delegate->outcomes.back(), "failed The identity service answered /generate_did with HTTP status 500.");
    service.setAnswer("POST", TamarindService::kGenerateDevicePath, Answer::ok("{\"did\": 42}"));
    ASSERT_TRUE(bootstrapDevice());
    EXPECT_EQ(delegate->outcomes.back(), "failed The identity service answered without a device identity.");
    EXPECT_EQ(TMSISClient::deviceIdentifier(), std::nullopt);
    EXPECT_TRUE(service.requestsTo(TamarindService::kRegisterEventPath).empty());

    service.setAnswer("POST", TamarindService::kGenerateDevicePath, Answer::ok("{\"did\":\"second-try\"}"));
    service.setAnswer("POST", TamarindService::kRegisterEventPath, Answer::drop());
    ASSERT_TRUE(bootstrapDevice());
    EXPECT_EQ(TMSISClient::deviceIdentifier(), "second-try");
    // The identity stands; only the start is due again.
    service.setAnswer("POST", TamarindService::kRegisterEventPath, Answer::ok());
    ASSERT_TRUE(bootstrapDevice());
    EXPECT_EQ(delegate->outcomes.back(), "ok second-try");
    EXPECT_EQ(service.requestsTo(TamarindService::kGenerateDevicePath).size(), 3u);
    EXPECT_EQ(service.requestsTo(TamarindService::kRegisterEventPath).size(), 2u);
}

TEST_F(TMSISClientTest, NothingIsSentWithoutAnIdentityService) {
    NSObject::alloc<TMSISClient>()->init()->bootstrapDevice();
    EXPECT_TRUE(driver().settle());
    EXPECT_EQ(identityRequests(), 0u);
}
