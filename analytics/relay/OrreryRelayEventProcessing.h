// The Relay event controller's entry point as the rest of Relay sees it. The
// configuration request raises the one-time install trigger through it; the
// controller implements it and installs itself as the shared processor.
#pragma once

#include <string>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class OrreryRelayEventProcessing : public virtual NSObjectProtocol {
public:
    // Trigger name of the first install.
    static constexpr const char* kAppInstallEvent = "orrery.app_install";

    // Matches the named trigger with its parameters ("sessionStartTimeForRelay",
    // "sessionEndTimeForRelay", …) against the stored configuration and fires
    // what it names. Any thread.
    virtual void processEventWithParams(const std::string& name, const Value& params) = 0;

    // The installed processor (null removes it). Any thread.
    static void setSharedProcessor(Ref<OrreryRelayEventProcessing> processor);
    static Ref<OrreryRelayEventProcessing> sharedProcessor();
};
