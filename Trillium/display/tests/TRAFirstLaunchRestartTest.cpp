// The first-launch report across real restarts: each launch is a process of
// its own (this test program run again as a child) on one sandbox, against
// one Trillium service. The report is sent at every launch until one reaches
// the server, also when a launch is killed while the report is on its way,
// and never after.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Trillium/TRATrilliumSDK.h"
#include "Trillium/display/TrilliumDisplayClasses.h"
#include "platform/foundation/NSClassRegistry.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Platform.h"
#include "platform/runtime/RunLoopDriver.h"
#include "platform/ui/UIApplication.h"
#include "simulator/TrilliumService.h"

extern char** environ;

namespace {

constexpr const char* kHomeVariable = "TRA_RESTART_CHILD_HOME";
constexpr const char* kBundleVariable = "TRA_RESTART_CHILD_BUNDLE";
constexpr const char* kServiceVariable = "TRA_RESTART_CHILD_SERVICE";
constexpr const char* kChildFilter = "--gtest_filter=FirstLaunchRestartChild.Launch";

class Sandbox {
public:
    Sandbox() {
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
    ~Sandbox() {
        std::error_code ec;
        if (!root_.empty()) std::filesystem::remove_all(root_, ec);
    }
    bool valid() const { return !root_.empty(); }
    std::string home() const { return root_ + "/home"; }
    std::string bundle() const { return root_ + "/bundle"; }

private:
    std::string root_;
};

// Starts one launch of the application as a child process.
pid_t startLaunch(const Sandbox& sandbox, const std::string& serviceUrl) {
    std::vector<std::string> variables;
    for (char** e = environ; *e; ++e) variables.emplace_back(*e);
    variables.push_back(std::string(kHomeVariable) + "=" + sandbox.home());
    variables.push_back(std::string(kBundleVariable) + "=" + sandbox.bundle());
    variables.push_back(std::string(kServiceVariable) + "=" + serviceUrl);
    std::vector<char*> envp;
    for (auto& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string filter = kChildFilter;
    char* argv[] = {self.data(), filter.data(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return -1;
    return pid;
}

int waitFor(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return status;
}

bool exitedCleanly(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

}  // namespace

// One launch, run only as a child of the test below: the application's
// launch calls, the launch notification, then everything the launch sent
// is let finish.
TEST(FirstLaunchRestartChild, Launch) {
    const char* home = std::getenv(kHomeVariable);
    if (!home) GTEST_SKIP() << "runs only as a child of FirstLaunchRestart";
    PlatformOptions options;
    options.homeDirectory = home;
    options.bundlePath = std::getenv(kBundleVariable);
    options.clock = PlatformOptions::ClockKind::Virtual;
    Platform::initialize(options);
    registerUIClasses();
    registerTrilliumDisplayClasses();
    NSClassRegistry::add("HLSdk", nullptr);
    NSUserDefaults::standardUserDefaults()->setObject(Value(std::string(std::getenv(kServiceVariable))),
                                                      "TRAAdPlatformHost");
    auto sdk = TRATrilliumSDK::sharedInstance();
    sdk->setAppID(std::string("app-restart"));
    sdk->setDevID(std::string("dev-restart"));
    sdk->disableReturnAd();
    UIApplication::sharedApplication()->simulateLaunch(nullptr);
    EXPECT_TRUE(platform::testing::RunLoopDriver().settle(10));
    Platform::shutdown();
}

TEST(FirstLaunchRestart, ReportIsRetriedUntilDeliveredAndSurvivesAKillInFlight) {
    Sandbox sandbox;
    ASSERT_TRUE(sandbox.valid());
    simulator::TrilliumService service;
    ASSERT_TRUE(service.start());
    const std::string base = service.baseUrl();
    using simulator::Answer;
    using simulator::TrilliumService;
    auto reports = [&] { return service.requestsTo(TrilliumService::kFirstLaunchPath).size(); };

    // 1: the report fails at the transport level; nothing is stored.
    service.setAnswer(TrilliumService::kFirstLaunchPath, Answer::drop());
    pid_t pid = startLaunch(sandbox, base);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(exitedCleanly(waitFor(pid)));
    EXPECT_EQ(reports(), 1u);

    // 2: killed while the report waits for its answer.
    service.setAnswer(TrilliumService::kFirstLaunchPath, Answer::stall());
    pid = startLaunch(sandbox, base);
    ASSERT_GT(pid, 0);
    bool stalled = service.server().waitForStalled(1, 30);
    ::kill(pid, SIGKILL);
    int status = waitFor(pid);
    ASSERT_TRUE(stalled);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(reports(), 2u);
    service.server().releaseStalled();

    // 3: delivered; any answer counts.
    service.setAnswer(TrilliumService::kFirstLaunchPath, Answer::withStatus(404));
    pid = startLaunch(sandbox, base);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(exitedCleanly(waitFor(pid)));
    EXPECT_EQ(reports(), 3u);
    for (const auto& r : service.requestsTo(TrilliumService::kFirstLaunchPath)) {
        EXPECT_EQ(r.field("placement"), "INAPP_DOWNLOAD");
        EXPECT_EQ(r.field("productId"), "app-restart");
        EXPECT_EQ(r.field("publisherId"), "dev-restart");
    }

    // 4: never again, nor the other-clients report that goes with it.
    size_t otherClientReports = 0;
    for (const auto& r : service.requestsTo(TrilliumService::kAnalyticsPath))
        if (r.field("category") == "7") ++otherClientReports;
    EXPECT_GE(otherClientReports, 2u);
    service.server().clearRecord();
    pid = startLaunch(sandbox, base);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(exitedCleanly(waitFor(pid)));
    EXPECT_EQ(reports(), 0u);
    EXPECT_EQ(service.requestsTo(TrilliumService::kMetadataPath).size(), 0u);  // still fresh from launch 3
    for (const auto& r : service.requestsTo(TrilliumService::kAnalyticsPath)) EXPECT_NE(r.field("category"), "7");
    service.stop();
}
