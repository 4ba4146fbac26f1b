// Threads as the platform sees them: which one is main, the current one,
// stack symbols and sleeping (on the injectable clock).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/NSObject.h"

namespace platform {

class NSThread : public NSObject {
public:
    static bool isMainThread();
    static Ref<NSThread> currentThread();
    static Ref<NSThread> mainThread();
    // One line per frame of the caller's stack.
    static std::vector<std::string> callStackSymbols();
    // System clock: a real sleep. Virtual clock: the clock moves on by
    // `seconds` at once and nothing runs meanwhile; timers that fell due fire
    // at the next pass.
    static void sleepForTimeInterval(double seconds);
};

// Logs "main-thread-only call off the main thread: <method>" as an error when
// called off the main thread (the call is then carried out anyway).
void assertMainThread(std::string_view method);

namespace runtime {
// Declares the calling thread the main thread (Platform::initialize, test
// fixtures). Until then the process's initial thread is the main thread.
void setMainThread();
}  // namespace runtime

}  // namespace platform

using platform::NSThread;
