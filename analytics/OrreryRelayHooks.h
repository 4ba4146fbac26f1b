// The seam through which Relay (the partner-callback feature, built in
// analytics/relay) plugs into the session code. The session code calls the
// installed hooks at the points below; with none installed nothing happens.
#pragma once

#include <string>

#include "platform/foundation/Value.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/NSObject.h"

class OrreryRelayHooks : public virtual NSObjectProtocol {
public:
    // Trigger names the session code passes.
    static constexpr const char* kSessionStartEvent = "orrery.session_start";
    static constexpr const char* kSessionEndEvent = "orrery.session_end";
    // Trigger parameter keys the session code fills.
    static constexpr const char* kSessionStartTimeKey = "sessionStartTimeForRelay";
    static constexpr const char* kSessionEndTimeKey = "sessionEndTimeForRelay";
    static constexpr const char* kTotalSessionBgTimeKey = "totalSessionBgTime";
    static constexpr const char* kEventLogIdKey = "eventLogId";

    // Once, on the session queue, when the client starts (whether or not
    // Relay is switched on): where Relay sets up its report sender.
    virtual void analyticsDidStartWithSessionQueue(const dispatch_queue_t& sessionQueue) { (void)sessionQueue; }
    // On the session queue, in createAndSendSession before the new session
    // is made, only while Relay monitoring is on: Relay's refresh rule
    // (expiry, new configuration or advertising-tracking update).
    virtual void applyRefreshRuleForNewSession() {}
    // On the session queue, only while Relay monitoring is on: a session
    // start or end, or a logged event, with its trigger parameters.
    virtual void processEventWithParams(const std::string& name, const Value& params) {
        (void)name;
        (void)params;
    }

    // Installs the hooks (null removes them). Any thread.
    static void setHooks(Ref<OrreryRelayHooks> hooks);
    static Ref<OrreryRelayHooks> hooks();
};
