// Disk flushes per persisted partner-callback attempt: a burst of 1,000
// logged events, each firing one callback that a loopback partner answers,
// with Relay's records, maps and report blocks persisted as they go and the
// callback reports posted to a loopback report endpoint. Every fsync and
// fdatasync of the process is counted (and those made on the main thread),
// those of report block files apart, and the block files written (renamed
// into place). Targets: at most one per attempt, none on the main thread,
// and no block file written that was not flushed exactly once. The first is
// over by design, and the table's note says why: each attempt's report block
// is a file of its own, flushed, so the folder's and the index's, records'
// and maps' flushes come on top of one per attempt.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "analytics/Orrery.h"
#include "analytics/OrreryClasses.h"
#include "analytics/OrreryDataSenderBlockInfo.h"
#include "analytics/OrreryGlobalPersistentManager.h"
#include "analytics/OrreryGlobalVariableStorage.h"
#include "analytics/relay/OrreryRelayCallbackReportManager.h"
#include "analytics/relay/OrreryRelayClasses.h"
#include "analytics/relay/OrreryRelayEventController.h"
#include "bench/BenchSupport.h"
#include "platform/runtime/RunLoopDriver.h"
#include "simulator/PartnerService.h"
#include "simulator/RelayService.h"

namespace {

std::atomic<long> flushes{0};
std::atomic<long> mainThreadFlushes{0};
std::thread::id mainThread;
std::mutex blockFilesMutex;
// Each block file written, by name, with how often it was flushed; guarded by blockFilesMutex.
std::map<std::string, long> blockFileFlushes;
long blockFilesWritten = 0;  // guarded by blockFilesMutex

// The report block name in a path (a block's UUID; the temporary name a
// block file is written under is "<UUID>.tmp-…"); empty for any other file.
std::string blockNameInPath(const std::string& path) {
    const std::string name = path.substr(path.find_last_of('/') + 1).substr(0, 36);
    return OrreryDataSenderBlockInfo::isBlockFileName(name) ? name : std::string();
}

// The report block file `fd` is open on, by its name; empty for any other file.
std::string blockFileName(int fd) {
    char link[4096];
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = readlink(proc.c_str(), link, sizeof link);
    if (length <= 0) return {};
    return blockNameInPath(std::string(link, static_cast<size_t>(length)));
}

void countFlush(int fd) {
    flushes.fetch_add(1);
    if (std::this_thread::get_id() == mainThread) mainThreadFlushes.fetch_add(1);
    if (std::string name = blockFileName(fd); !name.empty()) {
        std::lock_guard lock(blockFilesMutex);
        ++blockFileFlushes[name];
    }
}

// A block file is written under a temporary name, then renamed to its own.
void countWritten(const char* to) {
    if (std::string name = blockNameInPath(to ? to : ""); !name.empty()) {
        std::lock_guard lock(blockFilesMutex);
        ++blockFilesWritten;
        blockFileFlushes.try_emplace(std::move(name), 0);
    }
}

}  // namespace

// Every flush of the process passes here on its way to the C library.
extern "C" int fsync(int fd) {
    static auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    countFlush(fd);
    return real(fd);
}

extern "C" int fdatasync(int fd) {
    static auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fdatasync"));
    countFlush(fd);
    return real(fd);
}

// And every rename, to count the block files written.
extern "C" int rename(const char* from, const char* to) {
    static auto real = reinterpret_cast<int (*)(const char*, const char*)>(dlsym(RTLD_NEXT, "rename"));
    const int result = real(from, to);
    if (result == 0) countWritten(to);
    return result;
}

namespace {

constexpr int kBurstEvents = 1000;

Ref<OrreryRelaySettings> burstSettings(const std::string& partnerUrl, const std::string& reportUrl) {
    auto callback = NSObject::alloc<OrreryRelayCallback>()->init();
    callback->setCallbackId(1);
    callback->setPartner("partner");
    callback->setUriTemplate(partnerUrl + "?e=%{event_name}&t=%{event_time_millis}");
    auto settings = NSObject::alloc<OrreryRelaySettings>()->init();
    settings->setCallbacks(OrreryRelaySettings::Callbacks{{1, callback}});
    OrreryRelayCallbackEventsMap events;
    events.appendCallbackId(Value("Level_up"), 1);
    settings->setCallbackEventsMap(events);
    // The server's defaults.
    settings->setMaxCallbackRetries(3);
    settings->setMaxCallbackAttemptsPerReport(15);
    settings->setMaxReportDelaySecs(600);
    settings->setAgentReportUrl(reportUrl);
    settings->setNextRefreshTTL(4102444800000);
    settings->setExpirationTTL(4102444800000);
    settings->setAnalytics(Value::dictionary({{OrreryRelaySettings::kAnalyticsEnabledKey, true}}));
    return settings;
}

// The platform, the loopback partner and report endpoint, and the analytics
// client started with Relay on: set up once for the process.
struct RelayBurstRig {
    simulator::PartnerService partner;
    simulator::RelayService relay;
    platform::testing::RunLoopDriver driver;

    RelayBurstRig() {
        startBenchPlatform("bench-relay");
        mainThread = std::this_thread::get_id();
        registerOrreryClasses();
        registerOrreryRelayClasses();
        if (!partner.start() || !relay.start()) std::abort();
        auto settings = burstSettings(partner.url("/cb"), relay.reportUrl());
        OrreryGlobalPersistentManager::sharedInstance()->processWriteOperationSync(
            OrreryPersistentMap::Globals,
            [&](ValueDictionary& globals) { globals.set(OrreryRelaySettings::kStorageKey, Value(settings)); });
        OrreryGlobalVariableStorage::sharedInstance()->setLastAdTrackingEnabledSetting(true);
        Orrery::setRelayEnabled(true);
        OrreryRelayEventController::installHooks();
        Orrery::startSession("BENCHKEY");
        dispatch_sync(Orrery::sessionQueue(), [] {});
        driver.settle(30);
    }

    // Logs the burst and waits until every callback has been answered,
    // archived and reported.
    void burst() {
        const size_t before = partner.callbackCount();
        for (int i = 0; i < kBurstEvents; ++i) Orrery::logEvent("Level_up");
        driver.runUntil([&] { return partner.callbackCount() >= before + kBurstEvents; }, 120);
        for (int pass = 0; pass < 3; ++pass) {
            dispatch_sync(Orrery::sessionQueue(), [] {});
            OrreryRelayCallbackReportManager::sharedInstance()->waitForArchiving();
            driver.settle(60);
        }
    }
};

void BM_FlushesPerPersistedCallbackAttempt(benchmark::State& state) {
    static RelayBurstRig* rig = new RelayBurstRig();
    // Argument 1: the partner fails every callback (outcomes take the failure path).
    rig->partner.scriptStatuses("/cb", {state.range(0) == 1 ? 500 : 200});
    const size_t callbacksBefore = rig->partner.callbackCount();
    for (auto _ : state) {
        flushes.store(0);
        mainThreadFlushes.store(0);
        {
            std::lock_guard lock(blockFilesMutex);
            blockFileFlushes.clear();
            blockFilesWritten = 0;
        }
        rig->burst();
    }
    if (rig->partner.callbackCount() - callbacksBefore != static_cast<size_t>(kBurstEvents))
        state.SkipWithError("callbacks were lost");
    std::lock_guard lock(blockFilesMutex);
    if (blockFilesWritten == 0) state.SkipWithError("no report block file was written");
    // Each block file written is flushed once: none would leave a stored
    // block to a crash, a second would be waste.
    long notFlushedOnce = 0;
    for (const auto& [name, count] : blockFileFlushes) notFlushedOnce += count == 1 ? 0 : 1;
    state.counters["attempts"] = kBurstEvents;
    state.counters["flushes"] = static_cast<double>(flushes.load());
    state.counters["block_files"] = static_cast<double>(blockFilesWritten);
    reportTarget(state, "flushes_per_attempt", static_cast<double>(flushes.load()) / kBurstEvents, 1);
    reportTarget(state, "main_thread_flushes", static_cast<double>(mainThreadFlushes.load()), 0);
    reportTarget(state, "block_files_not_flushed_once", static_cast<double>(notFlushedOnce), 0);
    explainTarget(state, "flushes_per_attempt",
                  "each attempt's report block is a file of its own, flushed once (block_files_not_flushed_once): one "
                  "flush per attempt already. What it buys: an answer or a discard deletes its block's bytes with "
                  "it, so no lost index brings an answered callback back, and a stored block survives a crash. "
                  "The share above 1 is the folder's flushes (one per batch of new block files) and the coalesced "
                  "saves of the send index, the records and the maps. Fewer would mean blocks sharing files "
                  "again, or blocks left unflushed.");
}
BENCHMARK(BM_FlushesPerPersistedCallbackAttempt)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
