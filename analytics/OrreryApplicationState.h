// The application's lifecycle as the analytics client sees it: the names of
// the lifecycle notifications the UI layer posts (kept here as strings, so
// this library needs no UI module) and whether the application is in the
// background, followed from those notifications.
#pragma once

#include <atomic>

#include "platform/runtime/NSObject.h"

namespace OrreryLifecycle {
inline constexpr const char* kDidEnterBackground = "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* kWillEnterForeground = "UIApplicationWillEnterForegroundNotification";
inline constexpr const char* kDidBecomeActive = "UIApplicationDidBecomeActiveNotification";
inline constexpr const char* kWillResignActive = "UIApplicationWillResignActiveNotification";
inline constexpr const char* kWillTerminate = "UIApplicationWillTerminateNotification";
}  // namespace OrreryLifecycle

class OrreryApplicationState : public NSObject {
public:
    // Created on first use and observing from then on; the application is
    // taken to be in the foreground until it is told otherwise.
    static Ref<OrreryApplicationState> sharedInstance();

    bool isInBackground() const { return inBackground_.load(); }

private:
    void startObserving();
    std::atomic<bool> inBackground_{false};
    Ref<NSObject> backgroundToken_;
    Ref<NSObject> foregroundToken_;
};
