// Explicit locks: NSLock (plain) and NSRecursiveLock (re-entrant on one thread).
#pragma once

#include <mutex>

#include "platform/runtime/NSObject.h"

namespace platform {

class NSLock : public NSObject {
public:
    static Ref<NSLock> alloc() { return std::make_shared<NSLock>(); }
    Ref<NSLock> init() { return self<NSLock>(); }
    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }
    bool tryLock() { return mutex_.try_lock(); }

private:
    std::mutex mutex_;
};

class NSRecursiveLock : public NSObject {
public:
    static Ref<NSRecursiveLock> alloc() { return std::make_shared<NSRecursiveLock>(); }
    Ref<NSRecursiveLock> init() { return self<NSRecursiveLock>(); }
    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }
    bool tryLock() { return mutex_.try_lock(); }

private:
    std::recursive_mutex mutex_;
};

}  // namespace platform

using platform::NSLock;
using platform::NSRecursiveLock;
