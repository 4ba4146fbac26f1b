// libFuzzer target: arbitrary bytes as the URL of a navigation offered to the
// HTML ad screen's router and the in-app browser's (see TRARouterFuzzHarness.h).
#include <cstdint>
#include <string>

#include "Trillium/TRATrilliumSDK.h"
#include "Trillium/display/TrilliumDisplayClasses.h"
#include "Trillium/display/fuzz/TRARouterFuzzHarness.h"
#include "platform/foundation/QuietPlatform.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"

namespace {

TRARouterFuzzHarness& harness() {
    static TRARouterFuzzHarness* shared = [] {
        platform::startQuietPlatform("trillium-router-fuzz");
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
