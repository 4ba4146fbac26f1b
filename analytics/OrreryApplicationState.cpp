#include "analytics/OrreryApplicationState.h"

#include "platform/foundation/NSNotificationCenter.h"

Ref<OrreryApplicationState> OrreryApplicationState::sharedInstance() {
    // Lives for the process (never destroyed, so nothing runs at exit).
    static const Ref<OrreryApplicationState>* instance = new Ref<OrreryApplicationState>([] {
        auto state = alloc<OrreryApplicationState>();
        state->startObserving();
        return state;
    }());
    return *instance;
}

void OrreryApplicationState::startObserving() {
    auto center = NSNotificationCenter::defaultCenter();
    Weak<OrreryApplicationState> weak = self<OrreryApplicationState>();
    backgroundToken_ = center->addObserverForName(OrreryLifecycle::kDidEnterBackground, nullptr, nullptr,
                                                  [weak](const NSNotification&) {
                                                      if (auto me = weak.lock()) me->inBackground_.store(true);
                                                  });
    foregroundToken_ = center->addObserverForName(OrreryLifecycle::kWillEnterForeground, nullptr, nullptr,
                                                  [weak](const NSNotification&) {
                                                      if (auto me = weak.lock()) me->inBackground_.store(false);
                                                  });
}
