#include "platform/runtime/NSObject.h"

#include <cxxabi.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSRunLoop.h"
#include "platform/runtime/NSThread.h"
#include "platform/runtime/RunLoopTimer.h"

namespace platform {

bool NSObjectProtocol::respondsToSelector(std::string_view) const { return false; }

std::string demangledClassName(const std::type_info& type) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> raw(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
    std::string name = status == 0 && raw ? raw.get() : type.name();
    // Strip the namespaces of the outermost name (template arguments keep theirs).
    size_t start = 0;
    int depth = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c == '<' || c == '(') ++depth;
        else if (c == '>' || c == ')') --depth;
        else if (depth == 0 && c == ':' && i + 1 < name.size() && name[i + 1] == ':') start = i + 2;
    }
    return name.substr(start);
}

std::string NSObject::className() const { return demangledClassName(typeid(*this)); }

std::string NSObject::description() const {
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    // Appended piecewise: GCC 12 misreports the chained operator+ form (-Wrestrict).
    std::string text = "<";
    text.append(className()).append(": ").append(address).append(">");
    return text;
}

void NSObject::setValue(const Value&, const std::string& key) {
    logError(className() + " setValue:forKey: undefined key \"" + shortenedForLog(key) + "\"");
}

void NSObject::observeValueForKeyPath(const std::string&, Ref<NSObject>, const Value&, void*) {}

void NSObject::performSelector(Block block, double afterDelay) {
    if (!block) return;
    // Held until the call ran or was cancelled.
    auto self = weak_from_this().lock();
    runtime::scheduleMainThreadCall(
        afterDelay, [self = std::move(self), block = std::move(block)] { block(); },
        static_cast<const NSObject*>(this));
}

void NSObject::cancelPreviousPerformRequestsWithTarget(const Ref<NSObject>& target) {
    if (target) runtime::cancelMainThreadCalls(static_cast<const NSObject*>(target.get()));
}

void NSObject::performSelectorOnMainThread(Block block, bool waitUntilDone) {
    if (!block) return;
    if (waitUntilDone && NSThread::isMainThread()) {
        runtime::callAtBoundary(block, "performSelectorOnMainThread");
        return;
    }
    auto self = weak_from_this().lock();
    if (!waitUntilDone) {
        runtime::postToMainThread([self = std::move(self), block = std::move(block)] {
            runtime::callAtBoundary(block, "performSelectorOnMainThread");
        });
        return;
    }
    struct Done {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
    };
    auto done = std::make_shared<Done>();
    runtime::postToMainThread([self = std::move(self), block = std::move(block), done] {
        runtime::callAtBoundary(block, "performSelectorOnMainThread");
        std::lock_guard lock(done->mutex);
        done->done = true;
        done->cv.notify_all();
    });
    std::unique_lock lock(done->mutex);
    done->cv.wait(lock, [&] { return done->done; });
}

}  // namespace platform
