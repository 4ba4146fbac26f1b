// A short deterministic fuzz pass over the MP4 probe (the libFuzzer target in
// ../fuzz explores further): mutated test files and random bytes must give a
// result or an error, never a crash, a hang or an out-of-bounds read (ASan).
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/media/Mp4Probe.h"
#include "platform/media/TestMp4.h"

namespace {

using platform::Mp4Probe;
using platform::testing::testMp4Bytes;
using Bytes = std::vector<uint8_t>;

Bytes mutate(Bytes b, std::mt19937& rng) {
    auto pick = [&](size_t n) { return n ? std::uniform_int_distribution<size_t>(0, n - 1)(rng) : 0; };
    int steps = 1 + static_cast<int>(pick(4));
    for (int s = 0; s < steps && !b.empty(); ++s) {
        switch (pick(6)) {
            case 0:  // flip a byte
                b[pick(b.size())] ^= static_cast<uint8_t>(1 + pick(255));
                break;
            case 1:  // truncate
                b.resize(pick(b.size()));
                break;
            case 2: {  // overwrite a 32-bit field with a boundary value
                static const uint32_t values[] = {0, 1, 7, 8, 9, 16, 0x7fffffff, 0xffffffff, 0x80000000};
                size_t at = pick(b.size() >= 4 ? b.size() - 3 : 1);
                uint32_t v = values[pick(std::size(values))];
                for (int i = 0; i < 4 && at + i < b.size(); ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
                break;
            }
            case 3: {  // insert random bytes
                size_t at = pick(b.size() + 1);
                Bytes extra(1 + pick(16));
                for (auto& x : extra) x = static_cast<uint8_t>(rng());
                b.insert(b.begin() + static_cast<long>(at), extra.begin(), extra.end());
                break;
            }
            case 4: {  // duplicate a slice (nested boxes, repeated headers)
                size_t from = pick(b.size());
                size_t len = 1 + pick(std::min<size_t>(64, b.size() - from));
                Bytes slice(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + len));
                b.insert(b.begin() + static_cast<long>(pick(b.size() + 1)), slice.begin(), slice.end());
                break;
            }
            default:  // erase a slice
            {
                size_t from = pick(b.size());
                size_t len = 1 + pick(std::min<size_t>(32, b.size() - from));
                b.erase(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + len));
            }
        }
    }
    return b;
}

TEST(Mp4ProbeFuzz, MutatedAndRandomInputs) {
    const std::vector<Bytes> seeds = {
        testMp4Bytes(12.5, 600, 320, 180, true),
        testMp4Bytes(0, 1000, 64, 64, false),
        testMp4Bytes(3, 44100, 0, 0, true),
    };
    std::mt19937 rng(20240611);
    int accepted = 0;
    for (int i = 0; i < 4000; ++i) {
        Bytes input = (i % 10 == 9) ? Bytes(rng() % 256) : mutate(seeds[i % seeds.size()], rng);
        if (i % 10 == 9)
            for (auto& x : input) x = static_cast<uint8_t>(rng());
        auto info = Mp4Probe::probeBytes(input.data(), input.size());
        if (info) {
            ++accepted;
            EXPECT_GT(info->timescale, 0u);
            EXPECT_LE(info->tracks.size(), input.size() / 8);
        }
    }
    // Some mutations (inside sample tables or media data) keep the file valid.
    EXPECT_GT(accepted, 0);
}

}  // namespace
