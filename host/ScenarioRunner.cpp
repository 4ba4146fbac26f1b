#include "host/ScenarioRunner.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "Trillium/display/TrilliumDisplayClasses.h"
#include "analytics/OrreryClasses.h"
#include "analytics/relay/OrreryRelayClasses.h"
#include "halcyon/display/HalcyonDisplayClasses.h"
#include "host/OutputFolder.h"
#include "host/RunSignals.h"
#include "host/scenarios/Scenarios.h"
#include "platform/foundation/NSData.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Platform.h"
#include "platform/net/TrustedAuthorities.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/RunLoopDriver.h"
#include "platform/runtime/VirtualClock.h"
#include "platform/runtime/NSRunLoop.h"
#include "platform/ui/UIApplication.h"
#include "simulator/HalcyonService.h"
#include "simulator/PartnerService.h"
#include "simulator/RelayService.h"
#include "simulator/TamarindService.h"
#include "simulator/TrilliumService.h"
#include "tamarind/TamarindClasses.h"

namespace fs = std::filesystem;

namespace {

// Waits are cut in slices so that a quit request is seen within one.
constexpr double kScenarioSlice = 0.1;
// Real seconds given to what is under way once a quit was requested.
constexpr double kQuitSettleSeconds = 2;

using Steady = std::chrono::steady_clock;

double secondsSince(Steady::time_point start) { return std::chrono::duration<double>(Steady::now() - start).count(); }

// Where a kept home records when its last run ended, by the application clock.
constexpr const char* kHomeClockFile = ".host-clock";
// A last end further ahead of the wall clock than this is no run's end.
constexpr double kHomeClockMostAhead = 366 * 86400.0;

// The last end a clock file's text gives: a number alone (white space
// around it aside), positive and not too far ahead of `now`; nothing for
// a damaged file (no number, "inf", "nan", 1e308).
std::optional<double> homeClockEnd(const std::string& text, double now) {
    const char* begin = text.c_str();
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    if (end == begin || text.find_first_not_of(" \t\r\n", static_cast<size_t>(end - begin)) != std::string::npos)
        return std::nullopt;
    if (!std::isfinite(value) || value <= 0 || value - now > kHomeClockMostAhead) return std::nullopt;
    return value;
}
// Where a kept home records its last run's proxy ports, by service.
constexpr const char* kHomePortsFile = ".host-ports";

// Every linked client library's classes, so class-name probes (the Trillium
// client's other-clients report among them) see what is really linked.
void registerLinkedClientClasses() {
    registerUIClasses();
    registerOrreryClasses();
    registerOrreryRelayClasses();
    registerTrilliumDisplayClasses();
    registerTamarindClasses();
    registerHalcyonDisplayClasses();
}

const char* const kLifecycleNotifications[] = {
    UIApplicationDidFinishLaunchingNotification, UIApplicationDidBecomeActiveNotification,
    UIApplicationWillResignActiveNotification,   UIApplicationDidEnterBackgroundNotification,
    UIApplicationWillEnterForegroundNotification, UIApplicationWillTerminateNotification,
};

// ---- what each request is for -----------------------------------------------------------

std::string queryField(const std::string& target, const std::string& name) {
    size_t q = target.find('?');
    if (q == std::string::npos) return {};
    for (const auto& [key, value] : simulator::TrilliumService::parseQuery(target.substr(q + 1)))
        if (key == name) return value;
    return {};
}

bool pathEndsWith(const std::string& target, const std::string& suffix) {
    std::string path = target.substr(0, target.find('?'));
    return path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string trilliumPurpose(const std::string&, const std::string& target) {
    if (pathEndsWith(target, "/getadsmetadata")) return "configuration (session reason " + queryField(target, "sessionReason") + ")";
    if (pathEndsWith(target, "/gethtmlad")) return "full-screen ad (" + queryField(target, "placement") + ")";
    if (pathEndsWith(target, "/getads")) return "ad list (" + queryField(target, "placement") + ")";
    if (pathEndsWith(target, "/trackdownload")) return "first-launch report";
    if (pathEndsWith(target, "/trackimpression")) return "impression";
    if (pathEndsWith(target, "/trackclick")) return "click";
    if (pathEndsWith(target, "/trackclose")) return "close";
    if (pathEndsWith(target, "/trackvideo")) return "video event";
    if (pathEndsWith(target, "/tracking/infoEvent")) return "analytics event (category " + queryField(target, "category") + ")";
    return {};
}

std::string relayPurpose(const std::string&, const std::string& target) {
    if (pathEndsWith(target, simulator::RelayService::kConfigPath)) return "configuration";
    if (pathEndsWith(target, simulator::RelayService::kReportPath)) return "callback report";
    return {};
}

std::string partnerPurpose(const std::string&, const std::string&) { return "callback"; }

std::string halcyonPurpose(const std::string&, const std::string& target) {
    if (pathEndsWith(target, simulator::HalcyonService::kDevicePath)) return "device data";
    if (pathEndsWith(target, simulator::HalcyonService::kRewardValidationPath)) return "reward validation";
    if (pathEndsWith(target, simulator::HalcyonService::kRewardReportPath)) return "reward report";
    if (pathEndsWith(target, "/2.0/ad")) return "ad request";
    if (pathEndsWith(target, "/nad")) return "native ad request";
    if (pathEndsWith(target, simulator::HalcyonService::kEventPath)) return "event pixel";
    if (target.find(simulator::HalcyonService::kPostbackBasePath) != std::string::npos) return "postback";
    if (target.find(simulator::HalcyonService::kNativeResourceBasePath) != std::string::npos) return "native ad resource";
    if (target.find(simulator::HalcyonService::kResourceBasePath) != std::string::npos) return "ad resource";
    if (target.find(simulator::HalcyonService::kNativeTrackingBasePath) != std::string::npos) return "native ad tracking";
    return {};
}

bool pathStartsWith(const std::string& target, const std::string& prefix) {
    return target.compare(0, prefix.size(), prefix) == 0;
}

std::string tamarindPurpose(const std::string&, const std::string& target) {
    using simulator::TamarindService;
    if (pathStartsWith(target, TamarindService::kConfigurationPath)) return "configuration";
    if (pathStartsWith(target, TamarindService::kAdPath)) return "ad request";
    if (pathStartsWith(target, TamarindService::kGenerateDevicePath)) return "device identity";
    if (pathStartsWith(target, TamarindService::kUpdateDevicePath)) return "device update";
    if (pathStartsWith(target, TamarindService::kRegisterEventPath)) return "application events";
    if (pathStartsWith(target, TamarindService::kViewabilityScriptPath)) return "viewability script";
    if (pathStartsWith(target, TamarindService::kImpressionPath)) return "impression pixel";
    if (pathStartsWith(target, TamarindService::kInstrumentationPath)) return "instrumentation pixel";
    if (pathStartsWith(target, TamarindService::kMetricPath)) return "metric pixel";
    return {};
}

// The ad platform's host a Trillium configuration names: the client follows
// it, so it is reached through a proxy too.
std::vector<std::string> trilliumNamedHosts(const std::string& target, const std::string& body) {
    if (!pathEndsWith(target, "/getadsmetadata")) return {};
    auto json = NSJSONSerialization::JSONObjectWithData(NSData::dataWithString(body));
    if (!json || !json->isDictionary() || !(*json)["adPlatformHost"].isString()) return {};
    return {(*json)["adPlatformHost"].stringValue()};
}

// The hosts a Tamarind configuration names for the ad server, the identity
// service, the metric pixels and the viewability script, and the pixels an ad
// answer names (wherever the configuration puts the ad server): the client
// follows them, so each is reached through a proxy too.
std::vector<std::string> tamarindNamedHosts(const std::string&, const std::string& body) {
    auto json = NSJSONSerialization::JSONObjectWithData(NSData::dataWithString(body));
    if (!json || !json->isDictionary()) return {};
    std::vector<std::string> hosts;
    for (const char* field : {"adServerHost", "sisHost", "metricEndpoint", "viewabilityScriptUrl", "impressionPixel",
                              "instrumentationPixel"})
        if ((*json)[field].isString()) hosts.push_back((*json)[field].stringValue());
    return hosts;
}

}  // namespace

ScenarioRunner::ScenarioRunner(HostOptions options)
    : options_(std::move(options)), timeline_(options_.echoTimeline) {}

ScenarioRunner::~ScenarioRunner() { finish(); }

bool ScenarioRunner::quitRequested() const { return RunSignals::quitRequested(); }

bool ScenarioRunner::fail(const std::string& message) {
    error_ = message;
    std::fprintf(stderr, "host: %s\n", message.c_str());
    return false;
}

int ScenarioRunner::run() {
    const ScenarioInfo* info = ScenarioRegistry::find(options_.scenario);
    if (!info) {
        fail(options_.scenario.empty() ? "no scenario named (ScenarioSuite plays them all)"
                                       : "unknown scenario: " + options_.scenario);
        return 1;
    }
    // The folders are claimed before anything runs: a refusal costs nothing.
    std::vector<std::string> removed;
    if (std::string refusal = OutputFolder::claim(options_.outDir, options_.homeDir, !options_.exitWhenIdle,
                                                  homeLock_, outputLock_, &removed);
        !refusal.empty()) {
        fail(refusal);
        return 1;
    }
    if (std::string note = OutputFolder::removalNote(options_.outDir, removed, OutputFolder::Layout::OneScenario);
        !note.empty())
        std::printf("host: %s\n", note.c_str());
    if (!options_.exitWhenIdle)
        RunSignals::setAbortNote("the program ended at once; the scenario's timeline, client log, traffic and sandbox "
                                 "were not written into " + options_.outDir);
    readHomePorts();
    if (!startServices(info->services) || !startPlatform()) {
        finish();
        return 1;
    }
    // URLs the clients store from now on name these ports: a run that is
    // killed has them saved too.
    recordHomePorts();
    timeline_.add("host", std::string("scenario: ") + info->name);
    // What a clean run shows against the embedded services is known.
    if (std::all_of(services_.begin(), services_.end(), [](const ScenarioService& s) { return s.embedded; }))
        for (const ScenarioExpectedLines& expected : info->expected) timeline_.expect(expected.fragments, expected.why);
    info->make()->play(*this);
    noteQuit();
    // An empty client log reads like lost lines: say that none came.
    if (timeline_.logLines().empty())
        timeline_.add("host", std::string(OutputFolder::kClientLog) +
                                  " is empty: no client logged a line (each logs only what its own log level lets "
                                  "through)");
    recordHomeClock();
    // The https listeners are made on demand, some during the scenario.
    recordHomePorts();
    // What has no answer yet gets none: the run has ended.
    recorder_->endUnanswered();
    RunSignals::setAbortNote("the program ended at once; the scenario's output in " + options_.outDir +
                             " was not written whole");
    bool written = writeOutput();
    finish();
    if (!written) return 1;
    std::printf("host: output written to %s\n", options_.outDir.c_str());
    return RunSignals::exitStatus();
}

// ---- services ---------------------------------------------------------------------------

const ScenarioService* ScenarioRunner::service(const std::string& name) const {
    for (const ScenarioService& s : services_)
        if (s.name == name) return &s;
    return nullptr;
}

bool ScenarioRunner::addService(const std::string& name, const std::string& givenUrl, const std::string& embeddedUrl,
                                TrafficRecorder::Labeler labeler, TrafficRecorder::OriginNamer namer) {
    ScenarioService s{name, {}, givenUrl.empty() ? embeddedUrl : givenUrl, givenUrl.empty(), {}};
    auto proxied = recorder_->addService(name, s.serviceUrl, std::move(labeler), std::move(namer));
    if (!proxied) return fail("cannot reach the " + name + " service through a proxy at " + s.serviceUrl);
    s.clientUrl = *proxied;
    services_.push_back(std::move(s));
    return true;
}

bool ScenarioRunner::startServices(const std::vector<std::string>& used) {
    recorder_ = std::make_unique<TrafficRecorder>(timeline_);
    recorder_->setPreferredPorts(homePorts_);
    recorder_->setServiceSeconds(options_.serviceSeconds);
    auto uses = [&](const char* name) { return std::find(used.begin(), used.end(), name) != used.end(); };
    auto embed = [&](auto& service, const char* name) {
        service = std::make_unique<typename std::decay_t<decltype(*service)>>();
        // Reached through the recorder's http proxies: https keys only if asked for.
        service->server().setHttpsOnDemand(true);
        if (!service->start()) return fail(std::string("the embedded ") + name + " service cannot start on loopback");
        return true;
    };
    if (uses("trillium")) {
        if (options_.trilliumUrl.empty() && !embed(embeddedTrillium_, "Trillium")) return false;
        if (!addService("trillium", options_.trilliumUrl, embeddedTrillium_ ? embeddedTrillium_->baseUrl() : "",
                        trilliumPurpose, trilliumNamedHosts))
            return false;
    }
    if (uses("relay")) {
        if (options_.relayUrl.empty() && !embed(embeddedRelay_, "Relay configuration")) return false;
        if (!addService("relay", options_.relayUrl, embeddedRelay_ ? embeddedRelay_->configUrl() : "", relayPurpose))
            return false;
        // The embedded Relay configuration names the partner; a given one names its own.
        if (options_.relayUrl.empty()) {
            if (options_.partnerUrl.empty() && !embed(embeddedPartner_, "partner")) return false;
            if (!addService("partner", options_.partnerUrl, embeddedPartner_ ? embeddedPartner_->url("") : "",
                            partnerPurpose))
                return false;
        }
    }
    if (uses("halcyon")) {
        if (options_.halcyonUrl.empty() && !embed(embeddedHalcyon_, "Halcyon")) return false;
        if (!addService("halcyon", options_.halcyonUrl, embeddedHalcyon_ ? embeddedHalcyon_->server().url("/") : "",
                        halcyonPurpose))
            return false;
    }
    if (uses("tamarind")) {
        if (options_.tamarindUrl.empty() && !embed(embeddedTamarind_, "Tamarind")) return false;
        if (!addService("tamarind", options_.tamarindUrl, embeddedTamarind_ ? embeddedTamarind_->url("/") : "",
                        tamarindPurpose, tamarindNamedHosts))
            return false;
    }
    return true;
}

void ScenarioRunner::readHomePorts() {
    if (options_.homeDir.empty()) return;
    platform::FileRead read = NSData::readFile((fs::path(options_.homeDir) / kHomePortsFile).string());
    // Ports that cannot be read now are kept, not replaced by this run's.
    homePortsUnread_ = read.unreadable();
    auto stored = read.data ? NSJSONSerialization::JSONObjectWithData(*read.data) : std::nullopt;
    if (!stored || !stored->isDictionary()) return;
    TrafficRecorder::Ports ports;
    for (const auto& [name, value] : *stored->dictionary()) {
        if (!value.isArray() || value.array()->size() != 2) continue;
        int64_t http = (*value.array())[0].integerValue(), https = (*value.array())[1].integerValue();
        if (http > 0 && http < 65536 && https >= 0 && https < 65536)
            ports[name] = {static_cast<int>(http), static_cast<int>(https)};
    }
    homePorts_ = std::move(ports);
}

void ScenarioRunner::recordHomePorts() {
    if (options_.homeDir.empty() || !recorder_ || homePortsUnread_) return;
    Value ports = Value::dictionary({});
    for (const auto& [name, port] : recorder_->servicePorts())
        ports.set(name, Value::array({Value(static_cast<int64_t>(port.first)), Value(static_cast<int64_t>(port.second))}));
    if (auto json = NSJSONSerialization::dataWithJSONObject(ports))
        json->writeToFile((fs::path(options_.homeDir) / kHomePortsFile).string(), true);
}

bool ScenarioRunner::startPlatform() {
    std::error_code ec;
    if (options_.homeDir.empty()) {
        std::string pattern = (fs::temp_directory_path() / "paranormal-host-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) return fail("cannot make a sandbox folder");
        sandbox_ = pattern;
        temporarySandbox_ = true;
        RunSignals::removeOnAbort(sandbox_, true);
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
    // A sandbox removed at the end is copied whole to the output first: it
    // need not reach the disk before then.
    platformOptions.flushWritesToDisk = !temporarySandbox_;
    Platform::initialize(platformOptions);
    platformStarted_ = true;
    keepHomeClockMonotonic();
    timeline_.start();
    platform::setLogSink([this](platform::LogLevel level, std::string_view line) { timeline_.addLog(level, line); });

    timeline_.add("host", std::string("clock: ") + (Clock::current()->isVirtual() ? "virtual" : "wall"));
    timeline_.add("host", "sandbox: " + sandbox_);
    if (!homeClockNote_.empty()) timeline_.add("host", homeClockNote_);
    for (ScenarioService& s : services_) {
        timeline_.add("host", s.name + " service: " + platform::urlForLog(s.serviceUrl) +
                                  (s.embedded ? " (embedded)" : " (given)") + ", reached through " + s.clientUrl);
        // The Halcyon client sends its reward requests over https only. The
        // recording proxy's https listener is trusted only in front of the
        // embedded simulator; verification itself stays on. (The other
        // proxies are never asked for theirs: their keys are never made.)
        if (s.name != "halcyon") continue;
        if (!s.embedded) {
            timeline_.add("host", "the Halcyon client sends its reward requests over https: with a service given by "
                                  "URL they reach the recorder's http listener and fail, unrecorded (its https "
                                  "listener is trusted only in front of the embedded service)");
            continue;
        }
        std::optional<std::string> secure = recorder_->secureOriginFor(s.name);
        if (!secure || !TrustedAuthorities::addCertificatesPEM(recorder_->certificateAuthorityPEM(s.name))) continue;
        const size_t path = s.clientUrl.find('/', s.clientUrl.find("://") + 3);
        s.secureClientUrl = *secure + (path == std::string::npos ? std::string() : s.clientUrl.substr(path));
        timeline_.add("host", s.name + " service also over https through " + s.secureClientUrl +
                                  " (the recorder's test authority trusted)");
    }
    auto center = NSNotificationCenter::defaultCenter();
    for (const char* name : kLifecycleNotifications) {
        std::string text = name;
        observers_.push_back(center->addObserverForName(
            name, nullptr, nullptr, [this, text](const NSNotification&) { timeline_.add("life", text); }));
    }
    // The client's built-in ad platform is not reachable from here: the
    // application points it at the service, for this run (over what an
    // earlier run on this home stored) and for good (a registered default
    // answers when a configuration answer leaves the host out).
    if (const ScenarioService* trillium = service("trillium")) {
        auto defaults = NSUserDefaults::standardUserDefaults();
        defaults->setObject(Value(trillium->clientUrl), "TRAAdPlatformHost");
        defaults->registerDefaults(Value::dictionary({{"TRAAdPlatformHost", trillium->clientUrl}}));
    }
    return true;
}

// ---- time ------------------------------------------------------------------------------------

void ScenarioRunner::keepHomeClockMonotonic() {
    if (options_.homeDir.empty()) return;
    platform::FileRead read = NSData::readFile((fs::path(sandbox_) / kHomeClockFile).string());
    // A last end that cannot be read now is kept, not replaced by this run's;
    // a damaged one is replaced, as the ports are.
    homeClockUnread_ = read.unreadable();
    auto clock = Clock::current();
    const std::optional<double> lastEnd = read.data ? homeClockEnd(read.data->toString(), clock->now()) : std::nullopt;
    double ahead = lastEnd ? *lastEnd - clock->now() : 0;
    if (!(ahead > 0)) return;
    // A virtual run ends ahead of the wall clock; what it stored (configuration
    // dates, refresh times) would lie in the future of the next run.
    if (auto virtualClock = std::dynamic_pointer_cast<VirtualClock>(clock)) {
        virtualClock->setWallOffset(virtualClock->wallOffset() + ahead + 1);
        homeClockNote_ = "the application clock starts where this home's last run ended, " +
                         std::to_string(static_cast<int64_t>(ahead + 1)) + " s ahead of the wall clock";
    } else {
        homeClockNote_ = "this home's last run ended " + std::to_string(static_cast<int64_t>(ahead)) +
                         " s ahead of the wall clock: the times it stored lie in the future";
    }
}

void ScenarioRunner::recordHomeClock() {
    if (options_.homeDir.empty() || !platformStarted_ || homeClockUnread_) return;
    std::ofstream file(fs::path(sandbox_) / kHomeClockFile, std::ios::trunc);
    char text[32];
    std::snprintf(text, sizeof text, "%.3f\n", Clock::current()->now());
    file << text;
}

void ScenarioRunner::noteQuit() {
    if (quitNoted_ || !RunSignals::quitRequested()) return;
    quitNoted_ = true;
    int signal = RunSignals::quitSignal();
    std::string cause = signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "a quit request";
    timeline_.add("host", cause + ": the scenario ends early; the application quits and what there is is written "
                                  "(a second " + (signal == SIGTERM ? "SIGTERM" : "SIGINT") +
                                  " ends the program at once, writing nothing more)");
}

void ScenarioRunner::settle() {
    platform::testing::RunLoopDriver driver;
    auto clock = Clock::current();
    const auto start = Steady::now();
    auto passed = start;  // the real time up to here has passed on the virtual clock
    for (;;) {
        noteQuit();
        double limit = RunSignals::quitRequested() ? kQuitSettleSeconds : options_.settleSeconds;
        if (driver.settle(std::min(kScenarioSlice, std::max(0.0, limit - secondsSince(start))))) return;
        // Network answers take real time on either clock: on the virtual one
        // it passes too, so that a time-out shows when it happens; all of it,
        // the time the advance itself takes included.
        if (clock->isVirtual()) {
            const auto now = Steady::now();
            driver.advance(std::chrono::duration<double>(now - passed).count());
            passed = now;
        }
        if (secondsSince(start) >= limit) {
            timeline_.add("host", "requests still under way are left behind");
            return;
        }
    }
}

bool ScenarioRunner::waitUntil(const std::function<bool()>& predicate, double realSeconds) {
    platform::testing::RunLoopDriver driver;
    const auto start = Steady::now();
    realSeconds *= options_.waitScale;
    for (;;) {
        if (predicate()) return true;
        if (quitRequested() || secondsSince(start) >= realSeconds) return false;
        if (driver.runUntil(predicate, std::min(kScenarioSlice, realSeconds - secondsSince(start)))) return true;
    }
}

bool ScenarioRunner::stay(double seconds) {
    auto clock = Clock::current();
    platform::testing::RunLoopDriver driver;
    const double end = clock->uptime() + seconds;
    if (options_.exitWhenIdle) {
        // The start-up benchmark times the run up to the first idle main
        // loop (nothing posted, no timer due; requests may still be on their
        // way): this line.
        driver.drain();
        std::fputs(kIdleLine, stdout);
        std::fflush(stdout);
        // Then, untimed, what is under way ends, so that nothing writes into
        // the temporary sandbox once it is gone; the rest of the teardown is
        // the process's end.
        driver.settle(options_.settleSeconds);
        removeTemporarySandbox();
        std::_Exit(0);
    }
    for (;;) {
        settle();
        double now = clock->uptime();
        if (quitRequested()) return false;
        if (now >= end) return true;
        double step = end - now;
        if (clock->isVirtual()) {
            // From timer to timer, letting each step's requests finish first.
            if (auto next = platform::runtime::nextTimerUptime(); next && *next > now && *next < end) step = *next - now;
            driver.advance(step);
        } else {
            driver.runUntil([&] { return quitRequested() || clock->uptime() >= end; }, std::min(step, kScenarioSlice * 5));
        }
    }
}

std::string ScenarioRunner::snapshotsFolder() {
    std::string folder = options_.outDir + "/snapshots";
    std::error_code ec;
    fs::create_directories(folder, ec);
    return folder;
}

// ---- output and teardown -------------------------------------------------------------------

bool ScenarioRunner::writeOutput() {
    bool ok = true;
    if (!recorder_->writeTo(options_.outDir + "/traffic")) ok = fail("cannot write the recorded traffic");
    if (!timeline_.writeTo(options_.outDir + "/" + OutputFolder::kTimeline)) ok = fail("cannot write the timeline");
    if (!timeline_.writeLogTo(options_.outDir + "/" + OutputFolder::kClientLog)) ok = fail("cannot write the client log");
    std::error_code ec;
    const fs::path copy = fs::path(options_.outDir) / "sandbox";
    fs::copy(sandbox_, copy, fs::copy_options::recursive, ec);
    if (ec) ok = fail("cannot copy the sandbox: " + ec.message());
    fs::remove(copy / RunLock::kFileName, ec);
    return ok;
}

void ScenarioRunner::finish() {
    RunSignals::setAbortNote("");
    if (recorder_) recorder_->stop();
    if (platformStarted_) {
        auto center = NSNotificationCenter::defaultCenter();
        for (const auto& observer : observers_) center->removeObserver(observer.get());
        observers_.clear();
        platform::setLogSink(nullptr);
        Platform::shutdown();
        platformStarted_ = false;
    }
    if (embeddedTrillium_) embeddedTrillium_->stop();
    if (embeddedRelay_) embeddedRelay_->stop();
    if (embeddedPartner_) embeddedPartner_->stop();
    if (embeddedHalcyon_) embeddedHalcyon_->stop();
    if (embeddedTamarind_) embeddedTamarind_->stop();
    removeTemporarySandbox();
    outputLock_.release();
    homeLock_.release();
}

void ScenarioRunner::removeTemporarySandbox() {
    if (!temporarySandbox_) return;
    std::error_code ec;
    fs::remove_all(sandbox_, ec);
    RunSignals::keepOnAbort(sandbox_);
    temporarySandbox_ = false;
}
