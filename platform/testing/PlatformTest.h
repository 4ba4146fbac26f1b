// The GoogleTest fixture of platform and client tests: a fresh home and
// bundle folder, the platform started on the virtual clock, log lines
// captured, and failures for main-thread violations and exceptions caught at
// a boundary unless the test expects them.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/DeviceProfile.h"
#include "platform/foundation/LogCapture.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/HangGuard.h"
#include "platform/runtime/RunLoopDriver.h"

#if PLATFORM_TESTING_HAS_UI
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"
#endif

namespace platform::testing {

class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    RunLoopDriver& driver() { return driver_; }
    // The device profile: change fields before the code under test reads them.
    DeviceProfile& profile() { return DeviceProfile::current(); }
    const std::string& home() const { return home_; }
    const std::string& bundlePath() const { return bundle_; }
    LogCapture& logCapture() { return *capture_; }
#if PLATFORM_TESTING_HAS_UI
    // A visible key window of the screen's size and its root view controller
    // (a plain UIViewController), made after start-up.
    Ref<UIWindow> window() const { return window_; }
    Ref<UIViewController> rootViewController() const { return rootViewController_; }
#endif

    // Declares that a line containing `substring` is expected: it does not
    // fail the test as a violation, and the test fails if it never appears.
    void expectLogLine(std::string substring);

    // `url` (an absolute URL) with a user name and a 240-byte password of
    // "secret"s, and a fragment that takes it past 1 MiB: text no log line may show
    // whole, nor its password.
    static std::string hostileURL(const std::string& url);
    // Fails the test for each line captured so far that is longer than
    // `bound` bytes or holds "secret".
    void expectBoundedLogLines(size_t bound = 1024);
    // How many calls the folded lines among `lines` that hold `substring`
    // stand for: " (<n> in all…)" and " (<n> more in <t> s…)" count n, a
    // plain line one.
    static size_t foldedCount(const std::vector<std::string>& lines, const std::string& substring);

    // A simulated restart for persistence tests: state that the platform
    // keeps in memory is dropped and re-read from the home folder.
    virtual void restartProcessState();

    // The Info.plist written into the bundle before start-up.
    virtual Value infoDictionary() const;

private:
    void observeLine(const LogCapture::Line& line);

    std::string root_;
    std::string home_;
    std::string bundle_;
    std::unique_ptr<LogCapture> capture_;
    RunLoopDriver driver_{hangGuardScale()};
#if PLATFORM_TESTING_HAS_UI
    Ref<UIWindow> window_;
    Ref<UIViewController> rootViewController_;
#endif

    std::mutex mutex_;
    std::vector<std::string> expected_;
    std::vector<bool> expectedSeen_;
    std::vector<std::string> violations_;
};

}  // namespace platform::testing
