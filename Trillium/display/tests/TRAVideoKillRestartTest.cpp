// Video downloads across kills: each launch is this program run again as a
// child on one sandbox, against one Trillium service in the parent. A launch
// killed in the middle of the body leaves a partial file, which the next
// launch deletes before it fetches the video again whole; a launch killed
// after the final file was moved into place but before the table was saved
// leaves a file the next launch reports without fetching it again. A later
// launch whose ad names another URL of the same file name loads the stored
// file, or fetches its own URL when the file is not there; a refusal is kept
// in memory, so a refused URL is fetched once in a launch, whatever signature
// its twins carry, and again in the next.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "Trillium/TRAAdCache.h"
#include "Trillium/TRADisplayHooks.h"
#include "Trillium/display/TRAVideosManager.h"
#include "Trillium/display/TrilliumDisplayClasses.h"
#include "Trillium/display/tests/TrilliumRestartTestSupport.h"
#include "platform/foundation/Platform.h"
#include "platform/runtime/HangGuard.h"
#include "platform/runtime/RunLoopDriver.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"
#include "simulator/TrilliumVideoAds.h"

using simulator::Answer;
using simulator::TrilliumVideoAds;
using simulator::TrilliumVideoFile;

namespace {

constexpr const char* kHomeVariable = "TRA_VIDEO_CHILD_HOME";
constexpr const char* kBundleVariable = "TRA_VIDEO_CHILD_BUNDLE";
constexpr const char* kUrlVariable = "TRA_VIDEO_CHILD_URL";
constexpr const char* kModeVariable = "TRA_VIDEO_CHILD_MODE";
constexpr const char* kOutcomeVariable = "TRA_VIDEO_CHILD_OUTCOME";
constexpr const char* kVideoFolder = "/Library/Caches/com.paranormal.detector/";

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Waits in real time (another process works meanwhile) until `done` holds.
bool awaitChild(const std::function<bool()>& done, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(platform::testing::hangGuard(seconds));
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class TRAVideoKillRestartAd : public NSObject, public TRAVideosManagerDelegate {
public:
    void didFinishDownloadVideoWithPath(const std::string& path) override { outcome = "loaded " + path; }
    void didFailDownloadVideo() override { outcome = "failed"; }
    std::string outcome;
};

[[noreturn]] void runUntilKilled() {
    platform::testing::RunLoopDriver driver{platform::testing::hangGuardScale()};
    for (;;) driver.runUntil([] { return false; }, 60);
}

}  // namespace

// One launch, run only as a child of the tests below. "midbody" and
// "aftermove" ask for the video and wait to be killed; "resume" asks for it,
// writes what the ad heard and ends; "twice" does so with a second ad asking
// for a signed twin of the URL after the first has heard.
TEST(TRAVideoKillRestartChild, Launch) {
    const char* home = std::getenv(kHomeVariable);
    if (!home) GTEST_SKIP() << "runs only as a child of TRAVideoKillRestart";
    const std::string mode = std::getenv(kModeVariable);
    const std::string url = std::getenv(kUrlVariable);
    startTrilliumChildPlatform(home, std::getenv(kBundleVariable));
    const std::string finalPath = std::string(home) + kVideoFolder + "clip.mp4";

    if (mode == "aftermove") {
        // The table's save first reloads the cache overlay's video rows: the
        // overlay's store lookup is where this launch stops once the file
        // has been moved into place, before the table is written.
        auto window = UIWindow::alloc();
        window->initWithFrame(UIScreen::mainScreen()->bounds());
        window->setRootViewController(UIViewController::alloc()->init());
        window->makeKeyAndVisible();
        TRAAdCache::sharedInstance()->showVisualCacheDB();
        auto& hooks = TRADisplayHooks::shared();
        auto original = hooks.videoStore;
        std::string marker = std::getenv(kOutcomeVariable);
        hooks.videoStore = [original, finalPath, marker]() -> Ref<TRAVideoStore> {
            if (::access(finalPath.c_str(), F_OK) == 0) {
                std::ofstream(marker) << "moved";
                for (;;) ::pause();
            }
            return original();
        };
    }
    auto store = TRAVideosManager::sharedInstance();
    if (mode == "resume") {
        EXPECT_NE(::access((finalPath + ".tmp").c_str(), F_OK), 0) << "the partial file is left";
    }
    auto ad = std::make_shared<TRAVideoKillRestartAd>();
    store->downloadVideoWithUrl(url, ad);
    if (mode != "resume" && mode != "twice") runUntilKilled();

    platform::testing::RunLoopDriver driver{platform::testing::hangGuardScale()};
    EXPECT_TRUE(driver.runUntil([&] { return !ad->outcome.empty(); }, 10));
    if (mode == "twice") {
        // A second ad asks, by another signature, once the first has heard.
        auto second = std::make_shared<TRAVideoKillRestartAd>();
        store->downloadVideoWithUrl(url.substr(0, url.find('?')) + "?sig=twin", second);
        ad->outcome += ", then " + (second->outcome.empty() ? std::string("waiting") : second->outcome + " at once");
    }
    auto entry = store->downloaderForFileName("clip.mp4");
    EXPECT_TRUE(!entry || !entry->downloading());
    std::ofstream(std::getenv(kOutcomeVariable)) << ad->outcome;
    EXPECT_TRUE(driver.settle(5));
    Platform::shutdown();
}

class TRAVideoKillRestartTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sandbox.valid());
        ASSERT_TRUE(service.start());
        outcomeFile = sandbox.root() + "/outcome";
    }
    void TearDown() override { service.stop(); }

    pid_t launch(const std::string& mode, const std::string& url) {
        ::unlink(outcomeFile.c_str());
        return startTrilliumChild("TRAVideoKillRestartChild.Launch", {{kHomeVariable, sandbox.home()},
                                                                      {kBundleVariable, sandbox.bundle()},
                                                                      {kUrlVariable, url},
                                                                      {kModeVariable, mode},
                                                                      {kOutcomeVariable, outcomeFile}});
    }
    pid_t launch(const std::string& mode) { return launch(mode, videos.videoUrl("clip.mp4")); }
    // A launch that asks for the video (at `url`, the service's own by
    // default) and ends; what its ad heard.
    std::string resume(const std::string& url = {}) {
        pid_t pid = launch("resume", url.empty() ? videos.videoUrl("clip.mp4") : url);
        EXPECT_GT(pid, 0);
        EXPECT_TRUE(trilliumChildExitedCleanly(waitForTrilliumChild(pid)));
        return readFile(outcomeFile);
    }
    std::string finalPath() const { return sandbox.home() + kVideoFolder + "clip.mp4"; }
    std::string partialPath() const { return finalPath() + ".tmp"; }

    TrilliumRestartSandbox sandbox;
    simulator::TrilliumService service;
    TrilliumVideoAds videos{service};
    std::string outcomeFile;
    const std::string bytes = TrilliumVideoAds::mp4File(TrilliumVideoFile::Valid, 40);
};

TEST_F(TRAVideoKillRestartTest, AKillMidBodyLeavesAPartialFileTheNextLaunchDeletesBeforeFetchingAgain) {
    videos.serveFile("clip.mp4", Answer::slowBody(bytes, 64, 0.2));
    pid_t pid = launch("midbody");
    ASSERT_GT(pid, 0);
    bool partial = awaitChild([&] { return std::filesystem::exists(partialPath()) &&
                                           std::filesystem::file_size(partialPath()) > 0; },
                              20);
    ::kill(pid, SIGKILL);
    int status = waitForTrilliumChild(pid);
    ASSERT_TRUE(partial) << "no body reached the partial file";
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_LT(std::filesystem::file_size(partialPath()), bytes.size());
    ASSERT_FALSE(std::filesystem::exists(finalPath()));

    videos.serveFile("clip.mp4", bytes);
    EXPECT_EQ(resume(), "loaded " + finalPath());
    EXPECT_EQ(readFile(finalPath()), bytes);
    EXPECT_FALSE(std::filesystem::exists(partialPath()));
    EXPECT_EQ(videos.fileRequests("clip.mp4").size(), 2u);
}

TEST_F(TRAVideoKillRestartTest, AKillBetweenTheMoveAndTheSaveKeepsTheFinishedFile) {
    videos.serveFile("clip.mp4", bytes);
    pid_t pid = launch("aftermove");
    ASSERT_GT(pid, 0);
    bool moved = awaitChild([&] { return readFile(outcomeFile) == "moved"; }, 20);
    ::kill(pid, SIGKILL);
    int status = waitForTrilliumChild(pid);
    ASSERT_TRUE(moved) << "the launch never moved the file into place";
    ASSERT_TRUE(WIFSIGNALED(status));

    EXPECT_EQ(resume(), "loaded " + finalPath());
    EXPECT_EQ(readFile(finalPath()), bytes);
    EXPECT_EQ(videos.fileRequests("clip.mp4").size(), 1u);
}

TEST_F(TRAVideoKillRestartTest, AnotherUrlOfAStoredFilesNameAfterARelaunchLoadsThatFile) {
    service.server().route("GET", "/v2/clip.mp4", Answer::ok(TrilliumVideoAds::mp4File(TrilliumVideoFile::Valid, 15)));
    videos.serveFile("clip.mp4", bytes);
    EXPECT_EQ(resume(), "loaded " + finalPath());

    EXPECT_EQ(resume(service.server().url("/v2/clip.mp4")), "loaded " + finalPath());
    EXPECT_EQ(readFile(finalPath()), bytes);
    EXPECT_TRUE(service.server().requestsTo("/v2/clip.mp4").empty());
}

TEST_F(TRAVideoKillRestartTest, AnUnfinishedEntryOfAnotherServiceFetchesTheNewUrlAfterARelaunch) {
    // The earlier launch fetched the file from a service that is gone now.
    simulator::LoopbackServer older;
    older.route("GET", "/videos/clip.mp4", Answer::slowBody(bytes, 64, 0.2));
    ASSERT_TRUE(older.start());
    pid_t pid = launch("midbody", older.url("/videos/clip.mp4"));
    ASSERT_GT(pid, 0);
    bool partial = awaitChild([&] { return std::filesystem::exists(partialPath()) &&
                                           std::filesystem::file_size(partialPath()) > 0; },
                              20);
    ::kill(pid, SIGKILL);
    waitForTrilliumChild(pid);
    ASSERT_TRUE(partial) << "no body reached the partial file";
    older.stop();

    videos.serveFile("clip.mp4", bytes);
    EXPECT_EQ(resume(), "loaded " + finalPath());
    EXPECT_EQ(readFile(finalPath()), bytes);
    EXPECT_EQ(videos.fileRequests("clip.mp4").size(), 1u);
}

TEST_F(TRAVideoKillRestartTest, ARefusalHoldsSignedTwinsWithinItsLaunchAndTheRealFileThenLoads) {
    videos.serveFile("clip.mp4", TrilliumVideoAds::loginPage());
    for (size_t launches = 1; launches <= 2; ++launches) {
        pid_t pid = launch("twice", videos.videoUrl("clip.mp4?sig=" + std::to_string(launches)));
        ASSERT_GT(pid, 0);
        EXPECT_TRUE(trilliumChildExitedCleanly(waitForTrilliumChild(pid)));
        EXPECT_EQ(readFile(outcomeFile), "failed, then failed at once");
        EXPECT_EQ(videos.fileRequests("clip.mp4").size(), launches);
    }
    // Once the network lets the file through: one request, the file whole.
    videos.serveFile("clip.mp4", bytes);
    EXPECT_EQ(resume(videos.videoUrl("clip.mp4?sig=3")), "loaded " + finalPath());
    EXPECT_EQ(readFile(finalPath()), bytes);
    EXPECT_EQ(videos.fileRequests("clip.mp4").size(), 3u);
}
