// libFuzzer target: arbitrary bytes as an ad server's answer, through
// parsing, the settings update and rendering (see HLAdAnswerFuzzHarness.h).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "halcyon/core/HalcyonCoreClasses.h"
#include "halcyon/core/fuzz/HLAdAnswerFuzzHarness.h"
#include "platform/foundation/QuietPlatform.h"

namespace {

HLAdAnswerFuzzHarness& harness() {
    static HLAdAnswerFuzzHarness* shared = [] {
        platform::startQuietPlatform("halcyon-answer-fuzz");
        registerHalcyonCoreClasses();
        auto settings = HLAdAnswerFuzzHarness::settings();
        return new HLAdAnswerFuzzHarness(HLSdk::sharedWithKey(std::string("FUZZKEY-0123"), settings), settings);
    }();
    return *shared;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (harness().run(std::string_view(reinterpret_cast<const char*>(data), size)) != 1) std::abort();
    return 0;
}
