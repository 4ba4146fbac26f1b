// Postbacks across a kill: a forked child starts the client, submits two
// postbacks and is killed with SIGKILL, once while the first request is held
// by the service and once right after the file was written (the postback
// queue held, so that no request has left). The next process
// (the parent, started afresh on the same home folder) finds both in the file
// and delivers each once. A child that claims the file earlier versions
// shared on a full disk is killed too. The service runs in the parent before
// the fork, so that it outlives the child.
#include <string>
#include <vector>

#include "halcyon/core/HLPersistentPostbackManager.h"
#include "halcyon/core/HLPostbackRequest.h"
#include "halcyon/core/HLTaskManager.h"
#include "halcyon/core/HalcyonCoreClasses.h"
#include "halcyon/core/tests/HLKillRestartTestSupport.h"
#include "platform/foundation/FileSystemConditions.h"
#include "platform/foundation/NSKeyedArchiver.h"

namespace {

using simulator::Answer;
using simulator::HalcyonService;

constexpr const char* kHLKillTestKey = "KILLTEST-KEY";

struct HLKillTestEntry {
    std::string url;  // without the time stamp
    Value body;
    int32_t attempts;
    bool operator==(const HLKillTestEntry& other) const {
        return url == other.url && body == other.body && attempts == other.attempts;
    }
};
std::ostream& operator<<(std::ostream& out, const HLKillTestEntry& entry) {
    return out << entry.url << " " << entry.body.description() << " #" << entry.attempts;
}

// The key's own file: its name carries the SHA-1 of kHLKillTestKey.
std::string hlKillTestQueueFile(const std::string& home) {
    return home + "/Library/Caches/hl/queued_postbacks_1.8418474a9b3a610b65282a830362998edd289d9d.plist";
}

// The file as the next start reads it; each request's stamp goes to `stamps`.
std::vector<HLKillTestEntry> hlKillTestStoredEntries(const std::string& home, std::vector<std::string>* stamps) {
    std::vector<HLKillTestEntry> entries;
    const Value root = NSKeyedUnarchiver::unarchiveObjectWithFile(hlKillTestQueueFile(home));
    EXPECT_TRUE(root.isArray());
    if (const auto* items = root.array())
        for (const Value& item : *items) {
            auto request = item.object<HLPostbackRequest>();
            if (!request || !request->targetURL()) {
                ADD_FAILURE() << "a stored entry is no postback";
                continue;
            }
            const std::string& text = request->targetURL()->absoluteString();
            const size_t cut = text.find("&postback_ts=");
            entries.push_back({text.substr(0, cut), request->requestBody(), request->attemptNumber()});
            if (stamps) stamps->push_back(text.substr(cut + 13));
        }
    return entries;
}

enum class HLKillPoint { RequestInFlight, FileJustWritten };

class HLPostbackKillRestartTest : public HLKillRestartTest {
protected:
    // A start of the client; postbacks are not retried.
    Ref<HLSdk> launchClient() {
        return launch(kHLKillTestKey, registerHalcyonCoreClasses,
                      [](const Ref<HLInternalSdkSettings>& settings) { settings->putInt(0, kHLSlotSubmitPostbackRetries); });
    }
    std::string url(std::string_view name) { return service.postbackUrl(name) + "?n=1"; }

    // The child: starts, submits the two postbacks, tells the parent once
    // both are in the file and runs on until it is killed.
    [[noreturn]] void submitUntilKilled(HLKillPoint point, const std::string& first, int ackFd) {
        Ref<HLSdk> sdk = launchClient();
        bool ready = driver.settle(10) && sdk->isEnabledAndInitialized();
        if (point == HLKillPoint::FileJustWritten)
            sdk->taskManager()->postbackQueue()->addOperationWithBlock([] {
                for (;;) pause();
            });
        auto manager = sdk->persistentPostbackManager();
        manager->submitPostback(NSURL::URLWithString(url(first)), Value());
        manager->submitPostback(NSURL::URLWithString(url("second")), Value::dictionary({{"level", "7"}}));
        runUntilKilled(ackFd, ready ? 1 : 0);
    }

    void runChildAndKill(HLKillPoint point, const std::string& first) {
        bool held = false;
        const char ack = forkAndKill([&](int ackFd) { submitUntilKilled(point, first, ackFd); },
                                     [&] { held = point != HLKillPoint::RequestInFlight || service.server().waitForStalled(1, 5); });
        service.server().releaseStalled();
        ASSERT_FALSE(HasFailure());
        ASSERT_EQ(ack, 1) << "the child did not start";
        ASSERT_TRUE(held) << "the request never reached the service";
    }

    // The next start delivers both, each once, with the stamps they were stored with.
    void relaunchAndDeliver(const std::string& first) {
        service.server().route("GET", HalcyonService::postbackPath(first), Answer::ok());
        const size_t firstBefore = service.postbacksTo(first).size();
        const size_t secondBefore = service.postbacksTo("second").size();

        // Decoded before the client reads it.
        startPlatform(registerHalcyonCoreClasses);
        std::vector<std::string> stamps;
        EXPECT_EQ(hlKillTestStoredEntries(home, &stamps),
                  (std::vector<HLKillTestEntry>{{url(first), Value(), 1},
                                                {url("second"), Value::dictionary({{"level", "7"}}), 1}}));
        ASSERT_EQ(stamps.size(), 2u);
        Platform::shutdown();

        Ref<HLSdk> sdk = launchClient();
        ASSERT_TRUE(driver.settle(10));
        auto firsts = service.postbacksTo(first);
        auto seconds = service.postbacksTo("second");
        ASSERT_EQ(firsts.size(), firstBefore + 1);
        ASSERT_EQ(seconds.size(), secondBefore + 1);
        EXPECT_EQ(firsts.back().field("postback_ts"), stamps[0]);
        EXPECT_EQ(seconds.back().field("postback_ts"), stamps[1]);
        EXPECT_EQ(seconds.back().request.method, "POST");
        EXPECT_EQ(seconds.back().body, Value::dictionary({{"level", "7"}}));
        EXPECT_TRUE(hlKillTestStoredEntries(home, nullptr).empty());
        EXPECT_TRUE(sdk->persistentPostbackManager()->postbackQueue().empty());
    }

};

TEST_F(HLPostbackKillRestartTest, APostbackInFlightAtTheKillIsDeliveredByTheNextStart) {
    // The first request is held; the second waits behind it on the postback queue.
    service.server().route("GET", HalcyonService::postbackPath("held"), Answer::stall(Answer::withStatus(500)));
    ASSERT_NO_FATAL_FAILURE(runChildAndKill(HLKillPoint::RequestInFlight, "held"));
    EXPECT_EQ(service.postbacksTo("held").size(), 1u);
    EXPECT_EQ(service.postbacksTo("second").size(), 0u);
    ASSERT_NO_FATAL_FAILURE(relaunchAndDeliver("held"));
}

TEST_F(HLPostbackKillRestartTest, PostbacksKilledRightAfterTheWriteAreDeliveredByTheNextStart) {
    ASSERT_NO_FATAL_FAILURE(runChildAndKill(HLKillPoint::FileJustWritten, "first"));
    EXPECT_EQ(service.postbacksTo("first").size(), 0u);
    EXPECT_EQ(service.postbacksTo("second").size(), 0u);
    ASSERT_NO_FATAL_FAILURE(relaunchAndDeliver("first"));
}

TEST_F(HLPostbackKillRestartTest, ThePostbacksOfASharedFileClaimedOnAFullDiskAreSentOnceAcrossAKill) {
    // What an earlier version left, written before the fork.
    const std::string cache = home + "/Library/Caches/hl";
    startPlatform(registerHalcyonCoreClasses);
    std::filesystem::create_directories(cache);
    auto left = NSObject::alloc<HLPostbackRequest>()->initWithURL(NSURL::URLWithString(url("old") + "&postback_ts=1"),
                                                                  Value(), 0);
    ASSERT_TRUE(NSKeyedArchiver::archiveRootObject(Value(Value::Array{Value(left)}), cache + "/queued_postbacks_1.plist"));
    Platform::shutdown();

    // Killed once its start, which cannot write the key's file, has settled.
    const char ack = forkAndKill([&](int ackFd) {
        platform::testing::FileSystemConditions::setWritesFail(cache, true);
        Ref<HLSdk> sdk = launchClient();
        runUntilKilled(ackFd, driver.settle(10) && sdk->isEnabledAndInitialized() ? 1 : 0);
    });
    ASSERT_EQ(ack, 1) << "the child did not start";
    EXPECT_EQ(service.postbacksTo("old").size(), 0u);

    Ref<HLSdk> sdk = launchClient();
    ASSERT_TRUE(driver.settle(10));
    EXPECT_EQ(service.postbacksTo("old").size(), 1u);
    EXPECT_TRUE(hlKillTestStoredEntries(home, nullptr).empty());
    EXPECT_FALSE(std::filesystem::exists(cache + "/queued_postbacks_1.8418474a9b3a610b65282a830362998edd289d9d.adopted.plist"));
}

}  // namespace
