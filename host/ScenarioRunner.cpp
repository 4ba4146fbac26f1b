#include "host/ScenarioRunner.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "Trillium/display/TrilliumDisplayClasses.h"
#include "analytics/OrreryClasses.h"
#include "analytics/relay/OrreryRelayClasses.h"
#include "host/HostAppDelegate.h"
#include "host/relay_demo/RelayDemo.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Platform.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSRunLoop.h"
#include "platform/runtime/RunLoopDriver.h"
#include "platform/ui/UIApplication.h"
#include "simulator/TrilliumService.h"
#include "tamarind/TamarindClasses.h"

namespace fs = std::filesystem;

namespace {

std::atomic<bool> quitRequested{false};

// Real seconds to wait for requests under way before going on without them.
constexpr double kSettleSeconds = 10;
// Wall-clock stays run the loop in slices, so a quit request is seen promptly.
constexpr double kWallSlice = 0.25;

// Every linked client library's classes, so class-name probes (the Trillium
// client's other-clients report among them) see what is really linked.
// The Halcyon client's registration joins here once its library is linked.
void registerLinkedClientClasses() {
    registerUIClasses();
    registerOrreryClasses();
    registerOrreryRelayClasses();
    registerTrilliumDisplayClasses();
    registerTamarindClasses();
}

const char* const kLifecycleNotifications[] = {
    UIApplicationDidFinishLaunchingNotification, UIApplicationDidBecomeActiveNotification,
    UIApplicationWillResignActiveNotification,   UIApplicationDidEnterBackgroundNotification,
    UIApplicationWillEnterForegroundNotification, UIApplicationWillTerminateNotification,
};

}  // namespace

ScenarioRunner::ScenarioRunner(HostOptions options)
    : options_(std::move(options)), timeline_(options_.echoTimeline) {}

ScenarioRunner::~ScenarioRunner() { finish(); }

void ScenarioRunner::requestQuit() {
    quitRequested.store(true);
    platform::runtime::stopMainRunLoop();
}

bool ScenarioRunner::fail(const std::string& message) {
    error_ = message;
    std::fprintf(stderr, "host: %s\n", message.c_str());
    return false;
}

int ScenarioRunner::run() {
    if (!startServices() || !startPlatform()) {
        finish();
        return 1;
    }
    playScenario();
    bool written = writeOutput();
    finish();
    if (!written) return 1;
    std::printf("host: output written to %s\n", options_.outDir.c_str());
    return 0;
}

bool ScenarioRunner::startServices() {
    recorder_ = std::make_unique<TrafficRecorder>(timeline_);
    std::string trillium = options_.trilliumUrl;
    if (trillium.empty()) {
        embeddedTrillium_ = std::make_unique<simulator::TrilliumService>();
        if (!embeddedTrillium_->start()) return fail("the embedded Trillium service cannot start on loopback");
        trillium = embeddedTrillium_->baseUrl();
    }
    // The analytics client's Relay services join here, embedded or given by
    // URL, each behind a recording proxy of its own (addService), and their part of the
    // scenario runs in the foreground stay after the launch.
    auto proxied = recorder_->addService("trillium", trillium);
    if (!proxied) return fail("cannot reach the Trillium service through a proxy at " + trillium);
    trilliumUrl_ = *proxied;
    return true;
}

bool ScenarioRunner::startPlatform() {
    std::error_code ec;
    if (options_.homeDir.empty()) {
        std::string pattern = (fs::temp_directory_path() / "paranormal-host-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) return fail("cannot make a sandbox folder");
        sandbox_ = pattern;
        temporarySandbox_ = true;
    } else {
        sandbox_ = options_.homeDir;
        fs::create_directories(sandbox_, ec);
        if (ec) return fail("cannot make the sandbox folder " + sandbox_ + ": " + ec.message());
    }

    Platform::addClassRegistration(registerLinkedClientClasses);
    PlatformOptions platformOptions;
    platformOptions.homeDirectory = sandbox_;
    platformOptions.bundlePath = options_.bundlePath;
    platformOptions.clock = options_.clock == HostOptions::Clock::Virtual ? PlatformOptions::ClockKind::Virtual
                                                                          : PlatformOptions::ClockKind::System;
    Platform::initialize(platformOptions);
    platformStarted_ = true;
    timeline_.start();
    platform::setLogSink([this](platform::LogLevel, std::string_view line) { timeline_.add("log", line); });

    timeline_.add("host", std::string("clock: ") + (Clock::current()->isVirtual() ? "virtual" : "wall"));
    timeline_.add("host", "sandbox: " + sandbox_);
    timeline_.add("host", "Trillium service: " + (embeddedTrillium_ ? embeddedTrillium_->baseUrl() + " (embedded)"
                                                                    : options_.trilliumUrl) +
                              ", reached through " + trilliumUrl_);
    // The client's built-in ad platform is not reachable from here: point it
    // at the service, as a configuration answer would.
    NSUserDefaults::standardUserDefaults()->setObject(Value(trilliumUrl_), "TRAAdPlatformHost");
    return true;
}

void ScenarioRunner::observeLifecycle() {
    auto center = NSNotificationCenter::defaultCenter();
    for (const char* name : kLifecycleNotifications) {
        std::string text = name;
        observers_.push_back(center->addObserverForName(
            name, nullptr, nullptr, [this, text](const NSNotification&) { timeline_.add("life", text); }));
    }
}

void ScenarioRunner::playScenario() {
    auto app = UIApplication::sharedApplication();
    delegate_ = NSObject::alloc<HostAppDelegate>()->initWithOptions(options_, &timeline_);
    observeLifecycle();

    // Relay is switched on before the session starts (the client reads its
    // switch then); its failing partner is retried on the virtual clock.
    if (Clock::current()->isVirtual()) {
        relayDemo_ = std::make_unique<RelayDemo>([this](const std::string& line) { timeline_.add("relay", line); });
        if (!relayDemo_->prepare()) relayDemo_.reset();
    }

    timeline_.add("host", "launch");
    app->simulateLaunch(delegate_);
    timeline_.add("host", "main run loop");
    if (relayDemo_) {
        platform::testing::RunLoopDriver driver;
        relayDemo_->run(driver, options_.outDir);
    }
    stay(kForegroundStay);

    if (!quitRequested) {
        timeline_.add("host", "the user leaves the application");
        app->simulateEnterBackground();
        stay(kBackgroundStay);
    }
    if (!quitRequested) {
        timeline_.add("host", "the user returns");
        app->simulateEnterForeground();
        app->simulateBecomeActive();
        stay(kStayAfterReturn);
    }

    timeline_.add("host", "quit: the user leaves the application and the system ends it");
    if (app->applicationState() != UIApplicationStateBackground) app->simulateEnterBackground();
    app->simulateTerminate();
    settle();
}

void ScenarioRunner::settle() {
    if (!platform::testing::RunLoopDriver().settle(kSettleSeconds))
        timeline_.add("host", "requests still under way are left behind");
}

void ScenarioRunner::stay(double seconds) {
    auto clock = Clock::current();
    const double end = clock->uptime() + seconds;
    if (!clock->isVirtual()) {
        while (!quitRequested && clock->uptime() < end) {
            double slice = std::min(kWallSlice, end - clock->uptime());
            NSRunLoop::mainRunLoop()->runUntilDate(NSDate::dateWithTimeIntervalSinceNow(slice));
        }
        return;
    }
    // Virtual: from timer to timer, letting each step's requests finish first.
    platform::testing::RunLoopDriver driver;
    for (;;) {
        settle();
        double now = clock->uptime();
        if (quitRequested || now >= end) return;
        double step = end - now;
        if (auto next = platform::runtime::nextTimerUptime(); next && *next > now && *next < end) step = *next - now;
        driver.advance(step);
    }
}

bool ScenarioRunner::writeOutput() {
    std::error_code ec;
    fs::create_directories(options_.outDir, ec);
    if (ec) return fail("cannot make the output folder " + options_.outDir + ": " + ec.message());
    // Only what this program writes is replaced.
    for (const char* stale : {"timeline.txt", "traffic", "sandbox"})
        fs::remove_all(fs::path(options_.outDir) / stale, ec);

    bool ok = true;
    if (!recorder_->writeTo(options_.outDir + "/traffic")) ok = fail("cannot write the recorded traffic");
    if (!timeline_.writeTo(options_.outDir + "/timeline.txt")) ok = fail("cannot write the timeline");
    fs::copy(sandbox_, fs::path(options_.outDir) / "sandbox", fs::copy_options::recursive, ec);
    if (ec) ok = fail("cannot copy the sandbox: " + ec.message());
    return ok;
}

void ScenarioRunner::finish() {
    // Relay's hooks and singletons go before the platform shuts down.
    relayDemo_.reset();
    auto center = platformStarted_ ? NSNotificationCenter::defaultCenter() : nullptr;
    for (const auto& observer : observers_) center->removeObserver(observer.get());
    observers_.clear();
    if (recorder_) recorder_->stop();
    if (platformStarted_) {
        platform::setLogSink(nullptr);
        Platform::shutdown();
        platformStarted_ = false;
    }
    if (embeddedTrillium_) embeddedTrillium_->stop();
    if (temporarySandbox_) {
        std::error_code ec;
        fs::remove_all(sandbox_, ec);
        temporarySandbox_ = false;
    }
}
