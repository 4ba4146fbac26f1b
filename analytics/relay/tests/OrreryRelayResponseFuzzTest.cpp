// A short, deterministic fuzz pass over the configuration answer decoder:
// seeded mutations of valid answers (bit flips, byte changes, cuts,
// insertions, duplications, large numbers spliced in). None may crash, hang
// or allocate without bound (the sanitizers watch); each either gives
// settings or is rejected. The libFuzzer target in ../fuzz runs the same
// decoder open-ended.
#include <chrono>
#include <random>

#include "analytics/relay/OrreryRelayResponse.h"
#include "analytics/relay/tests/RelayTestSupport.h"
#include "platform/runtime/Log.h"
#include "simulator/RelayService.h"

namespace {

using simulator::RelayConfig;
using simulator::RelayConfigCallback;
using simulator::RelayParameterTrigger;

std::vector<std::string> seeds() {
    RelayConfig small;
    RelayConfig full;
    full.issuedAt = 1'700'000'000'000;
    full.logLevel = "TRACE";
    RelayConfigCallback a;
    a.partner = "alpha";
    a.events = {std::string("purchase"), RelayParameterTrigger{"level", "n", {"1", "2", "3"}}};
    a.method = "POST";
    a.uriTemplate = "https://alpha.example/%{event}";
    a.bodyTemplate = "{}";
    a.callbackId = 77;
    a.headers = {{{"A", "1"}, {"B", "2"}}};
    RelayConfigCallback b;
    b.partner = "beta";
    b.events = {std::string("orrery.session_end")};
    b.uriTemplate = "https://beta.example/";
    b.callbackId = -5;
    full.callbacks = {a, b};
    full.agentReportUrl = "https://reports.example/pcr.do";
    return {*simulator::encodeRelayConfig(small), *simulator::encodeRelayConfig(full)};
}

std::string mutate(std::string input, std::mt19937& rng) {
    auto below = [&](size_t n) { return n == 0 ? size_t{0} : static_cast<size_t>(rng() % n); };
    int rounds = 1 + static_cast<int>(rng() % 4);
    for (int r = 0; r < rounds; ++r) {
        switch (rng() % 7) {
        case 0:  // flip a bit
            if (!input.empty()) input[below(input.size())] ^= static_cast<char>(1 << (rng() % 8));
            break;
        case 1:  // set a byte
            if (!input.empty()) input[below(input.size())] = static_cast<char>(rng());
            break;
        case 2:  // cut
            input.resize(below(input.size() + 1));
            break;
        case 3:  // insert random bytes
            input.insert(below(input.size() + 1), std::string(1 + below(8), static_cast<char>(rng())));
            break;
        case 4: {  // erase a run
            size_t at = below(input.size() + 1);
            input.erase(at, below(9));
            break;
        }
        case 5: {  // duplicate a slice
            size_t at = below(input.size() + 1);
            std::string slice = input.substr(at, below(16));
            input.insert(below(input.size() + 1), slice);
            break;
        }
        default: {  // splice in a long varint (huge length, count or index)
            static const std::string big[] = {"\xff\xff\xff\xff\xff\xff\xff\xff\x7f", "\x80\x80\x80\x80\x10",
                                              "\xfe\xff\xff\xff\x0f", "\x01"};
            const std::string& v = big[rng() % 4];
            size_t at = below(input.size() + 1);
            input.replace(at, std::min(v.size(), input.size() - at), v);
            break;
        }
        }
    }
    return input;
}

using OrreryRelayResponseFuzzTest = RelayTest;

TEST_F(OrreryRelayResponseFuzzTest, MutatedAnswersNeverCrashAndAreParsedOrRejected) {
    // The rejections log one error line each; keep them out of the output.
    platform::setLogSink([](platform::LogLevel, std::string_view) {});
    auto parser = OrreryRelayResponse::alloc<OrreryRelayResponse>()->init();
    NSDate now = NSDate::dateWithTimeIntervalSince1970(1'700'000'000);
    std::mt19937 rng(20240601);
    std::vector<std::string> valid = seeds();
    for (const std::string& seed : valid) ASSERT_TRUE(parser->parseRelayResponse(NSData(seed.data(), seed.size()), now));

    size_t parsed = 0, rejected = 0;
    auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 4000; ++i) {
        std::string input = mutate(valid[static_cast<size_t>(i) % valid.size()], rng);
        Ref<OrreryRelaySettings> settings = parser->parseRelayResponse(NSData(input.data(), input.size()), now);
        if (!settings) {
            ++rejected;
            continue;
        }
        ++parsed;
        // What parses is a usable configuration.
        if (settings->callbacks()) {
            for (const auto& [id, callback] : *settings->callbacks()) ASSERT_EQ(callback->callbackId(), id);
        }
        if (settings->callbackEventsMap()) {
            for (const auto& entry : settings->callbackEventsMap()->entries()) {
                ASSERT_TRUE(entry.key.isString() || entry.key.object<OrreryRelayEventTrigger>());
                for (int64_t id : entry.callbackIds) ASSERT_TRUE(settings->callbackWithId(id));
            }
        }
    }
    platform::setLogSink(nullptr);
    EXPECT_GT(parsed, 100u);
    EXPECT_GT(rejected, 1000u);
    RecordProperty("parsed", static_cast<int>(parsed));
    RecordProperty("seconds", std::to_string(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count()));
}

}  // namespace
