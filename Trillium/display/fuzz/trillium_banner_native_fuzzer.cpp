// libFuzzer target: arbitrary bytes as a banner page and as a native answer
// (see TRABannerNativeFuzzHarness.h).
#include <cstdint>
#include <string>

#include "Trillium/display/TrilliumDisplayClasses.h"
#include "Trillium/display/fuzz/TRABannerNativeFuzzHarness.h"
#include "platform/foundation/QuietPlatform.h"

namespace {

TRABannerNativeFuzzHarness& harness() {
    static TRABannerNativeFuzzHarness* shared = [] {
        platform::startQuietPlatform("trillium-banner-native-fuzz");
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
