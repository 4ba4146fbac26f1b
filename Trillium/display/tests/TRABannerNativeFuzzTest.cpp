// A short deterministic fuzz pass over the banner page markers and the native
// answer (the libFuzzer target in ../fuzz explores further): the service's
// own pages and answers, marker and JSON fragments and their mutations, and a
// megabyte of each, through TRABannerNativeFuzzHarness. Each must be read
// without a crash, a hang or an out-of-bounds read (ASan).
#include <random>
#include <utility>

#include "Trillium/display/fuzz/TRABannerNativeFuzzHarness.h"
#include "Trillium/display/tests/TrilliumFuzzMutation.h"
#include "Trillium/display/tests/TrilliumBannerTestSupport.h"

namespace {

std::string TRABannerNativeFuzzMutate(std::string text, std::mt19937& rng) {
    return TrilliumFuzzMutate(
        std::move(text), rng,
        {"@", "@adId@", "@width@", "@height@", "@adInfoJson@", "-1", "99999999999", "null", "[", "]", "{", "}",
         ",", "\"", "\"app\":", "\"adsDetails\":", "1e999", "\\u0000", "\xff", "\"packageName\":\"\""});
}

class TRABannerNativeFuzzTest : public TrilliumBannerTest {};

TEST_F(TRABannerNativeFuzzTest, ArbitraryPagesAndAnswersAreReadWithoutHarm) {
    TRABannerNativeFuzzHarness harness;
    const std::vector<std::string> seeds = {
        banners.bannerPage(simulator::TrilliumBannerAds::defaultBannerPages()[0]),
        simulator::TrilliumBannerAds::nativeAnswer(banners.defaultNativeRecords()),
        "@adId@x@ @width@320@ @height@50@",
        "@width@-5@ @height@abc@ @adId@",
        "<!--@adInfoJson@{\"trackingUrl\": [1]}@adInfoJson@--> @width@",
        R"({"adsDetails": [null, 5, {"app": null}, {"app": null, "packageName": ""}, {"rating": "x"}]})",
        R"({"adsDetails": {"title": 1}})",
        "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]",
    };
    std::mt19937 rng(20240611);
    for (const auto& seed : seeds) harness.run(seed);
    for (int i = 0; i < 300; ++i) harness.run(TRABannerNativeFuzzMutate(seeds[i % seeds.size()], rng));
    harness.run("@width@" + std::string(1024 * 1024, '9') + "@");
    harness.run(R"({"adsDetails": [{"title": ")" + std::string(1024 * 1024, 't') + R"("}]})");
    EXPECT_GT(harness.checksum(), 0u);
}

}  // namespace
