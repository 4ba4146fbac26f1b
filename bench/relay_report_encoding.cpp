// Encoding a callback report: fifteen firing records (the server's default
// report size), each with one callback and one ended attempt, encoded into
// trigger blocks and the report around them, against writing the same bytes
// (checksum included) into a buffer sized beforehand from plain values.
// Target: at most 3 times the plain writer.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "analytics/OrreryClasses.h"
#include "analytics/OrreryGlobalVariableStorage.h"
#include "analytics/OrreryUtil.h"
#include "analytics/relay/OrreryRelayCallbackReport.h"
#include "analytics/relay/OrreryRelayClasses.h"
#include "analytics/relay/OrreryRelayTriggerInvokeInfo.h"
#include "bench/BenchSupport.h"
#include "platform/foundation/DeviceProfile.h"

namespace {

constexpr int kTriggers = 15;
const NSDate kReportTime = NSDate::dateWithTimeIntervalSince1970(1'700'000'000.25);

std::vector<Ref<OrreryRelayTriggerInvokeInfo>> firingRecords() {
    std::vector<Ref<OrreryRelayTriggerInvokeInfo>> triggers;
    for (int i = 0; i < kTriggers; ++i) {
        auto attempt = NSObject::alloc<OrreryRelayCallbackAttemptInfo>()->init();
        attempt->setAttemptNumber(1);
        attempt->setCbSessionId(1'450'000'000'000);
        attempt->setCbSessionOffset(12'000 + i);
        attempt->setFinalAttempt(true);
        attempt->setHttpStatus(200);
        attempt->setRequestState(1);
        attempt->setDuration(0.25);
        auto callback = NSObject::alloc<OrreryRelayCallbackReportInfo>()->init();
        callback->setCallbackId(1000 + i);
        callback->setSubstitutedUrl("https://partner.example/cb?e=Level_up&t=1700000000250&u=user-" + std::to_string(i));
        callback->setAttempts({attempt});
        auto trigger = NSObject::alloc<OrreryRelayTriggerInvokeInfo>()->init();
        trigger->setTriggerType(4);
        trigger->setSessionId(1'450'000'000'000);
        trigger->setSessionOffset(12'000 + i);
        trigger->setEventOccuranceId(i + 1);
        trigger->setEventName(std::string("Level_up"));
        trigger->addCallback(callback);
        triggers.push_back(trigger);
    }
    return triggers;
}

// The client's encoding: the trigger blocks, then the report around them.
NSData encodeReport(const std::vector<Ref<OrreryRelayTriggerInvokeInfo>>& triggers) {
    std::vector<std::optional<NSData>> blocks;
    blocks.reserve(triggers.size());
    for (const auto& trigger : triggers) blocks.push_back(trigger->data());
    return OrreryRelayCallbackReport::callbackStatusDataForReports(blocks, kReportTime);
}

// The same report as plain values, taken once.
struct PlainReport {
    std::string apiKey, appVersion, osVersion, vendorId;
    bool limitAdTracking = false;
    uint16_t platform = 2;
    struct Trigger {
        int64_t sessionId, sessionOffset, callbackId, cbSessionId, cbSessionOffset;
        uint16_t occurrence;
        std::string eventName, url;
        int32_t duration;
    };
    std::vector<Trigger> triggers;
};

PlainReport plainReport(const std::vector<Ref<OrreryRelayTriggerInvokeInfo>>& triggers) {
    PlainReport plain;
    auto storage = OrreryGlobalVariableStorage::sharedInstance();
    plain.apiKey = storage->apiKey();
    plain.appVersion = storage->appVersion();
    plain.osVersion = platform::DeviceProfile::current().systemVersion;
    plain.vendorId = OrreryUtil::getIdentifierForVendor().value_or("");
    plain.limitAdTracking = !OrreryUtil::isAdTrackingEnabled();
    for (const auto& trigger : triggers) {
        auto callback = trigger->callbacks().front();
        auto attempt = callback->attempts().front();
        plain.triggers.push_back({trigger->sessionId(), trigger->sessionOffset(), callback->callbackId(),
                                  attempt->cbSessionId(), attempt->cbSessionOffset(),
                                  static_cast<uint16_t>(trigger->eventOccuranceId()), *trigger->eventName(),
                                  *callback->substitutedUrl(), static_cast<int32_t>(attempt->duration())});
    }
    return plain;
}

// Big-endian values and short strings written at a cursor.
class PlainWriter {
public:
    explicit PlainWriter(uint8_t* at) : at_(at) {}
    void u(uint64_t value, int width) {
        for (int i = width - 1; i >= 0; --i) *at_++ = static_cast<uint8_t>(value >> (8 * i));
    }
    void text(const std::string& s) {
        u(s.size(), 2);
        std::memcpy(at_, s.data(), s.size());
        at_ += s.size();
    }
    uint8_t* at() const { return at_; }

private:
    uint8_t* at_;
};

std::vector<uint8_t> writePlain(const PlainReport& r) {
    size_t size = 2 + 2 + 8 + (2 + r.apiKey.size()) + (2 + r.appVersion.size()) + 2 + 2 + (2 + r.osVersion.size()) +
                  1 + 2 + 2 + (2 + r.vendorId.size()) + 2 + 2 + (2 + r.vendorId.size()) + 2 + 4;
    for (const auto& t : r.triggers) size += 2 + 8 + 8 + 1 + 2 + (2 + t.eventName.size()) + 2 + 8 + (2 + t.url.size()) + 2 + 29;
    std::vector<uint8_t> out(size);
    PlainWriter w(out.data());
    w.u(1, 2);
    w.u(1, 2);
    w.u(static_cast<uint64_t>(static_cast<int64_t>(kReportTime.timeIntervalSince1970() * 1000.0)), 8);
    w.text(r.apiKey);
    w.text(r.appVersion);
    w.u(187, 2);
    w.u(r.platform, 2);
    w.text(r.osVersion);
    w.u(r.limitAdTracking ? 1 : 0, 1);
    w.u(1, 2);
    w.u(6, 2);
    w.text(r.vendorId);
    w.u(1, 2);
    w.u(0, 2);
    w.text(r.vendorId);
    w.u(r.triggers.size(), 2);
    for (const auto& t : r.triggers) {
        w.u(4, 2);
        w.u(static_cast<uint64_t>(t.sessionId), 8);
        w.u(static_cast<uint64_t>(t.sessionOffset), 8);
        w.u(1, 1);
        w.u(t.occurrence, 2);
        w.text(t.eventName);
        w.u(1, 2);
        w.u(static_cast<uint64_t>(t.callbackId), 8);
        w.text(t.url);
        w.u(1, 2);
        w.u(1, 2);
        w.u(static_cast<uint64_t>(t.cbSessionId), 8);
        w.u(static_cast<uint64_t>(t.cbSessionOffset), 8);
        w.u(1, 1);
        w.u(200, 2);
        w.u(1, 2);
        w.u(0, 2);
        w.u(static_cast<uint32_t>(t.duration), 4);
    }
    const size_t body = static_cast<size_t>(w.at() - out.data());
    w.u(static_cast<uint32_t>(OrreryUtil::dataChecksum(NSData(out.data(), body))), 4);
    return out;
}

void BM_CallbackReportEncoding(benchmark::State& state) {
    startBenchPlatform("bench-relay-report");
    registerOrreryClasses();
    registerOrreryRelayClasses();
    auto storage = OrreryGlobalVariableStorage::sharedInstance();
    storage->setApiKey("BENCHKEY");
    storage->setAppVersion("2.5");
    const auto triggers = firingRecords();
    const PlainReport plain = plainReport(triggers);
    const NSData encoded = encodeReport(triggers);
    const std::vector<uint8_t> written = writePlain(plain);
    if (encoded.length() != written.size() || std::memcmp(encoded.bytes(), written.data(), written.size()) != 0) {
        state.SkipWithError("the plain writer does not write the client's bytes");
        return;
    }
    SideBySide result;
    for (auto _ : state) {
        result = measureSideBySide([&](int) { benchmark::DoNotOptimize(encodeReport(triggers)); },
                                   [&](int) { benchmark::DoNotOptimize(writePlain(plain)); });
    }
    state.counters["report_bytes"] = static_cast<double>(written.size());
    reportRatio(state, "ratio", result, 3, "client_ns", "presized_ns");
}
BENCHMARK(BM_CallbackReportEncoding)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
