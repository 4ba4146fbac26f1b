// A short deterministic fuzz pass over the ad answer path (the libFuzzer
// target in ../fuzz explores further): the corpus answers, seeded mutations
// of them (cuts, flips and splices of the bytes; values of any kind under the
// known keys) and oversized pages are read,
// applied and rendered; each gives exactly one outcome without a crash, a
// hang or an out-of-bounds read (ASan), and nothing lands outside the cache
// folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "halcyon/core/fuzz/HLAdAnswerFuzzHarness.h"
#include "halcyon/core/HLPersistentPostbackManager.h"
#include "halcyon/core/tests/HalcyonTestSupport.h"
#include "platform/foundation/NSFileManager.h"

namespace {

std::vector<std::string> hlFuzzCorpus() {
    const char* root = std::getenv("PROJECT_SOURCE_DIR");
    std::vector<std::filesystem::path> paths;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(root ? root : ".") / "halcyon/core/fuzz/corpus"))
        paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    std::vector<std::string> inputs;
    for (const auto& path : paths) {
        std::ifstream file(path, std::ios::binary);
        std::stringstream bytes;
        bytes << file.rdbuf();
        inputs.push_back(bytes.str());
    }
    return inputs;
}

std::string hlFuzzMutate(std::string text, std::mt19937& rng) {
    auto pick = [&](size_t n) { return n ? std::uniform_int_distribution<size_t>(0, n - 1)(rng) : size_t{0}; };
    static const char* pieces[] = {"\"html\": ", "\"video\": ", "\"clcodes\": ", "\"settings\": {", "null", "[", "]",
                                   "{", "}", ",", "\"", "\\u0000", "\\\"", "..", "%2F", "/", "{CLCODE}", "1e999",
                                   "-1", "\"http://127.0.0.1:9/res/", "\xff"};
    for (int steps = 1 + static_cast<int>(pick(4)); steps > 0; --steps) {
        const size_t at = pick(text.size() + 1);
        switch (pick(4)) {
            case 0: text.insert(at, pieces[pick(std::size(pieces))]); break;
            case 1: if (!text.empty()) text.erase(at < text.size() ? at : 0, 1 + pick(8)); break;
            case 2: if (!text.empty()) text[pick(text.size())] = static_cast<char>(rng()); break;
            default: text.resize(at); break;
        }
    }
    return text;
}

// Keeps the answer a JSON object: known keys get values of any kind, strings
// built from URL and page pieces.
std::string hlFuzzMutateValues(const std::string& seed, std::mt19937& rng) {
    auto pick = [&](size_t n) { return n ? std::uniform_int_distribution<size_t>(0, n - 1)(rng) : size_t{0}; };
    static const char* keys[] = {"ad_id", "ad_type", "size", "video", "video_clickable", "countdown_length",
                                 "close_delay", "close_delay_graphic", "dismiss_on_skip", "video_end_url",
                                 "click_tracking_url", "click_url", "html", "presentation_mode", "mute_image",
                                 "unmute_image", "close_style", "storekit_info", "video_button_properties", "clcodes"};
    static const char* pieces[] = {"http://127.0.0.1:9/res/", "banner.png", "video.mp4", "..", "%2F", "/", "\"", "'",
                                   ")", "]", ",", "{CLCODE}", "{PLACEMENT}", "<img src=\"", "%", "é", " ", "#", "[",
                                   "view_controller", "dialog", "VIDEOA", "INTER"};
    auto text = [&] {
        std::string out;
        for (size_t n = pick(8); n > 0; --n) out += pieces[pick(std::size(pieces))];
        return out;
    };
    std::function<Value(int)> value = [&](int depth) -> Value {
        switch (pick(depth > 1 ? 5 : 7)) {
            case 0: return Value();
            case 1: return Value(static_cast<long long>(pick(5)) - 1);
            case 2: return Value(pick(2) ? 1e308 : 0.5);
            case 3: return Value(pick(2) == 1);
            case 4: return Value(text());
            case 5: return Value::array({value(depth + 1), Value(text())});
            default: return Value::dictionary({{"id", value(depth + 1)}, {"video_button_html", Value(text())},
                                               {"width", value(depth + 1)}});
        }
    };
    std::optional<Value> answer = NSJSONSerialization::JSONObjectWithData(NSData::dataWithString(seed));
    if (!answer || !answer->isDictionary()) answer = Value::dictionary({{"html", "<p>page</p>"}});
    for (size_t steps = 1 + pick(4); steps > 0; --steps) answer->set(keys[pick(std::size(keys))], value(0));
    std::optional<NSData> data = NSJSONSerialization::dataWithJSONObject(*answer, 0, nullptr);
    return data ? NSString::initWithData(*data).value_or("{}") : std::string("{}");
}

class HLAdAnswerFuzzTest : public HalcyonTest {};

TEST_F(HLAdAnswerFuzzTest, EveryAnswerGivesOneOutcomeAndStaysInTheCacheFolder) {
    auto settings = HLAdAnswerFuzzHarness::settings();
    settings->setListener(listener);
    HLAdAnswerFuzzHarness harness(startSdk(settings), settings);
    const std::vector<std::string> corpus = hlFuzzCorpus();
    ASSERT_GE(corpus.size(), 8u);
    for (const std::string& input : corpus) EXPECT_EQ(harness.run(input), 1u) << input;
    std::mt19937 rng(20240917);
    for (int i = 0; i < 400; ++i) {
        const std::string& seed = corpus[static_cast<size_t>(i) % corpus.size()];
        const std::string input = i % 2 ? hlFuzzMutate(seed, rng) : hlFuzzMutateValues(seed, rng);
        ASSERT_EQ(harness.run(input), 1u) << input;
    }
    // A page of a megabyte full of prefixes without delimiters, and one
    // with a thousand resource references.
    std::string prefixes;
    for (int i = 0; i < 20000; ++i) prefixes += HLAdAnswerFuzzHarness::kResourcePrefix;
    EXPECT_EQ(harness.run("{\"html\": \"" + prefixes + "\"}"), 1u);
    std::string references;
    for (int i = 0; i < 1000; ++i) references += "<img src='" + std::string(HLAdAnswerFuzzHarness::kResourcePrefix) + "banner.png'>";
    EXPECT_EQ(harness.run("{\"html\": \"" + references + "\"}"), 1u);

    // The pass reached the end of a render often enough to mean something.
    EXPECT_GT(listener->count("Finished rendering an ad"), 50u);

    const std::string caches = NSSearchPathForDirectoriesInDomains(NSCachesDirectory, NSUserDomainMask, true).front();
    EXPECT_EQ(NSFileManager::defaultManager()->contentsOfDirectoryAtPath(caches), std::vector<std::string>{"hl"});
    for (const std::string& name : NSFileManager::defaultManager()->contentsOfDirectoryAtPath(cacheFolder()))
        EXPECT_TRUE(name == "ad.js" || name == "banner.png" || name == "video.mp4" ||
                    HLPersistentPostbackManager::isQueueFileName(name))
            << name;
}

}  // namespace
