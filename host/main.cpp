// The host program: starts the platform and the main run loop as the
// application does, prints its start-up and exits. The clients' start-up is
// added here as they come into being.
#include <cstdio>

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/Platform.h"
#include "platform/runtime/NSRunLoop.h"
#include "platform/runtime/NSTimer.h"

int main(int, char**) {
    platform::PlatformOptions options;
    Platform::initialize(options);
    std::printf("host: platform started, home %s\n", Platform::homeDirectory().c_str());
    std::printf("host: bundle %s\n", Platform::bundlePath().c_str());

    // Leave the main run loop at its first pass: there is no application yet.
    platform::runtime::postToMainThread([] {
        std::printf("host: main run loop running\n");
        platform::runtime::stopMainRunLoop();
    });
    NSRunLoop::mainRunLoop()->run();
    std::printf("host: main run loop stopped\n");
    Platform::shutdown();
    return 0;
}
