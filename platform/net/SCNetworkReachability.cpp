#include "platform/net/SCNetworkReachability.h"

#include <atomic>
#include <vector>

#include "platform/net/NetworkConditions.h"
#include "platform/runtime/CallCatching.h"

namespace platform {

namespace {

constexpr int kUnset = -1;
std::atomic<int> stateOverride{kUnset};

SCNetworkReachabilityFlags flagsFor(NetworkState state) {
    switch (state) {
        case NetworkState::WiFi: return kSCNetworkReachabilityFlagsReachable;
        case NetworkState::Mobile: return kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsIsWWAN;
        case NetworkState::None: break;
    }
    return 0;
}

// Targets with a callback and a place to run it.
std::mutex registryMutex;
std::vector<Weak<SCNetworkReachability>>& scheduled() {
    static auto* list = new std::vector<Weak<SCNetworkReachability>>();
    return *list;
}

}  // namespace

struct ReachabilityAccess {
    static SCNetworkReachabilityRef make(std::string name) {
        auto target = NSObject::alloc<SCNetworkReachability>();
        target->name_ = std::move(name);
        return target;
    }

    // Called with the target's place changed: keeps the registry in step.
    static void reschedule(const SCNetworkReachabilityRef& target) {
        bool isScheduled;
        {
            std::lock_guard lock(target->mutex_);
            isScheduled = target->queue_ || target->onRunLoop_;
            target->lastFlags_ = flagsFor(currentNetworkState());
        }
        std::lock_guard lock(registryMutex);
        auto& list = scheduled();
        std::erase_if(list, [&](const Weak<SCNetworkReachability>& w) {
            auto t = w.lock();
            return !t || t == target;
        });
        if (isScheduled) list.push_back(target);
    }

    static void setCallback(const SCNetworkReachabilityRef& target, SCNetworkReachabilityCallBack callback) {
        std::lock_guard lock(target->mutex_);
        target->callback_ = std::move(callback);
    }

    static void setPlace(const SCNetworkReachabilityRef& target, dispatch_queue_t queue, bool onRunLoop) {
        {
            std::lock_guard lock(target->mutex_);
            target->queue_ = std::move(queue);
            target->onRunLoop_ = onRunLoop;
        }
        reschedule(target);
    }

    // Tells the target when its flags differ from what it was last told.
    static void notify(const SCNetworkReachabilityRef& target, SCNetworkReachabilityFlags flags) {
        dispatch_queue_t queue;
        {
            std::lock_guard lock(target->mutex_);
            if (flags == target->lastFlags_ || !target->callback_) return;
            target->lastFlags_ = flags;
            queue = target->queue_;
        }
        Block deliver = [target, flags] {
            SCNetworkReachabilityCallBack callback;
            {
                std::lock_guard lock(target->mutex_);
                if (!target->queue_ && !target->onRunLoop_) return;  // unscheduled meanwhile
                callback = target->callback_;
            }
            if (callback) runtime::callAtBoundary([&] { callback(flags); }, "reachability callback");
        };
        if (queue) dispatch_async(queue, std::move(deliver));
        else runtime::postToMainThread(std::move(deliver));
    }
};

NetworkState currentNetworkState() {
    int state = stateOverride.load();
    return state == kUnset ? DeviceProfile::current().networkState : static_cast<NetworkState>(state);
}

void testing::NetworkConditions::set(NetworkState state) {
    stateOverride.store(static_cast<int>(state));
    std::vector<SCNetworkReachabilityRef> targets;
    {
        std::lock_guard lock(registryMutex);
        for (const auto& weak : scheduled())
            if (auto target = weak.lock()) targets.push_back(std::move(target));
    }
    for (const auto& target : targets) ReachabilityAccess::notify(target, flagsFor(state));
}

SCNetworkReachabilityRef SCNetworkReachabilityCreateWithName(std::string_view nodename) {
    if (nodename.empty()) return nullptr;
    return ReachabilityAccess::make(std::string(nodename));
}

SCNetworkReachabilityRef SCNetworkReachabilityCreateWithAddress(const sockaddr* address) {
    if (!address) return nullptr;
    return ReachabilityAccess::make({});
}

bool SCNetworkReachabilityGetFlags(const SCNetworkReachabilityRef& target, SCNetworkReachabilityFlags* flags) {
    if (!target || !flags) return false;
    *flags = flagsFor(currentNetworkState());
    return true;
}

bool SCNetworkReachabilitySetCallback(const SCNetworkReachabilityRef& target, SCNetworkReachabilityCallBack callout) {
    if (!target) return false;
    ReachabilityAccess::setCallback(target, std::move(callout));
    return true;
}

bool SCNetworkReachabilitySetDispatchQueue(const SCNetworkReachabilityRef& target, dispatch_queue_t queue) {
    if (!target) return false;
    ReachabilityAccess::setPlace(target, std::move(queue), false);
    return true;
}

bool SCNetworkReachabilityScheduleWithRunLoop(const SCNetworkReachabilityRef& target, const Ref<NSRunLoop>&,
                                              std::string_view) {
    if (!target) return false;
    ReachabilityAccess::setPlace(target, nullptr, true);
    return true;
}

bool SCNetworkReachabilityUnscheduleFromRunLoop(const SCNetworkReachabilityRef& target, const Ref<NSRunLoop>&,
                                                std::string_view) {
    if (!target) return false;
    ReachabilityAccess::setPlace(target, nullptr, false);
    return true;
}

}  // namespace platform
