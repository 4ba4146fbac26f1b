// The first-launch report across real restarts: each launch is a process of
// its own (this test program run again as a child) on one sandbox, against
// one Trillium service. The report is sent at every launch until one reaches
// the server, also when a launch is killed while the report is on its way,
// and never after.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <string>

#include "Trillium/TRATrilliumSDK.h"
#include "Trillium/display/TrilliumDisplayClasses.h"
#include "Trillium/display/tests/TrilliumRestartTestSupport.h"
#include "platform/foundation/NSClassRegistry.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Platform.h"
#include "platform/runtime/HangGuard.h"
#include "platform/runtime/RunLoopDriver.h"
#include "platform/ui/UIApplication.h"
#include "simulator/TrilliumService.h"

namespace {

constexpr const char* kHomeVariable = "TRA_RESTART_CHILD_HOME";
constexpr const char* kBundleVariable = "TRA_RESTART_CHILD_BUNDLE";
constexpr const char* kServiceVariable = "TRA_RESTART_CHILD_SERVICE";

// Starts one launch of the application as a child process.
pid_t startLaunch(const TrilliumRestartSandbox& sandbox, const std::string& serviceUrl) {
    return startTrilliumChild("FirstLaunchRestartChild.Launch", {{kHomeVariable, sandbox.home()},
                                                                 {kBundleVariable, sandbox.bundle()},
                                                                 {kServiceVariable, serviceUrl}});
}

int waitFor(pid_t pid) { return waitForTrilliumChild(pid); }
bool exitedCleanly(int status) { return trilliumChildExitedCleanly(status); }

}  // namespace

// One launch, run only as a child of the test below: the application's
// launch calls, the launch notification, then everything the launch sent
// is let finish.
TEST(FirstLaunchRestartChild, Launch) {
    const char* home = std::getenv(kHomeVariable);
    if (!home) GTEST_SKIP() << "runs only as a child of FirstLaunchRestart";
    startTrilliumChildPlatform(home, std::getenv(kBundleVariable));
    NSClassRegistry::add("HLSdk", nullptr);
    NSUserDefaults::standardUserDefaults()->setObject(Value(std::string(std::getenv(kServiceVariable))),
                                                      "TRAAdPlatformHost");
    auto sdk = TRATrilliumSDK::sharedInstance();
    sdk->setAppID(std::string("app-restart"));
    sdk->setDevID(std::string("dev-restart"));
    sdk->disableReturnAd();
    UIApplication::sharedApplication()->simulateLaunch(nullptr);
    EXPECT_TRUE(platform::testing::RunLoopDriver(platform::testing::hangGuardScale()).settle(10));
    Platform::shutdown();
}

TEST(FirstLaunchRestart, ReportIsRetriedUntilDeliveredAndSurvivesAKillInFlight) {
    TrilliumRestartSandbox sandbox;
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
