// libFuzzer target: arbitrary bytes as a banner page and as a native answer
// (see TRABannerNativeFuzzHarness.h).
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Trillium/display/TrilliumDisplayClasses.h"
#include "Trillium/display/fuzz/TRABannerNativeFuzzHarness.h"
#include "platform/foundation/Platform.h"
#include "platform/runtime/Log.h"

namespace {

TRABannerNativeFuzzHarness& harness() {
    static TRABannerNativeFuzzHarness* shared = [] {
        std::string home = (std::filesystem::temp_directory_path() / "trillium-banner-native-fuzz-XXXXXX").string();
        if (!::mkdtemp(home.data())) std::abort();
        PlatformOptions options;
        options.homeDirectory = home;
        options.bundlePath = home;
        options.clock = PlatformOptions::ClockKind::Virtual;
        platform::setLogSink([](platform::LogLevel, std::string_view) {});
        Platform::initialize(options);
        registerTrilliumDisplayClasses();
        return new TRABannerNativeFuzzHarness();
    }();
    return *shared;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    harness().run(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
