// A process killed in the middle of writing its persisted maps: the next
// launch finds every write that had returned, and never a damaged map; and a
// process killed while it logs events: the next launch never numbers an
// event as one before. The writer is a forked child killed with SIGKILL.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <utility>
#include <string>

#include "analytics/Orrery.h"
#include "analytics/OrreryClasses.h"
#include "analytics/OrreryGlobalPersistentManager.h"
#include "analytics/OrreryRelayHooks.h"
#include "platform/foundation/Platform.h"

namespace {

std::string payloadFor(int64_t n) { return std::to_string(n) + std::string(50000, static_cast<char>('a' + n % 26)); }

void startPlatform(const std::string& home) {
    PlatformOptions options;
    options.homeDirectory = home;
    Platform::initialize(options);
    registerOrreryClasses();
}

// A child on a fresh home folder runs `body`, which acknowledges numbers on
// the pipe; once one reaches `until` the child is killed wherever it is.
// Returns the home folder and the last number acknowledged.
std::pair<std::string, int64_t> runChildUntilKilled(const std::function<void(int ackFd)>& body, int64_t until) {
    char pattern[] = "/tmp/orrery-crash-XXXXXX";
    if (!mkdtemp(pattern)) return {};
    std::string home = pattern;
    int acks[2];
    if (pipe(acks) != 0) return {};
    pid_t child = fork();
    if (child == 0) {
        close(acks[0]);
        startPlatform(home);
        body(acks[1]);
        _exit(1);
    }
    close(acks[1]);
    int64_t acknowledged = 0;
    int64_t n = 0;
    while (acknowledged < until && read(acks[0], &n, sizeof n) == static_cast<ssize_t>(sizeof n)) acknowledged = n;
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    while (read(acks[0], &n, sizeof n) == static_cast<ssize_t>(sizeof n)) acknowledged = n;
    close(acks[0]);
    return {home, acknowledged};
}

void acknowledge(int fd, int64_t n) {
    if (write(fd, &n, sizeof n) != static_cast<ssize_t>(sizeof n)) _exit(1);
}

TEST(OrreryPersistenceCrash, WritesThatReturnedSurviveAKillMidWrite) {
    auto [home, acknowledged] = runChildUntilKilled(
        [](int ackFd) {
            auto manager = NSObject::alloc<OrreryGlobalPersistentManager>()->init();
            for (int64_t n = 1;; ++n) {
                manager->processWriteOperationSync(OrreryPersistentMap::RelayUrls, [n](ValueDictionary& map) {
                    map.set("n", Value(n));
                    map.set("payload", Value(payloadFor(n)));
                });
                // Acknowledged only once the write has returned.
                acknowledge(ackFd, n);
            }
        },
        25);
    ASSERT_GE(acknowledged, 25);

    startPlatform(home);
    int64_t found = 0;
    std::string payload;
    NSObject::alloc<OrreryGlobalPersistentManager>()->init()->processReadOperationSync(
        OrreryPersistentMap::RelayUrls, [&](const ValueDictionary& map) {
            if (const Value* value = map.find("n")) found = value->integerValue();
            if (const Value* value = map.find("payload")) payload = value->stringValue();
        });
    // The write in progress at the kill may or may not have landed; none before it is lost.
    EXPECT_GE(found, acknowledged);
    EXPECT_LE(found, acknowledged + 1);
    EXPECT_EQ(payload, payloadFor(found));

    Platform::shutdown();
    std::filesystem::remove_all(home);
}

// Hands every event's running number to a pipe (or keeps the last one).
class OrreryCrashTestIdHooks : public NSObject, public OrreryRelayHooks {
public:
    explicit OrreryCrashTestIdHooks(int fd) : fd_(fd) {}
    void processEventWithParams(const std::string&, const Value& params) override {
        const Value& id = params[OrreryRelayHooks::kEventLogIdKey];
        if (!id.isNumber()) return;
        last = id.integerValue();
        if (fd_ >= 0) acknowledge(fd_, last);
    }
    std::atomic<int64_t> last{0};

private:
    int fd_;
};

void startLoggingWithHooks(const Ref<OrreryCrashTestIdHooks>& hooks) {
    OrreryRelayHooks::setHooks(hooks);
    Orrery::setRelayEnabled(true);
    Orrery::startSession("key");
}

TEST(OrreryPersistenceCrash, EventNumbersNeverRepeatAfterAKill) {
    // Past more than one block of numbers, then killed wherever it is.
    auto [home, used] = runChildUntilKilled(
        [](int ackFd) {
            startLoggingWithHooks(std::make_shared<OrreryCrashTestIdHooks>(ackFd));
            for (;;) {
                Orrery::logEvent("Word_spoke");
                dispatch_sync(Orrery::sessionQueue(), [] {});
            }
        },
        250);
    ASSERT_GE(used, 250);

    startPlatform(home);
    auto hooks = std::make_shared<OrreryCrashTestIdHooks>(-1);
    startLoggingWithHooks(hooks);
    Orrery::logEvent("Word_spoke");
    dispatch_sync(Orrery::sessionQueue(), [] {});
    EXPECT_GT(hooks->last.load(), used);
    OrreryRelayHooks::setHooks(nullptr);

    Platform::shutdown();
    std::filesystem::remove_all(home);
}

}  // namespace
