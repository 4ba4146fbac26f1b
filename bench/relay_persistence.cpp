// Disk flushes per persisted partner-callback attempt: a burst of 1,000
// logged events, each firing one callback that a loopback partner answers,
// with Relay's records, maps and report blocks persisted as they go and the
// callback reports posted to a loopback report endpoint. Every fsync and
// fdatasync of the process is counted (and those made on the main thread),
// and those of report block files apart. Targets: at most one per attempt,
// none on the main thread, one per block file. The first is over by design,
// and the table's note says why: each attempt's report block is a file of
// its own, flushed, so the folder's and the index's, records' and maps'
// flushes come on top of one per attempt.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <set>
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
long blockFileFlushes = 0;           // guarded by blockFilesMutex
std::set<std::string> blockFiles;    // the block files flushed, by name; guarded by blockFilesMutex

// The report block file `fd` is open on, by its name (a block's UUID; its
// temporary name while it is written is "<UUID>.tmp-…"); empty for any other file.
std::string blockFileName(int fd) {
    char link[4096];
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = readlink(proc.c_str(), link, sizeof link);
    if (length <= 0) return {};
    const std::string path(link, static_cast<size_t>(length));
    const std::string name = path.substr(path.find_last_of('/') + 1).substr(0, 36);
    return OrreryDataSenderBlockInfo::isBlockFileName(name) ? name : std::string();
}

void countFlush(int fd) {
    flushes.fetch_add(1);
    if (std::this_thread::get_id() == mainThread) mainThreadFlushes.fetch_add(1);
    if (std::string name = blockFileName(fd); !name.empty()) {
        std::lock_guard lock(blockFilesMutex);
        ++blockFileFlushes;
        blockFiles.insert(std::move(name));
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
            blockFileFlushes = 0;
            blockFiles.clear();
        }
        rig->burst();
    }
    if (rig->partner.callbackCount() - callbacksBefore != static_cast<size_t>(kBurstEvents))
        state.SkipWithError("callbacks were lost");
    std::lock_guard lock(blockFilesMutex);
    state.counters["attempts"] = kBurstEvents;
    state.counters["flushes"] = static_cast<double>(flushes.load());
    state.counters["block_files"] = static_cast<double>(blockFiles.size());
    reportTarget(state, "flushes_per_attempt", static_cast<double>(flushes.load()) / kBurstEvents, 1);
    reportTarget(state, "main_thread_flushes", static_cast<double>(mainThreadFlushes.load()), 0);
    // Each block file flushed once: a second flush of one would be waste.
    reportTarget(state, "flushes_per_block_file",
                 blockFiles.empty() ? 0 : static_cast<double>(blockFileFlushes) / static_cast<double>(blockFiles.size()), 1);
    explainTarget(state, "flushes_per_attempt",
                  "each attempt's report block is a file of its own, flushed once (flushes_per_block_file): one "
                  "flush per attempt already. What it buys: an answer or a discard deletes its block's bytes with "
                  "it, so no lost index brings an answered callback back, and a stored block survives a crash. "
                  "The share above 1 is the folder's flushes (one per batch of new block files) and the coalesced "
                  "saves of the send index, the records and the maps. Fewer would mean blocks sharing files "
                  "again, or blocks left unflushed.");
}
BENCHMARK(BM_FlushesPerPersistedCallbackAttempt)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
