// The process-wide Relay controller: takes the session code's triggers,
// matches them against the stored configuration, prepares one attempt per
// matched partner callback with its macros filled, fires the attempts,
// records every outcome for the callback report and retries failures with
// growing delays on one-shot timers. It also applies the configuration
// refresh rule and resends waiting attempts when the network comes back or
// the application becomes active. An attempt is on disk before its request
// starts; what a killed process left prepared is fired when the analytics
// client starts again.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/OrreryHttpAsyncTask.h"
#include "analytics/OrreryRelayHooks.h"
#include "analytics/relay/OrreryRelayCallbackAttemptInfo.h"
#include "analytics/relay/OrreryRelayEventProcessing.h"
#include "analytics/relay/OrreryRelaySettings.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/foundation/NSTimer.h"

class OrreryRelayEventController : public NSObject,
                                   public OrreryHttpAsyncTaskDelegate,
                                   public OrreryRelayEventProcessing,
                                   public OrreryRelayHooks {
public:
    // Index → trigger name: "unknown", session start, session end, install.
    static constexpr const char* kUnknownEvent = "unknown";
    // Seconds an attempt stays resendable after each firing.
    static constexpr int64_t kExpirationSeconds = 259200;
    // repeatDuration of a new attempt; the first retry waits three times that.
    static constexpr int32_t kInitialRepeatDuration = 30;
    // The macro pattern: optional "%", "{", letters, digits, underscores, "}".
    static constexpr const char* kMacroPattern = "%?\\{([A-Za-z0-9_])*\\}";
    // Task parameter keys.
    static constexpr const char* kInvokeURLHashKey = "invokeURLHash";
    static constexpr const char* kBeingFiredKey = "beingFired";
    static constexpr const char* kMethodKey = "method";

    static Ref<OrreryRelayEventController> sharedInstance();
    // Cleans the configuration request up and drops the controller.
    static void cleanup();
    // Installs the shared controller as the session code's Relay hooks and as
    // the install-trigger processor.
    static void installHooks();

    Ref<OrreryRelayEventController> init();
    ~OrreryRelayEventController() override;

    static std::string relayEventEnumToString(int index);
    static int relayEventStringToEnum(const std::optional<std::string>& name);

    // A trigger from the session code or the configuration request. Any thread.
    void processEventWithParams(const std::string& name, const Value& params) override;
    void updateRelayForAdTracking();
    void makeRelayRequest();
    // The refresh rule the session code applies when it makes a session.
    void applyRefreshRuleForNewSession() override;
    void analyticsDidStartWithSessionQueue(const dispatch_queue_t& sessionQueue) override;

    void appWillBackground(const NSNotification& notification);
    void appWillResume(const NSNotification& notification);
    void networkStatusChanged(const NSNotification& notification);

    // The callback ids a trigger fires: those of the last key, in the map's
    // order, that matches the name and parameters; nothing when none does.
    static std::optional<std::vector<int64_t>> matchedCallbackIds(const OrreryRelaySettings& settings,
                                                                  const std::string& name, const Value& params);
    // The macro values of one trigger, keyed "%{name}".
    static Value macroValuesForEvent(const std::string& name, const Value& params);
    // Fills every string of a nested dictionary (arrays hold dictionaries).
    Value substituteParamsInDictionary(const Value& dictionary, const Value& values, std::string_view pattern) const;
    // The invocation hash of an attempt.
    static std::string invocationHash(const OrreryRelayCallbackAttemptInfo& attempt);

    // Firing.
    void fireAllConfigUrls();
    void firePendingUrlsOnNetworkAvailability();
    void firePendingUrls();

    // Arms the retry timer of the attempt under `hash` (replacing one armed
    // before) and lists it in the pending timers; any thread.
    void setTimerToFireUrl(const std::string& hash, int32_t seconds);

    // An answer from 200 to 399 is a delivery, final, whatever becomes of its
    // body (over the cap, cut off, past the time-out). Any other outcome is
    // recorded, with what the body held, and retried as the limits allow.
    void requestSuccessful(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response) override;
    void requestDidFail(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response) override;
    void requestDidCancel(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response) override;

    // The serial queue of resend passes; a null queue is refused (logged).
    dispatch_queue_t queue() const;
    void setQueue(dispatch_queue_t queue);
    // Retry timers armed now, for tests and diagnostics.
    size_t armedTimerCount() const;

    // The stored configuration, or null.
    static Ref<OrreryRelaySettings> storedSettings();

private:
    void registerForNotifications();
    static void removeStoredSettings();
    static bool dropExpiredSettingsAndCheckRefresh();
    // Inside a write on the Relay URL map: marks the attempt fired, stores it
    // under the hash and makes its request, which the caller starts once the
    // map is saved; null when nothing is to be sent.
    Ref<OrreryHttpAsyncTask> fireAttemptInMap(ValueDictionary& urlMap, const std::string& hash,
                                              const Ref<OrreryRelayCallbackAttemptInfo>& attempt, int maxRedirects);
    // A write on the Relay URL map whose block may fire attempts (it lists
    // their requests); the requests start once the map is saved.
    void writeUrlMapAndFire(std::function<void(ValueDictionary&, std::vector<Ref<OrreryHttpAsyncTask>>&)> block);
    // Inside a write on the prep map: moves every prepared attempt into the
    // Relay URL map (saved first), starts their requests and empties the map.
    void firePreparedAttempts(ValueDictionary& prepMap);
    // At the analytics start: prepares again the attempts whose firing is on
    // record but which neither Relay map holds (lost with a process that
    // died between the saves of the two maps and the records), then fires
    // what is prepared unless the application is in the background.
    void resumeAfterLaunch();
    void restoreLostAttempts(ValueDictionary& prepMap);
    // Drops from the prep map the attempts that a killed process had moved
    // into the URL map already (it died before the prep map was saved).
    // False while either map cannot be read.
    bool dropPreparedAttemptsMovedAlready();
    static int maxRedirectsFor(const Ref<OrreryRelaySettings>& settings, int64_t callbackId);
    void recordDelivery(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response);
    void handleFailure(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response, int32_t state);
    void recordFailure(const Ref<OrreryHttpAsyncTask>& task, const Ref<OrreryHTTPResponse>& response, int32_t state);
    // The retry decision of a failed attempt, as a write of its own or
    // inside one already running on the Relay URL map.
    void manageUrlStorage(const std::string& hash);
    void manageUrlStorageInMap(ValueDictionary& urlMap, const std::string& hash);
    void fireUrlOnTimer(const std::string& hash);
    void cancelTimer(const std::string& hash);

    mutable std::mutex queueMutex_;  // guards queue_
    dispatch_queue_t queue_;
    // Guards timers_; taken before the pending-timer list's own lock.
    mutable std::mutex timersMutex_;
    std::map<std::string, Ref<NSTimer>> timers_;  // armed retry timer per invocation hash
    // Set by the first resend pass that found both maps readable and dropped
    // what dropPreparedAttemptsMovedAlready drops (a second pass is harmless).
    std::atomic<bool> movedAttemptsDropped_{false};
};
