// A short deterministic fuzz pass over the two navigation routers (the
// libFuzzer target in ../fuzz explores further): commands, indexes, store
// links, schemes and their mutations, garbage bytes and a megabyte URL are
// offered to a displayed HTML ad screen and to an in-app browser; each must
// be answered without a crash, a hang or an out-of-bounds read (ASan), and
// no walk may stay in progress.
#include <random>
#include <utility>

#include "Trillium/display/fuzz/TRARouterFuzzHarness.h"
#include "Trillium/display/tests/TrilliumFuzzMutation.h"
#include "Trillium/display/tests/TrilliumScreenTestSupport.h"

namespace {

std::string TRARouterFuzzMutate(std::string text, std::mt19937& rng) {
    return TrilliumFuzzMutate(
        std::move(text), rng,
        {"&", "=", "index=", "index=-1", "index=2147483648", "trilliumad://", "closeAd", "/", "?", "#", "%",
         "%zz", "externalLinks/", "itms-apps://", "/id", "https://", "about:blank", ",", ";", "\xff"});
}

class TRARouterFuzzTest : public TrilliumScreenTest {};

TEST_F(TRARouterFuzzTest, ArbitraryNavigationsAreAnsweredAndEveryWalkEnds) {
    TRARouterFuzzHarness harness(rootViewController());
    const std::vector<std::string> seeds = {
        "trilliumad://closeAd",
        "trilliumad://contentLoaded",
        "trilliumad://externalLinks/http://127.0.0.1:9/x?index=2",
        "http://127.0.0.1:9/landing?d=abc&index=1",
        "http://127.0.0.1:9/landing?index=2&x=7",
        "itms-apps://apps.store.example/app/id123?mt=8",
        "https://apps.store.example/app/id1/id2",
        "mailto:someone@example.com",
        "trilliumgame://level/1?index=0",
        "about:blank",
    };
    std::mt19937 rng(20240601);
    for (const auto& seed : seeds) harness.run(seed);
    for (int i = 0; i < 150; ++i) harness.run(TRARouterFuzzMutate(seeds[i % seeds.size()], rng));
    harness.run("http://127.0.0.1:9/?index=1&q=" + std::string(1024 * 1024, 'x'));
    EXPECT_EQ(TRASmartRedirectWebView::currentWalk(), nullptr);
}

}  // namespace
