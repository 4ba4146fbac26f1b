// A process killed in the middle of writing its persisted maps: the next
// launch finds every write that had returned, and never a damaged map. The
// writer is a forked child killed with SIGKILL while it writes in a loop.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "analytics/OrreryClasses.h"
#include "analytics/OrreryGlobalPersistentManager.h"
#include "platform/foundation/Platform.h"

namespace {

std::string payloadFor(int64_t n) { return std::to_string(n) + std::string(50000, static_cast<char>('a' + n % 26)); }

[[noreturn]] void writeUntilKilled(const std::string& home, int ackFd) {
    PlatformOptions options;
    options.homeDirectory = home;
    Platform::initialize(options);
    registerOrreryClasses();
    auto manager = NSObject::alloc<OrreryGlobalPersistentManager>()->init();
    for (int64_t n = 1;; ++n) {
        manager->processWriteOperationSync(OrreryPersistentMap::RelayUrls, [n](ValueDictionary& map) {
            map.set("n", Value(n));
            map.set("payload", Value(payloadFor(n)));
        });
        // Acknowledged only once the write has returned.
        if (write(ackFd, &n, sizeof n) != static_cast<ssize_t>(sizeof n)) _exit(1);
    }
}

TEST(OrreryPersistenceCrash, WritesThatReturnedSurviveAKillMidWrite) {
    char pattern[] = "/tmp/orrery-crash-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string home = pattern;
    int acks[2];
    ASSERT_EQ(pipe(acks), 0);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(acks[0]);
        writeUntilKilled(home, acks[1]);
    }
    close(acks[1]);

    // Let some writes finish, then kill the child wherever it is.
    int64_t acknowledged = 0;
    while (acknowledged < 25) {
        int64_t n = 0;
        ASSERT_EQ(read(acks[0], &n, sizeof n), static_cast<ssize_t>(sizeof n));
        acknowledged = n;
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    int64_t n = 0;
    while (read(acks[0], &n, sizeof n) == static_cast<ssize_t>(sizeof n)) acknowledged = n;
    close(acks[0]);

    PlatformOptions options;
    options.homeDirectory = home;
    Platform::initialize(options);
    registerOrreryClasses();
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

}  // namespace
