// Internal: marks a UI entry point main-thread-only. Off the main thread the
// outermost such call on the thread logs the platform's error line once;
// the UI calls it makes in turn do not log again.
#pragma once

#include <string_view>

#include "platform/runtime/NSThread.h"

namespace platform {

class MainThreadOnly {
public:
    explicit MainThreadOnly(std::string_view method) {
        if (depth_++ == 0) assertMainThread(method);
    }
    ~MainThreadOnly() { --depth_; }
    MainThreadOnly(const MainThreadOnly&) = delete;
    MainThreadOnly& operator=(const MainThreadOnly&) = delete;

private:
    static inline thread_local int depth_ = 0;
};

}  // namespace platform
