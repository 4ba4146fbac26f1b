#include "platform/runtime/ActivityCounter.h"

#include <atomic>

#include "platform/runtime/MainLoop.h"

namespace platform::runtime {
namespace {

std::atomic<int64_t> gActivity{0};

}  // namespace

void ActivityCounter::increment() { gActivity.fetch_add(1); }

void ActivityCounter::decrement() {
    if (gActivity.fetch_sub(1) == 1) MainLoop::shared().wake();
}

int64_t ActivityCounter::count() { return gActivity.load(); }

}  // namespace platform::runtime
