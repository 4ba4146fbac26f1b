// A replaceable process-wide function (a test seam or a provider installed at
// start-up), safe to set and call from any thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

namespace platform {

template <class Signature>
class Hook {
public:
    using Function = std::function<Signature>;

    // Null clears it.
    void set(Function fn) {
        auto next = fn ? std::make_shared<const Function>(std::move(fn)) : nullptr;
        std::lock_guard lock(mutex_);
        fn_.swap(next);
    }
    // The installed function, or null; call it outside any lock of ours.
    std::shared_ptr<const Function> get() const {
        std::lock_guard lock(mutex_);
        return fn_;
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<const Function> fn_;
};

}  // namespace platform
