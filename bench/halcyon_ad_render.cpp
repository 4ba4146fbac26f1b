// From an ad answer's bytes to the HLAd handed to the load delegate: the
// client's JSON parse, its look for settings in the answer (this answer
// carries none, so nothing is stored: the cost timed is the look alone) and
// the render (a page of about 6 KB naming a dozen resources, a video and two
// mute images, every one already in the file cache; no network), against the
// JSON library parsing the same bytes. Target: at most 2 times the
// library's parse.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <string>

#include "bench/BenchSupport.h"
#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLAdLoadDelegate.h"
#include "halcyon/core/HLConnectionUtils.h"
#include "halcyon/core/HLConstants.h"
#include "halcyon/core/HLFileManager.h"
#include "halcyon/core/HLInternalSdkSettings.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLTaskRenderIOSAd.h"
#include "halcyon/core/HalcyonCoreClasses.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/net/NetworkConditions.h"

namespace {

constexpr const char* kHLBenchPrefix = "http://127.0.0.1:9/res/";
constexpr int kHLBenchResources = 12;

class HLBenchLoadDelegate : public NSObject, public HLAdLoadDelegate {
public:
    void adServiceDidLoadAd(const Ref<HLAdService>&, const Ref<HLAd>& loaded) override { ad = loaded; }
    void adServiceDidFailToLoadAdWithError(const Ref<HLAdService>&, int32_t) override { ad = nullptr; }
    Ref<HLAd> ad;
};

// The answer: a page of paragraphs with a dozen resources among them.
std::string hlBenchAnswer() {
    std::string page = "<html><head><meta name=\\\"viewport\\\" content=\\\"width=device-width\\\"></head><body>";
    for (int i = 0; i < kHLBenchResources; ++i) {
        page += "<div class=\\\"frame\\\"><img src=\\\"" + std::string(kHLBenchPrefix) + "image" + std::to_string(i) +
                ".png\\\"><p>";
        page += std::string(400, static_cast<char>('a' + i % 26));
        page += "</p></div>";
    }
    page += "</body></html>";
    const std::string res = kHLBenchPrefix;
    return "{\"ad_id\": 123456, \"size\": \"INTER\", \"ad_type\": \"VIDEOA\", \"html\": \"" + page +
           "\", \"video\": \"" + res + "video.mp4\", \"mute_image\": \"" + res + "mute.png\", \"unmute_image\": \"" +
           res + "unmute.png\", \"video_end_url\": \"http://127.0.0.1:9/end?c={CLCODE}&p={PLACEMENT}\", "
           "\"click_tracking_url\": \"http://127.0.0.1:9/t?c={CLCODE}\", \"click_url\": \"http://127.0.0.1:9/c\", "
           "\"clcodes\": [\"bench\"], \"close_delay\": 5, \"countdown_length\": 15, \"close_style\": 1, "
           "\"presentation_mode\": \"view_controller\", \"video_button_properties\": {\"tap_to_fade\": true, "
           "\"video_button_html\": \"<b>install</b>\"}, \"storekit_info\": {\"id\": \"42\"}}";
}

Ref<HLAd> hlBenchRender(const Ref<HLSdk>& sdk, const std::string& bytes) {
    std::optional<Value> answer = NSJSONSerialization::JSONObjectWithData(NSData::dataWithString(bytes));
    if (!answer || !answer->isDictionary()) return nullptr;
    HLConnectionUtils::updateSettingsFor(sdk, *answer);
    auto delegate = std::make_shared<HLBenchLoadDelegate>();
    auto task = NSObject::alloc<HLTaskRenderIOSAd>()->initWithSdk(sdk);
    task->setAdResponse(std::move(*answer));
    task->setDelegate(delegate);
    task->run();
    return delegate->ad;
}

void BM_AdAnswerToAd(benchmark::State& state) {
    startBenchPlatform("halcyon-ad-render");
    registerHalcyonCoreClasses();
    platform::testing::NetworkConditions::set(platform::NetworkState::None);
    auto settings = NSObject::alloc<HLInternalSdkSettings>()->init();
    settings->putString("http://127.0.0.1:9/api/", kHLSlotApiEndpoint);
    settings->putString("http://127.0.0.1:9/ads/", kHLSlotAdServerEndpoint);
    settings->putString(kHLBenchPrefix, kHLSlotResourceCachePrefix);
    Ref<HLSdk> sdk = HLSdk::sharedWithKey(std::string("BENCHKEY-0123"), settings);
    for (int i = 0; i < kHLBenchResources; ++i)
        sdk->fileManager()->cacheResourceWithData(NSData::dataWithString("png"), "image" + std::to_string(i) + ".png");
    for (const char* name : {"video.mp4", "mute.png", "unmute.png"})
        sdk->fileManager()->cacheResourceWithData(NSData::dataWithString("cached"), name);

    const std::string bytes = hlBenchAnswer();
    Ref<HLAd> ad = hlBenchRender(sdk, bytes);
    if (!ad || !ad->isVideoAd() || !ad->muteImageFilename() || !ad->htmlSource() ||
        ad->htmlSource()->find(kHLBenchPrefix) != std::string::npos) {
        state.SkipWithError("the answer did not render from the cache");
        return;
    }
    SideBySide result;
    for (auto _ : state) {
        result = measureSideBySide([&](int) { benchmark::DoNotOptimize(hlBenchRender(sdk, bytes)); },
                                   [&](int) { benchmark::DoNotOptimize(nlohmann::ordered_json::parse(bytes)); });
    }
    state.counters["answer_bytes"] = static_cast<double>(bytes.size());
    reportRatio(state, "ratio", result, 2, "client_ns", "json_parse_ns");
}
BENCHMARK(BM_AdAnswerToAd)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
