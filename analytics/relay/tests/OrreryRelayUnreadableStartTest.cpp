// Starts of the analytics client, as real processes on one home folder
// (forked children; the Relay configuration endpoint runs in the parent),
// the second of them with the persisted globals unreadable until it has
// logged two events: through the read seam, or chmod 000 in a process
// without root's override. The device identifier such a start cannot read
// never goes out in its place, and its events' running numbers, and the next
// start's, lie above every number given before.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "analytics/Orrery.h"
#include "analytics/OrreryApplicationState.h"
#include "analytics/OrreryClasses.h"
#include "analytics/OrreryGlobalPersistentManager.h"
#include "analytics/OrreryRelayHooks.h"
#include "analytics/OrreryUtil.h"
#include "analytics/relay/OrreryRelayClasses.h"
#include "analytics/relay/OrreryRelayEventController.h"
#include "analytics/relay/OrreryRelaySettings.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/Platform.h"
#include "platform/runtime/HangGuard.h"
#include "platform/runtime/RunLoopDriver.h"
#include "platform/testing/UnreadableFiles.h"
#include "simulator/RelayService.h"

namespace {

using platform::testing::Unreadable;

constexpr const char* kApiKey = "UNREADKEY";

// Hands every trigger on to Relay, keeping the events' running numbers.
class NumberRecordingHooks : public NSObject, public OrreryRelayHooks {
public:
    explicit NumberRecordingHooks(Ref<OrreryRelayHooks> relay) : relay_(std::move(relay)) {}
    void analyticsDidStartWithSessionQueue(const dispatch_queue_t& queue) override {
        relay_->analyticsDidStartWithSessionQueue(queue);
    }
    void applyRefreshRuleForNewSession() override { relay_->applyRefreshRuleForNewSession(); }
    void processEventWithParams(const std::string& name, const Value& params) override {
        if (params[kEventLogIdKey].isNumber()) numbers.push_back(params[kEventLogIdKey].integerValue());
        relay_->processEventWithParams(name, params);
    }
    std::vector<int64_t> numbers;  // on the session queue

private:
    Ref<OrreryRelayHooks> relay_;
};

bool relaySettingsStored() {
    bool stored = false;
    OrreryGlobalPersistentManager::sharedInstance()->processReadOperationSync(
        OrreryPersistentMap::Globals,
        [&stored](const ValueDictionary& globals) { stored = globals.contains(OrreryRelaySettings::kStorageKey); });
    return stored;
}

// One start in a forked child: the configuration fetched, two events, the
// globals unreadable meanwhile when `unreadable` is set and readable again
// for a third, then the application's end. Writes "<numbers> <identifier>"
// to `fd`.
[[noreturn]] void start(const std::string& home, const std::string& configUrl, std::optional<Unreadable> unreadable,
                        int fd) {
    // Alone in this process yet: every thread started later gives it up too.
    if (unreadable == Unreadable::Chmod000 && !platform::testing::dropFileAccessOverride()) _exit(2);
    PlatformOptions options;
    options.homeDirectory = home;
    options.clock = PlatformOptions::ClockKind::Virtual;
    options.flushWritesToDisk = false;
    Platform::initialize(options);
    registerOrreryClasses();
    registerOrreryRelayClasses();
    const std::string globals =
        OrreryUtil::filePathDirectory() + "/" + OrreryGlobalPersistentManager::fileNameForMap(OrreryPersistentMap::Globals);
    if (unreadable && !platform::testing::setUnreadable(globals, *unreadable, true)) _exit(3);

    OrreryRelayEventController::installHooks();
    auto hooks = std::make_shared<NumberRecordingHooks>(OrreryRelayHooks::hooks());
    OrreryRelayHooks::setHooks(hooks);
    Orrery::setRelayEnabled(true);
    Orrery::setRelayServerURL(configUrl);
    Orrery::startSession(kApiKey);
    platform::testing::RunLoopDriver driver{platform::testing::hangGuardScale()};
    if (!driver.runUntil(relaySettingsStored, 10)) _exit(4);
    Orrery::logEvent("First");
    Orrery::logEvent("Second");
    dispatch_sync(Orrery::sessionQueue(), [] {});
    if (unreadable) {
        if (!platform::testing::setUnreadable(globals, *unreadable, false)) _exit(5);
        Orrery::logEvent("Third");
    }
    NSNotificationCenter::defaultCenter()->postNotificationName(OrreryLifecycle::kWillTerminate, nullptr);
    if (!driver.settle()) _exit(6);
    std::ostringstream out;
    dispatch_sync(Orrery::sessionQueue(), [&] {
        for (int64_t n : hooks->numbers) out << n << ",";
    });
    out << " " << OrreryUtil::getOrreryId().value_or("-");
    const std::string text = out.str();
    if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) _exit(7);
    _exit(0);
}

struct StartSeen {
    std::vector<int64_t> numbers;
    std::string identifier;
};

class OrreryRelayUnreadableStartTest : public ::testing::TestWithParam<Unreadable> {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orrery-unreadable-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home = pattern;
        ASSERT_TRUE(relay.start());
    }
    void TearDown() override {
        relay.stop();
        std::filesystem::remove_all(home);
    }

    StartSeen runStart(std::optional<Unreadable> unreadable) {
        int pipeFds[2];
        EXPECT_EQ(pipe(pipeFds), 0);
        pid_t child = fork();
        if (child == 0) {
            close(pipeFds[0]);
            start(home, relay.configUrl(), unreadable, pipeFds[1]);
        }
        close(pipeFds[1]);
        std::string text;
        char buffer[256];
        for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
        close(pipeFds[0]);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the start ended with status " << status;
        StartSeen seen;
        std::istringstream in(text);
        std::string numbers;
        in >> numbers >> seen.identifier;
        std::istringstream list(numbers);
        for (std::string n; std::getline(list, n, ',');) seen.numbers.push_back(std::stoll(n));
        return seen;
    }

    std::string home;
    simulator::RelayService relay;
};

TEST_P(OrreryRelayUnreadableStartTest, AStartThatCannotReadTheGlobalsSendsNoIdentifierOrNumberMadeUp) {
    const StartSeen first = runStart(std::nullopt);
    ASSERT_EQ(first.numbers, (std::vector<int64_t>{1, 2}));
    ASSERT_NE(first.identifier, "-");

    const StartSeen unreadable = runStart(GetParam());
    ASSERT_EQ(unreadable.numbers.size(), 3u);
    EXPECT_GT(unreadable.numbers[0], first.numbers.back());
    EXPECT_GT(unreadable.numbers[1], unreadable.numbers[0]);
    EXPECT_GT(unreadable.numbers[2], unreadable.numbers[1]);
    EXPECT_EQ(unreadable.identifier, first.identifier);

    const StartSeen next = runStart(std::nullopt);
    ASSERT_EQ(next.numbers.size(), 2u);
    EXPECT_GT(next.numbers[0], unreadable.numbers.back());
    EXPECT_EQ(next.identifier, first.identifier);

    // The first start's request carries the identifier it made; no request
    // carries another, the unreadable start's none.
    const auto requests = relay.configRequests();
    ASSERT_GE(requests.size(), 2u);
    std::vector<std::set<std::string>> identifiers;
    for (const auto& request : requests) {
        ASSERT_TRUE(request.decoded) << request.error;
        std::set<std::string> sent;
        for (const auto& id : request.decoded->deviceIds)
            if (id.type == 7) sent.insert(id.id);
        identifiers.push_back(sent);
    }
    EXPECT_EQ(identifiers[0], std::set<std::string>{first.identifier});
    EXPECT_TRUE(identifiers[1].empty());
    for (const auto& sent : identifiers) EXPECT_TRUE(sent.empty() || sent == std::set<std::string>{first.identifier});
}

INSTANTIATE_TEST_SUITE_P(Globals, OrreryRelayUnreadableStartTest,
                         ::testing::Values(Unreadable::ReadsFail, Unreadable::Chmod000),
                         platform::testing::unreadableTestName);

}  // namespace
