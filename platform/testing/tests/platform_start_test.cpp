#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/foundation/DeviceLocale.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSClassRegistry.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Platform.h"
#include "platform/foundation/PropertyList.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/NSThread.h"
#include "platform/testing/PlatformTest.h"

using platform::PropertyList;

class PlatformStartTest : public platform::testing::PlatformTest {};

TEST_F(PlatformStartTest, InitializeCreatesTheHomeFoldersAndReadsInfoPlist) {
    for (const char* folder : {"Documents", "Library", "Library/Caches", "Library/Preferences", "tmp"})
        EXPECT_TRUE(std::filesystem::is_directory(home() + "/" + folder)) << folder;
    EXPECT_EQ(NSHomeDirectory(), home());
    EXPECT_EQ(Platform::bundlePath(), bundlePath());
    EXPECT_TRUE(Platform::isInitialized());
    EXPECT_TRUE(Clock::current()->isVirtual());
    EXPECT_TRUE(NSThread::isMainThread());
    std::thread([] { EXPECT_FALSE(NSThread::isMainThread()); }).join();

    Ref<NSBundle> bundle = NSBundle::mainBundle();
    EXPECT_EQ(bundle->bundlePath(), bundlePath());
    EXPECT_EQ(bundle->bundleIdentifier(), "com.paranormal.detector");
    EXPECT_EQ(bundle->objectForInfoDictionaryKey("CFBundleShortVersionString").stringValue(), "1.0");
    EXPECT_TRUE(bundle->objectForInfoDictionaryKey("UISupportedInterfaceOrientations")
                    .isEqual(Value::array({"UIInterfaceOrientationPortrait"})));
    EXPECT_TRUE(bundle->objectForInfoDictionaryKey("HalcyonSdkKey").isNull());
}

TEST_F(PlatformStartTest, TheDocumentsFolderKeepsItsCreationDateAcrossRestarts) {
    auto fm = NSFileManager::defaultManager();
    const std::string documents = home() + "/Documents";
    const Value before = fm->attributesOfItemAtPath(documents);
    ASSERT_TRUE(before[NSFileCreationDate].isDate());
    ASSERT_TRUE(fm->createFileAtPath(documents + "/state.plist", NSData::dataWithString("x")));
    restartProcessState();
    ASSERT_TRUE(fm->createFileAtPath(documents + "/state.plist", NSData::dataWithString("y")));
    const Value after = fm->attributesOfItemAtPath(documents);
    EXPECT_EQ(after[NSFileCreationDate].date()->timeIntervalSince1970(),
              before[NSFileCreationDate].date()->timeIntervalSince1970());
}

TEST_F(PlatformStartTest, URLsArchiveAsThePlatformRegistersThem) {
    Value stored = Value::dictionary({{"targetURL", Value(NSURL::URLWithString("itms-apps://store.example/id42"))}});
    Value back = NSKeyedUnarchiver::unarchiveObjectWithData(NSKeyedArchiver::archivedDataWithRootObject(stored));
    ASSERT_NE(back["targetURL"].object<NSURL>(), nullptr);
    EXPECT_EQ(back["targetURL"].object<NSURL>()->absoluteString(), "itms-apps://store.example/id42");
}

TEST_F(PlatformStartTest, TheProgramsInfoPlistCarriesItsIdentity) {
    const char* source = std::getenv("PROJECT_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    Ref<NSBundle> resources = NSBundle::bundleWithPath(std::string(source) + "/resources");
    ASSERT_TRUE(resources);
    EXPECT_EQ(resources->bundleIdentifier(), "com.paranormal.detector");
    EXPECT_FALSE(resources->objectForInfoDictionaryKey("CFBundleDisplayName").stringValue().empty());
    EXPECT_EQ(resources->objectForInfoDictionaryKey("CFBundleVersion").stringValue(), "1.0");
    EXPECT_EQ(resources->objectForInfoDictionaryKey("CFBundleShortVersionString").stringValue(), "1.0");
    EXPECT_TRUE(resources->objectForInfoDictionaryKey("UISupportedInterfaceOrientations")
                    .isEqual(Value::array({"UIInterfaceOrientationPortrait"})));
}

TEST_F(PlatformStartTest, BundleResourcesSeamAndBadInfoPlists) {
    Ref<NSBundle> bundle = NSBundle::mainBundle();
    NSFileManager::defaultManager()->createDirectoryAtPath(bundlePath() + "/Trillium.bundle/images", true);
    NSFileManager::defaultManager()->createFileAtPath(bundlePath() + "/Trillium.bundle/images/close.png", NSData::dataWithString("png"));
    EXPECT_FALSE(bundle->pathForResource("close", "png"));
    Ref<NSBundle> inner = NSBundle::bundleWithPath(*bundle->pathForResource("Trillium", "bundle"));
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->pathForResource("close", "png", "images"), bundlePath() + "/Trillium.bundle/images/close.png");
    EXPECT_TRUE(inner->infoDictionary().isEqual(Value(ValueDictionary())));
    EXPECT_TRUE(bundle->URLForResource("Trillium.bundle/images/close", "png")->isFileURL());
    EXPECT_FALSE(NSBundle::bundleWithPath(bundlePath() + "/absent"));
    EXPECT_EQ(bundle->appStoreReceiptURL()->path(), bundlePath() + "/StoreKit/receipt");
    EXPECT_EQ(bundle->loadNibNamed("Anything", nullptr, Value()).count(), 0u);

    bundle->setInfoDictionaryValue("HalcyonSdkKey", "abc");
    EXPECT_EQ(bundle->objectForInfoDictionaryKey("HalcyonSdkKey").stringValue(), "abc");
    bundle->setInfoDictionaryValue("HalcyonSdkKey", Value());
    EXPECT_FALSE(bundle->infoDictionary().contains("HalcyonSdkKey"));

    // A corrupt Info.plist reads as empty, with a line; so does one that is not a dictionary.
    NSData::dataWithString("not a plist").writeToFile(bundlePath() + "/Trillium.bundle/Info.plist", false);
    EXPECT_EQ(NSBundle::bundleWithPath(bundlePath() + "/Trillium.bundle")->infoDictionary().count(), 0u);
    EXPECT_TRUE(logCapture().contains("Trillium.bundle/Info.plist"));
    PropertyList::writeToFile(Value::array({1}), bundlePath() + "/Trillium.bundle/Info.plist");
    EXPECT_EQ(NSBundle::bundleWithPath(bundlePath() + "/Trillium.bundle")->infoDictionary().count(), 0u);
    EXPECT_TRUE(logCapture().contains("is not a dictionary"));
}

TEST_F(PlatformStartTest, HomeAndBundleComeFromTheEnvironmentThenTheDefaults) {
    Platform::shutdown();
    const std::string envHome = home() + "/from-env";
    ::setenv("PLATFORM_HOME", envHome.c_str(), 1);
    ::setenv("PLATFORM_BUNDLE", bundlePath().c_str(), 1);
    Platform::initialize(PlatformOptions{});
    EXPECT_EQ(NSHomeDirectory(), envHome);
    EXPECT_TRUE(std::filesystem::is_directory(envHome + "/Library/Preferences"));
    EXPECT_FALSE(Clock::current()->isVirtual());

    // Without options or PLATFORM_HOME: ~/.local/share/<bundle identifier>.
    Platform::shutdown();
    ::unsetenv("PLATFORM_HOME");
    ::setenv("HOME", (home() + "/user").c_str(), 1);
    PlatformOptions options;
    options.clock = PlatformOptions::ClockKind::Virtual;
    Platform::initialize(options);
    EXPECT_EQ(NSHomeDirectory(), home() + "/user/.local/share/com.paranormal.detector");
    EXPECT_TRUE(std::filesystem::is_directory(NSHomeDirectory() + "/Documents"));
    EXPECT_EQ(NSBundle::mainBundle()->bundleIdentifier(), "com.paranormal.detector");

    // Without PLATFORM_BUNDLE: the resources folder beside the executable.
    Platform::shutdown();
    ::unsetenv("PLATFORM_BUNDLE");
    EXPECT_EQ(Platform::bundlePath(), bundlePath());  // what initialize settled stays until the next one
    options.homeDirectory = home();
    Platform::initialize(options);
    EXPECT_EQ(Platform::bundlePath(),
              std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/resources");
}

TEST_F(PlatformStartTest, ClassRegistrationsRunAtInitializeAndAtOnceWhenUp) {
    int runs = 0;
    Platform::addClassRegistration([&] { ++runs; });
    EXPECT_EQ(runs, 1);  // already up
    Platform::addClassRegistration([] { throw std::runtime_error("bad registration"); });
    expectLogLine("class registration: uncaught exception: bad registration");
    Platform::shutdown();
    PlatformOptions options;
    options.homeDirectory = home();
    options.bundlePath = bundlePath();
    options.clock = PlatformOptions::ClockKind::Virtual;
    Platform::initialize(options);
    EXPECT_EQ(runs, 2);
    EXPECT_TRUE(NSClassFromString("CTTelephonyNetworkInfo"));
    EXPECT_TRUE(NSClassFromString("ASIdentifierManager"));
}

TEST_F(PlatformStartTest, TheFixtureToleratesExpectedViolations) {
    platform::runtime::callAtBoundary([] { throw std::runtime_error("expected failure"); }, "test boundary");
    expectLogLine("test boundary: uncaught exception: expected failure");
    std::thread([] { platform::assertMainThread("UIView::setFrame"); }).join();
    expectLogLine("main-thread-only call off the main thread: UIView::setFrame");
}

TEST_F(PlatformStartTest, TimeZoneAndLocaleFollowTheProfile) {
    EXPECT_EQ(platform::deviceTimeZoneName(), "UTC");
    profile().timeZoneName = "Asia/Kolkata";
    profile().localeIdentifier = "fr_FR";
    profile().preferredLanguages = {"fr", "en"};
    EXPECT_EQ(platform::deviceTimeZoneName(), "Asia/Kolkata");
    EXPECT_EQ(platform::deviceLocaleIdentifier(), "fr_FR");
    EXPECT_EQ(platform::devicePreferredLanguages(), (std::vector<std::string>{"fr", "en"}));
}
