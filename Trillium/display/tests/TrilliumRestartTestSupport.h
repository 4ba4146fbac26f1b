// Real restarts for the display tests: a sandbox (home folder and bundle with
// its Info.plist) shared by successive launches, each launch this test
// program run again as a child process with one test selected and its
// settings in environment variables.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "Trillium/display/TrilliumDisplayClasses.h"
#include "platform/foundation/Platform.h"
#include "platform/testing/ChildTestProcess.h"
#include "platform/ui/UIApplication.h"

class TrilliumRestartSandbox {
public:
    TrilliumRestartSandbox() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tra-restart-XXXXXX").string();
        if (::mkdtemp(pattern.data())) root_ = pattern;
        std::filesystem::create_directories(home());
        std::filesystem::create_directories(bundle());
        std::ofstream(bundle() + "/Info.plist")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
               "<key>CFBundleIdentifier</key><string>com.paranormal.detector</string>"
               "<key>CFBundleShortVersionString</key><string>1.0</string>"
               "<key>CFBundleVersion</key><string>1.0</string></dict></plist>\n";
    }
    ~TrilliumRestartSandbox() {
        std::error_code ec;
        if (!root_.empty()) std::filesystem::remove_all(root_, ec);
    }
    bool valid() const { return !root_.empty(); }
    std::string root() const { return root_; }
    std::string home() const { return root_ + "/home"; }
    std::string bundle() const { return root_ + "/bundle"; }

private:
    std::string root_;
};

// Starts this program again with `--gtest_filter=<test>` and the variables
// added to the environment; -1 when it cannot be started.
inline pid_t startTrilliumChild(const std::string& test,
                                const std::vector<std::pair<std::string, std::string>>& variables) {
    return platform::testing::startChildTestProcess(test, variables);
}

// The child's wait status; -1 when it cannot be waited for.
inline int waitForTrilliumChild(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return status;
}

inline bool trilliumChildExitedCleanly(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

// In the child: the platform on the sandbox's folders (virtual clock) with
// the UI and the Trillium display classes registered.
inline void startTrilliumChildPlatform(const char* home, const char* bundle) {
    PlatformOptions options;
    options.homeDirectory = home;
    options.bundlePath = bundle;
    options.clock = PlatformOptions::ClockKind::Virtual;
    Platform::initialize(options);
    registerUIClasses();
    registerTrilliumDisplayClasses();
}
