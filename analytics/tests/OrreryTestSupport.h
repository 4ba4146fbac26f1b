// The analytics tests' fixture (the platform's test fixture plus the
// client's class registration) and small helpers shared by the tests.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "analytics/Orrery.h"
#include "analytics/OrreryClasses.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/testing/PlatformTest.h"

class OrreryTest : public platform::testing::PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        registerOrreryClasses();
    }

    // Returns once the session queue has run everything queued on it so far.
    static void waitForSessionQueue() {
        dispatch_sync(Orrery::sessionQueue(), [] {});
    }
};

// What callbacks delivered, from any thread.
template <class T>
class CallLog {
public:
    void add(T item) {
        std::lock_guard lock(mutex_);
        items_.push_back(std::move(item));
    }
    std::vector<T> items() const {
        std::lock_guard lock(mutex_);
        return items_;
    }
    size_t count() const {
        std::lock_guard lock(mutex_);
        return items_.size();
    }

private:
    mutable std::mutex mutex_;
    std::vector<T> items_;
};
