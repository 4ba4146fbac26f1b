#include <unistd.h>

#include <cerrno>

#include "platform/foundation/ASIdentifierManager.h"
#include "platform/foundation/CLLocationManager.h"
#include "platform/foundation/CTTelephonyNetworkInfo.h"
#include "platform/foundation/CaptiveNetwork.h"
#include "platform/foundation/FileSystemConditions.h"
#include "platform/foundation/NSProcessInfo.h"
#include "platform/foundation/Platform.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Uname.h"
#include "platform/testing/PlatformTest.h"

using platform::DeviceProfile;
using platform::PropertyList;

namespace {

class LocationRecorder : public NSObject, public CLLocationManagerDelegate {
public:
    std::vector<CLLocationCoordinate2D> seen;
    void locationManagerDidUpdateLocations(Ref<CLLocationManager>, std::vector<Ref<CLLocation>> locations) override {
        for (const auto& l : locations) seen.push_back(l->coordinate());
    }
};

}  // namespace

class DeviceProfileTest : public platform::testing::PlatformTest {
protected:
    void reinitialize(std::optional<DeviceProfile> profileOption = std::nullopt) {
        Platform::shutdown();
        PlatformOptions options;
        options.homeDirectory = home();
        options.bundlePath = bundlePath();
        options.clock = PlatformOptions::ClockKind::Virtual;
        options.deviceProfile = std::move(profileOption);
        Platform::initialize(options);
    }
};

TEST_F(DeviceProfileTest, DefaultsFollowTheIdiom) {
    EXPECT_EQ(profile().systemName, "iOS");
    EXPECT_EQ(profile().systemVersion, "9.0");
    EXPECT_EQ(profile().effectiveModel(), "iPhone");
    EXPECT_EQ(profile().effectiveMachine(), "iPhone8,1");
    EXPECT_EQ(profile().effectiveScreenSize().height, 568);
    EXPECT_EQ(profile().effectiveUserAgent(), "iPhone; CPU OS 9_0; Mobile");
    EXPECT_EQ(profile().networkState, platform::NetworkState::WiFi);
    profile().idiom = 1;
    EXPECT_EQ(profile().effectiveModel(), "iPad");
    EXPECT_EQ(profile().effectiveName(), "iPad");
    EXPECT_EQ(profile().effectiveMachine(), "iPad5,3");
    EXPECT_EQ(profile().effectiveScreenSize().width, 768);
    EXPECT_EQ(platform::uname().machine, "iPad5,3");
    profile().machine = "iPhone7,2";
    EXPECT_EQ(platform::uname().machine, "iPhone7,2");
}

TEST_F(DeviceProfileTest, TheProfileFileIsReadAtStartUpAndOptionsWin) {
    ASSERT_TRUE(PropertyList::writeToFile(
        Value::dictionary({
            {"systemVersion", "8.1.2"},
            {"idiom", 1},
            {"screenSize", Value::dictionary({{"width", 1024}, {"height", 1366}})},
            {"carrier", Value::dictionary({{"carrierName", "Spectral"}, {"isoCountryCode", "gb"}})},
            {"networkState", "mobile"},
            {"timeZoneName", 5},  // wrong kind: logged, default kept
            {"haunted", true},    // unknown: logged
        }),
        home() + "/Library/DeviceProfile.plist", PropertyList::Format::XML));
    reinitialize();
    EXPECT_EQ(profile().systemVersion, "8.1.2");
    EXPECT_EQ(profile().effectiveModel(), "iPad");
    EXPECT_EQ(profile().effectiveScreenSize().height, 1366);
    EXPECT_EQ(profile().networkState, platform::NetworkState::Mobile);
    EXPECT_EQ(profile().timeZoneName, "UTC");
    EXPECT_TRUE(logCapture().contains("\"timeZoneName\" has the wrong kind"));
    EXPECT_TRUE(logCapture().contains("unknown key \"haunted\""));
    const NSOperatingSystemVersion version = NSProcessInfo::processInfo()->operatingSystemVersion();
    EXPECT_EQ(version.majorVersion, 8);
    EXPECT_EQ(version.minorVersion, 1);
    EXPECT_EQ(version.patchVersion, 2);

    DeviceProfile given;
    given.systemVersion = "7.1";
    reinitialize(given);
    EXPECT_EQ(profile().systemVersion, "7.1");
    EXPECT_EQ(profile().idiom, 0);
}

TEST_F(DeviceProfileTest, IdentifiersArePersistedAcrossRestarts) {
    const std::string vendor = DeviceProfile::identifierForVendor();
    const std::string advertising = ASIdentifierManager::sharedManager()->advertisingIdentifier()->UUIDString();
    EXPECT_EQ(vendor.size(), 36u);
    EXPECT_NE(vendor, advertising);
    restartProcessState();
    EXPECT_EQ(DeviceProfile::identifierForVendor(), vendor);
    reinitialize();
    EXPECT_EQ(ASIdentifierManager::sharedManager()->advertisingIdentifier()->UUIDString(), advertising);
    const Value stored = *PropertyList::valueWithContentsOfFile(home() + "/Library/Preferences/platform.identity.plist");
    EXPECT_EQ(stored["identifierForVendor"].stringValue(), vendor);
    EXPECT_EQ(stored["advertisingIdentifier"].stringValue(), advertising);

    profile().advertisingIdentifier = "00000000-1111-2222-3333-444444444444";
    EXPECT_EQ(ASIdentifierManager::sharedManager()->advertisingIdentifier()->UUIDString(), profile().advertisingIdentifier);
    profile().advertisingIdentifier = "not a uuid";
    EXPECT_EQ(ASIdentifierManager::sharedManager()->advertisingIdentifier()->UUIDString(), advertising);
    EXPECT_TRUE(logCapture().contains("is not a UUID"));
    EXPECT_TRUE(ASIdentifierManager::sharedManager()->isAdvertisingTrackingEnabled());
    profile().advertisingTrackingEnabled = false;
    EXPECT_FALSE(ASIdentifierManager::sharedManager()->isAdvertisingTrackingEnabled());
}

// The identity file cannot be read at a start (the file-system seam): it is
// never written over, and its identifiers come back once it reads.
TEST_F(DeviceProfileTest, AnUnreadableIdentityFileKeepsItsIdentifiers) {
    const std::string file = home() + "/Library/Preferences/platform.identity.plist";
    const std::string vendor = DeviceProfile::identifierForVendor();
    const std::optional<NSData> saved = NSData::dataWithContentsOfFile(file);
    ASSERT_TRUE(saved);

    platform::testing::FileSystemConditions::setReadsFail(file, EIO);
    restartProcessState();
    const std::string interim = DeviceProfile::identifierForVendor();
    EXPECT_NE(interim, vendor);
    EXPECT_EQ(DeviceProfile::identifierForVendor(), interim);
    platform::testing::FileSystemConditions::setReadsFail(file, std::nullopt);
    EXPECT_TRUE(NSData::dataWithContentsOfFile(file)->isEqual(*saved));

    EXPECT_EQ(DeviceProfile::identifierForVendor(), vendor);
    restartProcessState();
    EXPECT_EQ(DeviceProfile::identifierForVendor(), vendor);
    EXPECT_EQ(logCapture().count("platform.identity.plist cannot be read now"), 1u);
}

TEST_F(DeviceProfileTest, CarrierRadioAndWifiFacts) {
    auto telephony = CTTelephonyNetworkInfo::alloc<CTTelephonyNetworkInfo>()->init();
    EXPECT_FALSE(telephony->subscriberCellularProvider());
    EXPECT_FALSE(telephony->currentRadioAccessTechnology());
    EXPECT_TRUE(CNCopyCurrentNetworkInfo("en0").isNull());

    profile().carrier = platform::DeviceCarrier{"Spectral", "234", "", "gb"};
    profile().radioAccessTechnology = platform::CTRadioAccessTechnologyLTE;
    profile().wifiSSID = "Attic";
    profile().wifiBSSID = "0:1:2:3:4:5";
    Ref<CTCarrier> carrier = telephony->subscriberCellularProvider();
    ASSERT_TRUE(carrier);
    EXPECT_EQ(carrier->carrierName(), "Spectral");
    EXPECT_EQ(carrier->mobileCountryCode(), "234");
    EXPECT_FALSE(carrier->mobileNetworkCode());
    EXPECT_EQ(carrier->isoCountryCode(), "gb");
    EXPECT_EQ(telephony->currentRadioAccessTechnology(), "CTRadioAccessTechnologyLTE");
    EXPECT_TRUE(CNCopyCurrentNetworkInfo("en0").isEqual(Value::dictionary({{"SSID", "Attic"}, {"BSSID", "0:1:2:3:4:5"}})));
    EXPECT_TRUE(CNCopyCurrentNetworkInfo("en1").isNull());
}

TEST_F(DeviceProfileTest, LocationOnlyWhenAuthorisedAndDeliveredOnMainLater) {
    auto manager = CLLocationManager::alloc<CLLocationManager>()->init();
    auto recorder = NSObject::alloc<LocationRecorder>();
    manager->setDelegate(recorder);
    profile().location = platform::DeviceLocation{51.5, -0.12, 1000};
    EXPECT_EQ(CLLocationManager::authorizationStatus(), kCLAuthorizationStatusNotDetermined);
    EXPECT_FALSE(manager->location());
    manager->startUpdatingLocation();
    driver().drain();
    EXPECT_TRUE(recorder->seen.empty());

    profile().locationAuthorizationStatus = kCLAuthorizationStatusAuthorizedWhenInUse;
    ASSERT_TRUE(manager->location());
    EXPECT_EQ(manager->location()->coordinate().latitude, 51.5);
    manager->startUpdatingLocation();
    EXPECT_TRUE(recorder->seen.empty());  // never inside the call
    driver().drain();
    ASSERT_EQ(recorder->seen.size(), 1u);
    EXPECT_EQ(recorder->seen[0].longitude, -0.12);

    manager->startUpdatingLocation();
    manager->stopUpdatingLocation();
    driver().drain();
    EXPECT_EQ(recorder->seen.size(), 1u);
}

TEST_F(DeviceProfileTest, ProcessFacts) {
    Ref<NSProcessInfo> info = NSProcessInfo::processInfo();
    EXPECT_EQ(info->processIdentifier(), ::getpid());
    EXPECT_EQ(info->processName(), "platform_device_profile_test");
    ASSERT_FALSE(info->arguments().empty());
    EXPECT_NE(info->arguments()[0].find("platform_device_profile_test"), std::string::npos);
    EXPECT_TRUE(info->environment().contains("PROJECT_SOURCE_DIR") || info->environment().count() > 0);
    const double before = info->systemUptime();
    driver().advance(5);
    EXPECT_DOUBLE_EQ(info->systemUptime(), before + 5);
}
