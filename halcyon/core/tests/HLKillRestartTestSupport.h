// Kill-and-restart tests of the Halcyon client: a home folder kept across
// processes, the service started in the parent before the fork (so that it
// outlives the child), each process's start of the client on that home, and
// a forked child that says over a pipe when it is ready and is then killed
// with SIGKILL.
#pragma once

#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "halcyon/core/HLConstants.h"
#include "halcyon/core/HLInternalSdkSettings.h"
#include "halcyon/core/HLSdk.h"
#include "platform/foundation/Platform.h"
#include "platform/runtime/HangGuard.h"
#include "platform/runtime/RunLoopDriver.h"
#include "simulator/HalcyonService.h"

class HLKillRestartTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/halcyon-kill-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home = pattern;
        ASSERT_TRUE(service.start());
    }
    void TearDown() override {
        if (Platform::isInitialized()) {
            driver.settle();
            Platform::shutdown();
        }
        service.stop();
        std::filesystem::remove_all(home);
    }

    // The platform on the virtual clock over the kept home folder, with
    // `registerClasses`'s classes.
    void startPlatform(void (*registerClasses)()) {
        PlatformOptions options;
        options.homeDirectory = home;
        options.clock = PlatformOptions::ClockKind::Virtual;
        Platform::initialize(options);
        registerClasses();
    }
    // One process's start: the platform, then the client under `key`
    // pointed at the service; `configure` sets more slots.
    Ref<HLSdk> launch(const char* key, void (*registerClasses)(),
                      const std::function<void(const Ref<HLInternalSdkSettings>&)>& configure = {}) {
        startPlatform(registerClasses);
        auto settings = NSObject::alloc<HLInternalSdkSettings>()->init();
        settings->putString(service.apiUrl(), kHLSlotApiEndpoint);
        settings->putString(service.adServerUrl(), kHLSlotAdServerEndpoint);
        settings->putString(service.eventUrl(), kHLSlotEventTrackingEndpoint);
        settings->putString(service.resourcePrefixes(), kHLSlotResourceCachePrefix);
        if (configure) configure(settings);
        return HLSdk::sharedWithKey(std::string(key), settings);
    }

    // Forks a child that runs `child` with the pipe's write end: it writes
    // one byte (1 when it got where the test wants it) and then calls
    // `runUntilKilled`. Once the byte is read and `beforeKill` has run, the
    // child is killed. Returns the byte; fails when none came or the child
    // ended otherwise.
    char forkAndKill(const std::function<void(int ackFd)>& child, const std::function<void()>& beforeKill = {}) {
        int acks[2];
        if (pipe(acks) != 0) {
            ADD_FAILURE() << "no pipe";
            return 0;
        }
        const pid_t pid = fork();
        if (pid == 0) {
            close(acks[0]);
            child(acks[1]);
            _exit(1);
        }
        close(acks[1]);
        char ack = 0;
        const ssize_t got = pid > 0 ? read(acks[0], &ack, 1) : 0;
        close(acks[0]);
        if (beforeKill) beforeKill();
        int status = 0;
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        EXPECT_EQ(got, 1) << "the child ended before it was ready";
        EXPECT_TRUE(pid > 0 && WIFSIGNALED(status)) << "the child was not killed";
        return got == 1 ? ack : 0;
    }
    // The child's last step.
    [[noreturn]] void runUntilKilled(int ackFd, char ack) {
        if (write(ackFd, &ack, 1) != 1) _exit(1);
        for (;;) driver.runUntil([] { return false; }, 60);
    }

    std::string home;
    simulator::HalcyonService service;
    platform::testing::RunLoopDriver driver{platform::testing::hangGuardScale()};
};
