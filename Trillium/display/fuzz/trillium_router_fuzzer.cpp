// libFuzzer target: arbitrary bytes as the URL of a navigation offered to the
// HTML ad screen's router and the in-app browser's (see TRARouterFuzzHarness.h).
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Trillium/TRATrilliumSDK.h"
#include "Trillium/display/TrilliumDisplayClasses.h"
#include "Trillium/display/fuzz/TRARouterFuzzHarness.h"
#include "platform/foundation/Platform.h"
#include "platform/runtime/Log.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"

namespace {

TRARouterFuzzHarness& harness() {
    static TRARouterFuzzHarness* shared = [] {
        std::string home = (std::filesystem::temp_directory_path() / "trillium-router-fuzz-XXXXXX").string();
        if (!::mkdtemp(home.data())) std::abort();
        PlatformOptions options;
        options.homeDirectory = home;
        options.bundlePath = home;
        options.clock = PlatformOptions::ClockKind::Virtual;
        platform::setLogSink([](platform::LogLevel, std::string_view) {});
        Platform::initialize(options);
        platform::registerUIClasses();
        registerTrilliumDisplayClasses();
        static Ref<UIWindow> window = UIWindow::alloc();
        window->initWithFrame(UIScreen::mainScreen()->bounds());
        auto root = UIViewController::alloc()->init();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        return new TRARouterFuzzHarness(root);
    }();
    return *shared;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    harness().run(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
