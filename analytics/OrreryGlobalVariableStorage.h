// The analytics client's process-wide settings and state: the API key and
// application facts, the switches of the public interface, Relay's flags and
// its retry timers. Safe to use from any thread.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/NSDate.h"
#include "platform/runtime/NSObject.h"
#include "platform/foundation/NSTimer.h"

// A location the application gave the client.
struct OrreryLocation {
    double latitude = 0;
    double longitude = 0;
    double horizontalAccuracy = 0;
};

// The list of pending retry timers. Whoever changes it holds the list's own
// lock (PLATFORM_SYNCHRONIZED(list)); the methods below take it themselves.
class OrreryTimerArray : public NSObject {
public:
    void addTimer(Ref<NSTimer> timer);
    // Removes the timer (by identity); nothing when it is not listed.
    void removeTimer(const Ref<NSTimer>& timer);
    std::vector<Ref<NSTimer>> timers() const;
    size_t count() const;
    // Empties the list and returns what it held.
    std::vector<Ref<NSTimer>> removeAllTimers();

private:
    std::vector<Ref<NSTimer>> timers_;
};

class OrreryGlobalVariableStorage : public NSObject {
public:
    static Ref<OrreryGlobalVariableStorage> sharedInstance();
    OrreryGlobalVariableStorage();

    // The API key, trimmed of white space and line breaks.
    std::string apiKey() const;
    void setApiKey(std::string_view key);
    std::string appVersion() const;
    void setAppVersion(std::string version);
    std::optional<std::string> userID() const;
    void setUserID(std::optional<std::string> userID);
    std::optional<OrreryLocation> location() const;
    void setLocation(std::optional<OrreryLocation> location);

    // Switches of the public interface (stored; read by the session code).
    bool crashReportingEnabled() const { return crashReportingEnabled_.load(); }
    void setCrashReportingEnabled(bool on) { crashReportingEnabled_.store(on); }
    bool backgroundSessionEnabled() const { return backgroundSessionEnabled_.load(); }
    void setBackgroundSessionEnabled(bool on) { backgroundSessionEnabled_.store(on); }
    int logLevel() const { return logLevel_.load(); }
    void setLogLevel(int level) { logLevel_.store(level); }

    // Relay: NO by default; set only through Orrery::setRelayEnabled.
    bool relayMonitoringEnabled() const { return relayMonitoringEnabled_.load(); }
    void setRelayMonitoringEnabled(bool on) { relayMonitoringEnabled_.store(on); }
    // In memory, NO at start.
    bool relayRequestPending() const { return relayRequestPending_.load(); }
    void setRelayRequestPending(bool pending) { relayRequestPending_.store(pending); }
    // Kept in the persisted globals map. The getters read it synchronously:
    // never call them from inside a block on the globals map.
    // True while the globals map cannot be read: the install trigger waits.
    bool appInstallProcessDone() const;
    void setAppInstallProcessDone(bool done);
    // True until a value was stored, and while the globals cannot be read.
    bool lastAdTrackingEnabledSetting() const;
    void setLastAdTrackingEnabledSetting(bool enabled);
    // In memory only; nothing at start.
    std::optional<NSDate> lastRelayReportTime() const;
    void setLastRelayReportTime(std::optional<NSDate> date);
    bool optOutSessionPending() const { return optOutSessionPending_.load(); }
    void setOptOutSessionPending(bool pending) { optOutSessionPending_.store(pending); }
    bool userOptedOut() const { return userOptedOut_.load(); }
    void setUserOptedOut(bool optedOut) { userOptedOut_.store(optedOut); }

    // The analytics device identifier once made (see OrreryUtil::getOrreryId).
    std::optional<std::string> orreryId() const;
    void setOrreryId(std::optional<std::string> identifier);

    // Relay's retry timers.
    const Ref<OrreryTimerArray>& pendingUrlTimers() const { return pendingUrlTimers_; }
    // Invalidates every pending timer and empties the list.
    void removePendingUrlTimers();

    // Keys in the persisted globals map.
    static constexpr const char* kAppInstallProcessDoneKey = "appInstallProcessDone";
    static constexpr const char* kLastAdTrackingEnabledSettingKey = "lastAdTrackingEnabledSetting";

private:
    mutable std::mutex mutex_;  // guards the strings, the location and the date
    std::string apiKey_;
    std::string appVersion_;
    std::optional<std::string> userID_;
    std::optional<OrreryLocation> location_;
    std::optional<NSDate> lastRelayReportTime_;
    std::optional<std::string> orreryId_;

    std::atomic<bool> crashReportingEnabled_{false};
    std::atomic<bool> backgroundSessionEnabled_{false};
    std::atomic<int> logLevel_{0};
    std::atomic<bool> relayMonitoringEnabled_{false};
    std::atomic<bool> relayRequestPending_{false};
    std::atomic<bool> optOutSessionPending_{false};
    std::atomic<bool> userOptedOut_{false};
    Ref<OrreryTimerArray> pendingUrlTimers_;
};
