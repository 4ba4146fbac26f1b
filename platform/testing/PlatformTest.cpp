#include "platform/testing/PlatformTest.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Platform.h"
#include "platform/foundation/PropertyList.h"
#if PLATFORM_TESTING_HAS_UI
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIScreen.h"
#endif

namespace platform::testing {

namespace {

// Lines that fail a test unless it expects them.
constexpr std::string_view kViolations[] = {"main-thread-only call off the main thread", "uncaught exception"};

}  // namespace

Value PlatformTest::infoDictionary() const {
    return Value::dictionary({
        {"CFBundleIdentifier", "com.paranormal.detector"},
        {"CFBundleDisplayName", "Paranormal Detector"},
        {"CFBundleVersion", "1.0"},
        {"CFBundleShortVersionString", "1.0"},
        {"UISupportedInterfaceOrientations", Value::array({"UIInterfaceOrientationPortrait"})},
    });
}

void PlatformTest::SetUp() {
    std::string pattern = (std::filesystem::temp_directory_path() / "platform-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr) << "cannot make a temporary folder";
    root_ = pattern;
    home_ = root_ + "/home";
    bundle_ = root_ + "/bundle";
    std::filesystem::create_directories(home_);
    std::filesystem::create_directories(bundle_);
    ASSERT_TRUE(PropertyList::writeToFile(infoDictionary(), bundle_ + "/Info.plist", PropertyList::Format::Binary));

    capture_ = std::make_unique<LogCapture>();
    capture_->setObserver([this](const LogCapture::Line& line) { observeLine(line); });

    PlatformOptions options;
    options.homeDirectory = home_;
    options.bundlePath = bundle_;
    options.clock = PlatformOptions::ClockKind::Virtual;
    Platform::initialize(options);
#if PLATFORM_TESTING_HAS_UI
    registerUIClasses();
    window_ = UIWindow::alloc();
    window_->initWithFrame(UIScreen::mainScreen()->bounds());
    rootViewController_ = UIViewController::alloc()->init();
    window_->setRootViewController(rootViewController_);
    window_->makeKeyAndVisible();
    driver_.drain();
#endif
}

void PlatformTest::TearDown() {
#if PLATFORM_TESTING_HAS_UI
    // Windows are process-wide: leave none shown for a next test in this process.
    for (const auto& w : UIWindow::visibleWindows()) w->setHidden(true);
    window_.reset();
    rootViewController_.reset();
#endif
    if (Platform::isInitialized()) Platform::shutdown();
    if (capture_) capture_->setObserver(nullptr);
    {
        std::scoped_lock lock(mutex_);
        for (const std::string& line : violations_) ADD_FAILURE() << "unexpected log line: " << line;
        for (size_t i = 0; i < expected_.size(); ++i)
            if (!expectedSeen_[i]) ADD_FAILURE() << "expected a log line containing \"" << expected_[i] << "\"";
    }
    capture_.reset();
    if (!root_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
}

void PlatformTest::expectLogLine(std::string substring) {
    std::scoped_lock lock(mutex_);
    // Lines logged before the declaration count too.
    bool seen = capture_ && capture_->contains(substring);
    if (seen) {
        // A violation already recorded for it is forgiven.
        std::erase_if(violations_, [&](const std::string& line) { return line.find(substring) != std::string::npos; });
    }
    expected_.push_back(std::move(substring));
    expectedSeen_.push_back(seen);
}

void PlatformTest::observeLine(const LogCapture::Line& line) {
    std::scoped_lock lock(mutex_);
    bool expected = false;
    for (size_t i = 0; i < expected_.size(); ++i) {
        if (line.message.find(expected_[i]) != std::string::npos) {
            expectedSeen_[i] = true;
            expected = true;
        }
    }
    if (expected) return;
    for (std::string_view violation : kViolations)
        if (line.message.find(violation) != std::string::npos) violations_.push_back(line.message);
}

std::string PlatformTest::hostileURL(const std::string& url) {
    const size_t authority = url.find("://");
    if (authority == std::string::npos) return url;
    // A password longer than a shortened line, so that shortening before hiding shows it.
    std::string password;
    for (int i = 0; i < 40; ++i) password += "secret";
    return url.substr(0, authority + 3) + "user:" + password + "@" + url.substr(authority + 3) + "#" +
           std::string(1 << 20, 'f');
}

void PlatformTest::expectBoundedLogLines(size_t bound) {
    for (const std::string& line : capture_->messages()) {
        EXPECT_LE(line.size(), bound) << line.substr(0, 300);
        EXPECT_EQ(line.find("secret"), std::string::npos) << line.substr(0, 300);
    }
}

size_t PlatformTest::foldedCount(const std::vector<std::string>& lines, const std::string& substring) {
    size_t total = 0;
    for (const std::string& line : lines) {
        if (line.find(substring) == std::string::npos) continue;
        const size_t open = line.rfind(" (");
        unsigned long n = 0;
        char unit[8] = {};
        const bool folded = open != std::string::npos &&
                            (std::sscanf(line.c_str() + open, " (%lu in all%1[),]", &n, unit) == 2 ||
                             std::sscanf(line.c_str() + open, " (%lu more in %*f s%1[),]", &n, unit) == 2);
        total += folded ? n : 1;
    }
    return total;
}

void PlatformTest::restartProcessState() {
    NSUserDefaults::resetStandardUserDefaults();
    DeviceProfile::reloadPersistedIdentifiers();
}

}  // namespace platform::testing
