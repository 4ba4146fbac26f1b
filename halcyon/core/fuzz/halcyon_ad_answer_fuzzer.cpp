// libFuzzer target: arbitrary bytes as an ad server's answer, through
// parsing, the settings update and rendering (see HLAdAnswerFuzzHarness.h).
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "halcyon/core/HalcyonCoreClasses.h"
#include "halcyon/core/fuzz/HLAdAnswerFuzzHarness.h"
#include "platform/foundation/Platform.h"
#include "platform/runtime/Log.h"

namespace {

HLAdAnswerFuzzHarness& harness() {
    static HLAdAnswerFuzzHarness* shared = [] {
        std::string home = (std::filesystem::temp_directory_path() / "halcyon-answer-fuzz-XXXXXX").string();
        if (!::mkdtemp(home.data())) std::abort();
        PlatformOptions options;
        options.homeDirectory = home;
        options.bundlePath = home;
        options.clock = PlatformOptions::ClockKind::Virtual;
        platform::setLogSink([](platform::LogLevel, std::string_view) {});
        Platform::initialize(options);
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
