// The analytics client's public interface: class methods the application
// calls to configure the client, start its session and log events. Sessions
// pause and resume with the application's lifecycle notifications; all
// session work runs on one serial session queue of the client's own.
#pragma once

#include <string>

#include "platform/foundation/Value.h"
#include "platform/runtime/DispatchQueue.h"

class Orrery {
public:
    // A session paused for longer than this (seconds) is ended when the
    // application comes back, and a new one starts.
    static constexpr double kSessionContinueSeconds = 10.0;
    // Key in the persisted globals map: the running number of logged events.
    static constexpr const char* kEventLogIdKey = "eventLogId";
    // Key in the persisted globals map: the analytics device identifier.
    static constexpr const char* kOrreryIdKey = "orreryId";

    // Stored switches; there is no crash reporter behind the first.
    static void setCrashReportingEnabled(bool enabled);
    // With background sessions on, a session keeps running while the
    // application is in the background; off (the default), it pauses.
    static void setBackgroundSessionEnabled(bool enabled);

    // Starts the client with the API key (white space around it is dropped)
    // and its first session. An empty key, or a second start, is logged and
    // changes nothing.
    static void startSession(const std::string& apiKey);

    // Records an event in the current session. An empty name is refused;
    // parameters must be a dictionary (anything else is logged and dropped).
    // Without a session (before startSession) the event is logged and dropped.
    static void logEvent(const std::string& eventName);
    static void logEvent(const std::string& eventName, const Value& parameters);

    static void setLogLevel(int level);
    static void setRelayEnabled(bool enabled);
    // Replaces the Relay configuration endpoint; a text that is no URL is refused.
    static void setRelayServerURL(const std::string& url);

    // Ends the current session (if any) and starts a new one, on the session
    // queue. While Relay monitoring is on, Relay's refresh rule runs first
    // (OrreryRelayHooks::applyRefreshRuleForNewSession) and the session end
    // and start reach Relay as triggers. Does nothing before startSession.
    static void createAndSendSession();

    // The serial queue on which every session operation runs.
    static dispatch_queue_t sessionQueue();
};
