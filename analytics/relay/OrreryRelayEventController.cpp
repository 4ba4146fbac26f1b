#include "analytics/relay/OrreryRelayEventController.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>
#include <set>
#include <vector>

#include "analytics/OrreryApplicationState.h"
#include "analytics/OrreryGlobalPersistentManager.h"
#include "analytics/OrreryGlobalVariableStorage.h"
#include "analytics/OrreryNetworkUtil.h"
#include "analytics/OrreryProtocolData.h"
#include "analytics/OrreryUtil.h"
#include "analytics/relay/OrreryRelayCBReportSender.h"
#include "analytics/relay/OrreryRelayCallback.h"
#include "analytics/relay/OrreryRelayCallbackReportManager.h"
#include "analytics/relay/OrreryRelayLog.h"
#include "analytics/relay/OrreryRelayRequest.h"
#include "analytics/relay/OrreryRelayTriggerInvokeInfo.h"
#include "platform/foundation/NSData.h"
#include "platform/runtime/NSDate.h"

namespace {

constexpr const char* kEventNames[] = {OrreryRelayEventController::kUnknownEvent, OrreryRelayHooks::kSessionStartEvent,
                                       OrreryRelayHooks::kSessionEndEvent, OrreryRelayEventProcessing::kAppInstallEvent};
constexpr const char* kMethodNames[] = {"GET", "PUT", "POST"};

std::mutex instanceMutex;
Ref<OrreryRelayEventController>& instanceSlot() {
    // Never destroyed: other threads may use it during exit.
    static Ref<OrreryRelayEventController>& instance = *new Ref<OrreryRelayEventController>();
    return instance;
}

Ref<OrreryGlobalPersistentManager> persistence() { return OrreryGlobalPersistentManager::sharedInstance(); }

// A double converted to 64 bits: non-finite gives 0, out of range saturates.
int64_t toInt64(double value) {
    if (!std::isfinite(value)) return 0;
    if (value >= 9.2e18) return std::numeric_limits<int64_t>::max();
    if (value <= -9.2e18) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

std::string formatLongLong(int64_t value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%" PRId64, value);
    return buffer;
}

std::optional<double> dateSeconds(const Value& params, const char* key) {
    if (const NSDate* date = params[key].date()) return date->timeIntervalSince1970();
    return std::nullopt;
}

// A parameter value as text for trigger matching: strings unchanged, numbers
// in decimal, anything else none.
std::optional<std::string> parameterText(const Value& value) {
    if (value.isString()) return *value.string();
    if (value.isBool()) return value.boolValue() ? "1" : "0";
    if (value.isInteger()) return formatLongLong(value.integerValue());
    if (value.isDouble()) {
        double d = value.doubleValue();
        if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 9e15) return formatLongLong(static_cast<int64_t>(d));
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.15g", d);
        return buffer;
    }
    return std::nullopt;
}

bool triggerMatches(const OrreryRelayEventTrigger& trigger, const std::string& name, const Value& params) {
    if (trigger.eventName() != name) return false;
    const auto& paramName = trigger.eventParamName();
    const auto& values = trigger.eventParamValues();
    if (!paramName && !values) return true;
    if (!paramName) return false;
    std::optional<std::string> text = parameterText(params[*paramName]);
    if (!text) return false;
    if (!values) return true;
    for (const auto& v : *values)
        if (v == *text) return true;
    return false;
}

// The callback ids of the last key in map order that matches the trigger.
// Only the keys of that event name can match: walked from the last, the
// first match wins, whatever the size of the map.
std::optional<std::vector<int64_t>> matchIn(const OrreryRelayCallbackEventsMap& map, const std::string& name,
                                            const Value& params) {
    const std::vector<size_t>* named = map.entriesNamed(name);
    if (!named) return std::nullopt;
    const auto& entries = map.entries();
    for (auto it = named->rbegin(); it != named->rend(); ++it) {
        const auto& entry = entries[*it];
        if (entry.key.isString()) return entry.callbackIds;
        if (auto trigger = entry.key.object<OrreryRelayEventTrigger>(); trigger && triggerMatches(*trigger, name, params))
            return entry.callbackIds;
    }
    return std::nullopt;
}

int32_t triggerTypeFor(const std::string& name, const Value& params, bool* stop, bool emptyList) {
    *stop = false;
    if (name == OrreryRelayHooks::kSessionStartEvent) return OrreryRelayTriggerTypeSessionStart;
    if (name == OrreryRelayHooks::kSessionEndEvent) return OrreryRelayTriggerTypeSessionEnd;
    if (name == OrreryRelayEventProcessing::kAppInstallEvent) return OrreryRelayTriggerTypeAppInstall;
    if (params.contains(OrreryRelayHooks::kEventLogIdKey)) {
        *stop = emptyList;
        return OrreryRelayTriggerTypeEvent;
    }
    return OrreryRelayTriggerTypeOther;
}

std::string macroKey(const char* name) { return std::string("%{") + name + "}"; }

// One callback's request of a trigger, its macros filled.
struct PreparedRequest {
    Ref<OrreryRelayCallback> callback;
    std::string url;
    std::optional<std::string> body;
};

int32_t tripledSaturated(int32_t seconds) {
    int64_t next = static_cast<int64_t>(seconds) * 3;
    return next > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(next);
}

Ref<OrreryRelayCallbackAttemptInfo> attemptIn(const ValueDictionary& map, const std::string& hash) {
    const Value* v = map.find(hash);
    return v ? v->object<OrreryRelayCallbackAttemptInfo>() : nullptr;
}

// The attempts of the prep map (session key → trigger name → attempts), in order.
std::vector<Ref<OrreryRelayCallbackAttemptInfo>> preparedAttemptsIn(const ValueDictionary& prepMap) {
    std::vector<Ref<OrreryRelayCallbackAttemptInfo>> attempts;
    for (const auto& [sessionKey, session] : prepMap)
        if (const auto* names = session.dictionary())
            for (const auto& [name, list] : *names)
                if (const auto* items = list.array())
                    for (const auto& item : *items)
                        if (auto attempt = item.object<OrreryRelayCallbackAttemptInfo>()) attempts.push_back(attempt);
    return attempts;
}

// The prep map's list of a trigger in a session, made when missing (or, with
// `fresh`, made anew whatever it held).
Value& preparedListIn(ValueDictionary& prepMap, const std::string& sessionKey, const std::string& name, bool fresh) {
    if (!prepMap.contains(sessionKey)) prepMap.set(sessionKey, Value::dictionary({}));
    Value& session = *prepMap.find(sessionKey);
    if (fresh || !session[name].isArray()) session.set(name, Value::array({}));
    return *session.mutableDictionary()->find(name);
}

bool sameCreationTime(const OrreryRelayCallbackAttemptInfo& a, const OrreryRelayCallbackAttemptInfo& b) {
    return a.creationTime() && b.creationTime() &&
           a.creationTime()->timeIntervalSince1970() == b.creationTime()->timeIntervalSince1970();
}

// The URL map holds the attempt already: a process moved it there and died
// before the prep map was saved without it.
bool movedAlready(const ValueDictionary& urlMap, const std::string& hash, const OrreryRelayCallbackAttemptInfo& attempt) {
    auto moved = attemptIn(urlMap, hash);
    return moved && sameCreationTime(*moved, attempt);
}

double secondsSinceCreation(const OrreryRelayCallbackAttemptInfo& attempt) {
    if (!attempt.creationTime()) return 0;
    double elapsed = NSDate::date().timeIntervalSince1970() - attempt.creationTime()->timeIntervalSince1970();
    return elapsed > 0 ? elapsed : 0;
}

std::string hashOf(const Ref<OrreryHttpAsyncTask>& task) {
    const Value params = task ? task->taskParams() : Value();
    const std::string* hash = params[OrreryRelayEventController::kInvokeURLHashKey].string();
    return hash ? *hash : std::string();
}

}  // namespace

// --- life -------------------------------------------------------------------------------

Ref<OrreryRelayEventController> OrreryRelayEventController::sharedInstance() {
    std::scoped_lock lock(instanceMutex);
    auto& slot = instanceSlot();
    if (!slot) slot = NSObject::alloc<OrreryRelayEventController>()->init();
    return slot;
}

void OrreryRelayEventController::cleanup() {
    OrreryRelayRequest::synchronizedRelayAccessWithCallback_sync(
        [](const Ref<OrreryRelayRequest>& request) { request->cleanUp(); });
    Ref<OrreryRelayEventController> dropped;
    {
        std::scoped_lock lock(instanceMutex);
        dropped = std::move(instanceSlot());
    }
    if (dropped) {
        std::scoped_lock lock(dropped->timersMutex_);
        for (auto& [hash, timer] : dropped->timers_) timer->invalidate();
        dropped->timers_.clear();
    }
    if (OrreryRelayHooks::hooks() == std::dynamic_pointer_cast<OrreryRelayHooks>(dropped)) OrreryRelayHooks::setHooks(nullptr);
    if (OrreryRelayEventProcessing::sharedProcessor() == std::dynamic_pointer_cast<OrreryRelayEventProcessing>(dropped))
        OrreryRelayEventProcessing::setSharedProcessor(nullptr);
}

void OrreryRelayEventController::installHooks() {
    auto controller = sharedInstance();
    OrreryRelayHooks::setHooks(controller);
    OrreryRelayEventProcessing::setSharedProcessor(controller);
}

Ref<OrreryRelayEventController> OrreryRelayEventController::init() {
    queue_ = dispatch_queue_create("orrery.relay.controller", nullptr);
    registerForNotifications();
    return self<OrreryRelayEventController>();
}

OrreryRelayEventController::~OrreryRelayEventController() {
    NSNotificationCenter::defaultCenter()->removeObserver(static_cast<const void*>(this));
}

dispatch_queue_t OrreryRelayEventController::queue() const {
    std::scoped_lock lock(queueMutex_);
    return queue_;
}

void OrreryRelayEventController::setQueue(dispatch_queue_t queue) {
    if (!queue) {
        OrreryLog::error("OrreryRelayEventController setQueue: a null queue is refused; the queue stays");
        return;
    }
    std::scoped_lock lock(queueMutex_);
    queue_ = std::move(queue);
}

void OrreryRelayEventController::registerForNotifications() {
    auto center = NSNotificationCenter::defaultCenter();
    auto me = self<OrreryRelayEventController>();
    center->addObserver(me, &OrreryRelayEventController::appWillBackground, OrreryLifecycle::kWillResignActive);
    center->addObserver(me, &OrreryRelayEventController::appWillResume, OrreryLifecycle::kDidBecomeActive);
    center->addObserver(me, &OrreryRelayEventController::networkStatusChanged, OrreryNetworkStatusChangedNotification);
}

std::string OrreryRelayEventController::relayEventEnumToString(int index) {
    if (index < 0 || index > 3) return kUnknownEvent;
    return kEventNames[index];
}

int OrreryRelayEventController::relayEventStringToEnum(const std::optional<std::string>& name) {
    if (!name) return 0;
    for (int i = 0; i < 4; ++i)
        if (*name == kEventNames[i]) return i;
    return 0;
}

// --- settings and refresh ------------------------------------------------------------------

Ref<OrreryRelaySettings> OrreryRelayEventController::storedSettings() {
    Ref<OrreryRelaySettings> settings;
    persistence()->processReadOperationForPersistentGlobalsMapSyncWithBlock([&](const ValueDictionary& globals) {
        if (const Value* v = globals.find(OrreryRelaySettings::kStorageKey)) settings = v->object<OrreryRelaySettings>();
    });
    return settings;
}

void OrreryRelayEventController::removeStoredSettings() {
    persistence()->processWriteOperationForPersistentGlobalsMapWithBlock(
        [](ValueDictionary& globals) { globals.remove(OrreryRelaySettings::kStorageKey); });
}

void OrreryRelayEventController::updateRelayForAdTracking() {
    auto storage = OrreryGlobalVariableStorage::sharedInstance();
    bool enabled = OrreryUtil::isAdTrackingEnabled();
    if (enabled == storage->lastAdTrackingEnabledSetting()) return;
    storage->setLastAdTrackingEnabledSetting(enabled);
    removeStoredSettings();
    makeRelayRequest();
}

void OrreryRelayEventController::makeRelayRequest() {
    OrreryRelayRequest::synchronizedRelayAccessWithCallback_async([](const Ref<OrreryRelayRequest>& request) {
        if (request->buildObjectWithParams(Value())) request->sendRelayRequestWithParams(Value());
    });
}

// Drops expired settings; answers whether a new configuration is due.
bool OrreryRelayEventController::dropExpiredSettingsAndCheckRefresh() {
    Ref<OrreryRelaySettings> settings = storedSettings();
    int64_t nowMillis = toInt64(NSDate::date().timeIntervalSince1970() * 1000.0);
    // A next refresh further ahead than its interval allows: the clock has
    // gone back since the configuration came. Its times count from now
    // (stored so), which makes the refresh due and bounds the expiry.
    if (settings && settings->fetchedAfter(nowMillis)) {
        OrreryRelayLog::log("OrreryRelayEventController: the clock went back since the configuration came; it is refreshed now");
        Ref<OrreryRelaySettings> stale = settings;
        settings = settings->countedFrom(nowMillis);
        persistence()->processWriteOperationForPersistentGlobalsMapWithBlock([stale, settings](ValueDictionary& globals) {
            // Unless a newer configuration was stored meanwhile.
            const Value* stored = globals.find(OrreryRelaySettings::kStorageKey);
            if (stored && stored->object<OrreryRelaySettings>() == stale) globals.set(OrreryRelaySettings::kStorageKey, Value(settings));
        });
    }
    if (settings && settings->expirationTTL() <= nowMillis) {
        removeStoredSettings();
        settings = nullptr;
    }
    bool noCallbacks = !settings || !settings->callbacks() || settings->callbacks()->empty();
    return !settings || settings->nextRefreshTTL() <= nowMillis || noCallbacks;
}

void OrreryRelayEventController::applyRefreshRuleForNewSession() {
    if (dropExpiredSettingsAndCheckRefresh()) makeRelayRequest();
    else updateRelayForAdTracking();
}

void OrreryRelayEventController::analyticsDidStartWithSessionQueue(const dispatch_queue_t& sessionQueue) {
    OrreryRelayCBReportSender::setupInstanceWithQueue(sessionQueue);
    // Once the API key is set: the report records are kept under it.
    resumeAfterLaunch();
}

void OrreryRelayEventController::appWillBackground(const NSNotification&) {
    OrreryRelayLog::log("OrreryRelayEventController: pause session called");
    std::scoped_lock lock(timersMutex_);
    OrreryGlobalVariableStorage::sharedInstance()->removePendingUrlTimers();
    timers_.clear();
}

void OrreryRelayEventController::appWillResume(const NSNotification&) {
    OrreryRelayLog::log("OrreryRelayEventController: app resuming");
    firePendingUrlsOnNetworkAvailability();
}

void OrreryRelayEventController::networkStatusChanged(const NSNotification&) {
    bool reachable = OrreryNetworkUtil::isNetworkReachable();
    OrreryRelayLog::log(NSString::stringWithFormat("OrrerySession: networkStatusChanged to %@ reachable",
                                                   std::string(reachable ? "" : "not")));
    if (!reachable) return;
    if (OrreryGlobalVariableStorage::sharedInstance()->relayMonitoringEnabled()) {
        if (dropExpiredSettingsAndCheckRefresh()) makeRelayRequest();
    }
    firePendingUrlsOnNetworkAvailability();
}

// --- macros ----------------------------------------------------------------------------------

Value OrreryRelayEventController::macroValuesForEvent(const std::string& name, const Value& params) {
    auto storage = OrreryGlobalVariableStorage::sharedInstance();
    double start = dateSeconds(params, OrreryRelayHooks::kSessionStartTimeKey).value_or(0);
    double end = dateSeconds(params, OrreryRelayHooks::kSessionEndTimeKey).value_or(start);
    std::string duration = formatLongLong(toInt64((end - start) * 1000.0));
    Value values = Value::dictionary({});
    values.set(macroKey("session_duration_millis"), duration);
    values.set(macroKey("event_time_millis"), formatLongLong(toInt64(NSDate::date().timeIntervalSince1970() * 1000.0)));
    values.set(macroKey("event_name"), name);
    if (auto location = storage->location()) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%f", location->longitude);
        values.set(macroKey("geo_longitude"), std::string(buffer));
        std::snprintf(buffer, sizeof buffer, "%f", location->latitude);
        values.set(macroKey("geo_latitude"), std::string(buffer));
    }
    values.set(macroKey("fg_timespent_millis"), duration);
    values.set(macroKey("timestamp_epoch_millis"), formatLongLong(toInt64(start * 1000.0)));
    values.set(macroKey("publisher_user_id"), storage->userID().value_or(""));
    return values;
}

Value OrreryRelayEventController::substituteParamsInDictionary(const Value& dictionary, const Value& values,
                                                               std::string_view pattern) const {
    if (!dictionary.isDictionary()) return dictionary;
    Value result = Value::dictionary({});
    for (const auto& key : dictionary.keys()) {
        const Value& item = dictionary[key];
        if (item.isDictionary()) {
            result.set(key, substituteParamsInDictionary(item, values, pattern));
        } else if (const auto* array = item.array()) {
            Value filled = Value::array({});
            for (const auto& element : *array) filled.append(substituteParamsInDictionary(element, values, pattern));
            result.set(key, filled);
        } else if (item.isString()) {
            std::string text = *item.string();
            OrreryUtil::substituteParamsInString(&text, values, pattern);
            result.set(key, text);
        } else {
            result.set(key, item);
        }
    }
    return result;
}

std::string OrreryRelayEventController::invocationHash(const OrreryRelayCallbackAttemptInfo& attempt) {
    std::string source = attempt.substitutedUrl().value_or("(null)") + "_" + attempt.invokeId().value_or("(null)") + "_" +
                         formatLongLong(attempt.callbackId());
    return OrreryUtil::md5String(source);
}

// --- triggers ----------------------------------------------------------------------------------

std::optional<std::vector<int64_t>> OrreryRelayEventController::matchedCallbackIds(const OrreryRelaySettings& settings,
                                                                                   const std::string& name,
                                                                                   const Value& params) {
    if (!settings.callbackEventsMap()) return std::nullopt;
    return matchIn(*settings.callbackEventsMap(), name, params);
}

void OrreryRelayEventController::processEventWithParams(const std::string& name, const Value& rawParams) {
    const Value params = rawParams.isDictionary() ? rawParams : Value::dictionary({});
    double start = dateSeconds(params, OrreryRelayHooks::kSessionStartTimeKey).value_or(0);
    updateRelayForAdTracking();

    Ref<OrreryRelaySettings> settings = storedSettings();
    if (!settings) return;
    const Value& enabled = settings->analytics()[OrreryRelaySettings::kAnalyticsEnabledKey];
    if (!enabled.isNumber() || !enabled.boolValue()) return;

    std::optional<std::vector<int64_t>> matched = matchedCallbackIds(*settings, name, params);
    if (!matched) return;
    bool stop = false;
    int32_t triggerType = triggerTypeFor(name, params, &stop, matched->empty());
    if (stop) return;

    const Value macros = macroValuesForEvent(name, params);
    const bool isSessionEnd = name == OrreryRelayHooks::kSessionEndEvent;
    const int64_t sessionId = toInt64(start * 1000.0);
    const double now = NSDate::date().timeIntervalSince1970();
    const int64_t offset = toInt64((now - start) * 1000.0);

    // A callback that lists the event twice is fired once: a second attempt
    // would share the first's invocation hash and never hear an outcome.
    std::vector<int64_t> ids;
    for (int64_t id : *matched)
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
    if (ids.size() > OrreryRelaySettings::kMaxCallbacksPerTrigger) {
        OrreryLog::error(NSString::stringWithFormat(
            "OrreryRelayEventController: %@ fires %@ callbacks; the first %@ are fired, the other %@ (callback %@ and after) "
            "are dropped",
            name, std::to_string(ids.size()), std::to_string(OrreryRelaySettings::kMaxCallbacksPerTrigger),
            std::to_string(ids.size() - OrreryRelaySettings::kMaxCallbacksPerTrigger),
            formatLongLong(ids[OrreryRelaySettings::kMaxCallbacksPerTrigger])));
        ids.resize(OrreryRelaySettings::kMaxCallbacksPerTrigger);
    }
    // The callbacks' requests with their macros filled; the firing record they join is settled later.
    std::vector<PreparedRequest> requests;
    for (int64_t callbackId : ids) {
        Ref<OrreryRelayCallback> callback = settings->callbackWithId(callbackId);
        if (!callback || !callback->uriTemplate() || callback->uriTemplate()->empty()) {
            OrreryRelayLog::log("OrreryRelayEventController: callback %@ is not in the configuration; skipped",
                                formatLongLong(callbackId));
            continue;
        }
        PreparedRequest request{callback, *callback->uriTemplate(), std::nullopt};
        OrreryUtil::substituteParamsInString(&request.url, macros, kMacroPattern);
        if (callback->method() == 2 && callback->bodyTemplate()) {
            request.body = *callback->bodyTemplate();
            OrreryUtil::substituteParamsInString(&*request.body, macros, kMacroPattern);
        }
        requests.push_back(std::move(request));
    }
    auto makeRecord = [=] {
        auto record = NSObject::alloc<OrreryRelayTriggerInvokeInfo>()->init();
        record->setInvokeId(OrreryRelayTriggerInvokeInfo::newInvokeId(now));
        record->setTriggerType(triggerType);
        record->setSessionId(sessionId);
        record->setSessionOffset(offset);
        record->setIncludesEventTrigger(true);
        record->setEventOccuranceId(triggerType == OrreryRelayTriggerTypeEvent
                                        ? params[OrreryRelayHooks::kEventLogIdKey].integerValue()
                                        : 1);
        record->setEventName(name);
        return record;
    };
    Weak<OrreryRelayEventController> weak = self<OrreryRelayEventController>();

    persistence()->processWriteOperationForPersistentRelayPrepUrlMapWithBlock([=](ValueDictionary& prepMap) {
        // A session end's attempts replace those it prepared before.
        Value& list = preparedListIn(prepMap, formatLongLong(sessionId), name, isSessionEnd);

        // A session end reuses the session's record; the look-up and the
        // adding of a new record are one step, so two ends back to back
        // share one record.
        auto fill = [&](OrreryRelayTriggerInvokeInfo& trigger, bool reused) {
            const std::string invokeId = trigger.invokeId().value_or("");
            for (const auto& request : requests) {
                const int64_t callbackId = request.callback->callbackId();
                auto attempt = NSObject::alloc<OrreryRelayCallbackAttemptInfo>()->init();
                attempt->setInvokeId(invokeId);
                attempt->setCallbackId(callbackId);
                attempt->setAttemptNumber(0);
                attempt->setCbSessionId(sessionId);
                attempt->setCbSessionOffset(offset);
                attempt->setFinalAttempt(false);
                attempt->setSubstitutedUrl(request.url);
                attempt->setBody(request.body);
                attempt->setHeaders(request.callback->headers());
                attempt->setParams(params);
                attempt->setCreationTime(NSDate::date());
                attempt->setBeingFired(true);
                attempt->setRepeatDuration(kInitialRepeatDuration);
                attempt->setMethod(request.callback->method());
                list.append(Value(attempt));

                Ref<OrreryRelayCallbackReportInfo> report;
                if (reused)
                    for (const auto& callback : trigger.callbacks())
                        if (callback->callbackId() == callbackId) {
                            report = callback;
                            break;
                        }
                // A callback whose record went with its final report gets a
                // new one, so that this firing is reported too.
                if (!report) {
                    report = NSObject::alloc<OrreryRelayCallbackReportInfo>()->init();
                    report->setInvokeId(invokeId);
                    report->setCallbackId(callbackId);
                    trigger.addCallback(report);
                }
                report->setSubstitutedUrl(request.url);
                report->setAttempts({attempt->copy()});
            }
            // Nothing to fire: a new record would only wait for ever.
            return !requests.empty();
        };
        OrreryRelayCallbackReportManager::sharedInstance()->prepareFiringRecord(isSessionEnd, name, sessionId, makeRecord,
                                                                               fill);
        if (auto me = weak.lock()) me->fireAllConfigUrls();
    });
}

// --- firing ------------------------------------------------------------------------------------

void OrreryRelayEventController::fireAllConfigUrls() {
    if (OrreryApplicationState::sharedInstance()->isInBackground()) return;
    Weak<OrreryRelayEventController> weak = self<OrreryRelayEventController>();
    persistence()->processWriteOperationForPersistentRelayPrepUrlMapWithBlock([weak](ValueDictionary& prepMap) {
        if (auto me = weak.lock()) me->firePreparedAttempts(prepMap);
    });
}

void OrreryRelayEventController::firePreparedAttempts(ValueDictionary& prepMap) {
    const std::vector<Ref<OrreryRelayCallbackAttemptInfo>> attempts = preparedAttemptsIn(prepMap);
    if (!attempts.empty()) {
        // The attempts are saved in the URL map before they leave this map,
        // and their requests start only then: a kill at any point leaves every
        // attempt in one map at least, and none sent that no map names.
        Ref<OrreryRelaySettings> settings = storedSettings();
        std::vector<Ref<OrreryHttpAsyncTask>> tasks;
        persistence()->processWriteOperationForPersistentRelayUrlMapSyncWithBlock([&](ValueDictionary& urlMap) {
            for (const auto& attempt : attempts) {
                const std::string hash = invocationHash(*attempt);
                // The URL map's copy goes on from there.
                if (movedAlready(urlMap, hash, *attempt)) continue;
                if (auto task = fireAttemptInMap(urlMap, hash, attempt, maxRedirectsFor(settings, attempt->callbackId())))
                    tasks.push_back(task);
            }
        });
        for (const auto& task : tasks) task->start();
    }
    prepMap.clear();
}

void OrreryRelayEventController::writeUrlMapAndFire(
    std::function<void(ValueDictionary&, std::vector<Ref<OrreryHttpAsyncTask>>&)> block) {
    auto tasks = std::make_shared<std::vector<Ref<OrreryHttpAsyncTask>>>();
    // A request starts once the map saying its attempt is being fired is saved.
    persistence()->processWriteOperationForPersistentRelayUrlMapWithBlock(
        [tasks, block = std::move(block)](ValueDictionary& urlMap) { block(urlMap, *tasks); },
        [tasks] {
            for (const auto& task : *tasks) task->start();
        });
}

void OrreryRelayEventController::resumeAfterLaunch() {
    Weak<OrreryRelayEventController> weak = self<OrreryRelayEventController>();
    persistence()->processWriteOperationForPersistentRelayPrepUrlMapWithBlock([weak](ValueDictionary& prepMap) {
        auto me = weak.lock();
        if (!me) return;
        me->restoreLostAttempts(prepMap);
        if (!OrreryApplicationState::sharedInstance()->isInBackground()) me->firePreparedAttempts(prepMap);
    });
}

void OrreryRelayEventController::restoreLostAttempts(ValueDictionary& prepMap) {
    std::set<std::string> known;
    for (const auto& attempt : preparedAttemptsIn(prepMap)) known.insert(invocationHash(*attempt));
    persistence()->processReadOperationSync(OrreryPersistentMap::RelayUrls, [&](const ValueDictionary& urlMap) {
        for (const auto& [hash, value] : urlMap) known.insert(hash);
    });
    const double now = NSDate::date().timeIntervalSince1970();
    size_t restored = 0;
    for (const auto& [eventName, attempt] : OrreryRelayCallbackReportManager::sharedInstance()->attemptsWithoutOutcome()) {
        if (known.count(invocationHash(*attempt)) || !attempt->creationTime()) continue;
        // Past the expiry an attempt is no longer sent; its record goes by
        // itself. A negative age (the clock was set back since) counts as
        // due: the record, whose times are as far ahead, outlives its expiry.
        const double age = now - attempt->creationTime()->timeIntervalSince1970();
        if (age > kExpirationSeconds) continue;
        auto prepared = attempt->copy();
        prepared->setBeingFired(true);
        preparedListIn(prepMap, formatLongLong(attempt->cbSessionId()), eventName, false).append(Value(prepared));
        ++restored;
    }
    if (restored > 0)
        OrreryRelayLog::log("OrreryRelayEventController: %@ prepared callback(s) that an earlier process lost are fired again",
                            std::to_string(restored));
}

int OrreryRelayEventController::maxRedirectsFor(const Ref<OrreryRelaySettings>& settings, int64_t callbackId) {
    if (!settings) return 0;
    auto callback = settings->callbackWithId(callbackId);
    return callback ? callback->maxRedirects() : 0;
}

Ref<OrreryHttpAsyncTask> OrreryRelayEventController::fireAttemptInMap(ValueDictionary& urlMap, const std::string& hash,
                                                                      const Ref<OrreryRelayCallbackAttemptInfo>& attempt,
                                                                      int maxRedirects) {
    cancelTimer(hash);
    int32_t methodIndex = attempt->method();
    const char* method = methodIndex >= 0 && methodIndex <= 2 ? kMethodNames[methodIndex] : kMethodNames[0];
    Value headers = attempt->headers();
    if (!headers.isDictionary() || headers.count() == 0)
        headers = Value::dictionary({{"Content-Type", "application/octet-stream"}});

    attempt->setBeingFired(true);
    attempt->setAttemptNumber(attempt->attemptNumber() + 1);
    attempt->setExpiration(NSDate::dateWithTimeIntervalSince1970(NSDate::date().timeIntervalSince1970() + kExpirationSeconds));
    urlMap.set(hash, Value(attempt));

    const std::string text = attempt->substitutedUrl().value_or("");
    Ref<NSURL> url = NSURL::URLWithString(text);
    if (!url) {
        attempt->setSubstitutedUrl(OrreryUtil::encodeIllegalCharsToPercentEscapeString(text));
        url = NSURL::URLWithString(*attempt->substitutedUrl());
    }
    // Only web requests go out: a file or other URL would be read and its
    // contents reported. Such an attempt ends at once, failed and final.
    if (!OrreryNetworkUtil::isWebURL(url)) {
        OrreryRelayLog::log("OrreryRelayEventController: callback %@ has no http or https URL; it is not sent",
                            formatLongLong(attempt->callbackId()));
        attempt->setBeingFired(false);
        attempt->setFinalAttempt(true);
        attempt->setHttpStatus(0);
        attempt->setDuration(secondsSinceCreation(*attempt));
        attempt->setRequestState(OrreryRelayRequestStateFailed);
        attempt->setRedirectsCount(0);
        attempt->setResponseBody(std::nullopt);
        OrreryRelayCallbackReportManager::sharedInstance()->archiveAttempt(attempt->copy());
        urlMap.remove(hash);
        return nullptr;
    }
    std::optional<NSData> body;
    if (attempt->body()) body = NSData::dataWithString(*attempt->body());

    // Configured before it starts, so that no outcome can miss its attempt;
    // the caller starts it once the map is saved.
    auto task = OrreryHttpAsyncTask::sendMethod(method, url, body, headers, self<OrreryRelayEventController>(), false);
    task->setTaskParams(Value::dictionary({{kInvokeURLHashKey, hash}, {kBeingFiredKey, true}, {kMethodKey, method}}));
    task->setRedirectsLimit(maxRedirects);
    return task;
}

void OrreryRelayEventController::requestSuccessful(const Ref<OrreryHttpAsyncTask>& task,
                                                   const Ref<OrreryHTTPResponse>& response) {
    // A partner's error answer is a failure: recorded with its body and retried.
    if (!response || !response->isSuccess()) {
        handleFailure(task, response, OrreryRelayRequestStateFailed);
        return;
    }
    recordDelivery(task, response);
}

void OrreryRelayEventController::requestDidFail(const Ref<OrreryHttpAsyncTask>& task,
                                                const Ref<OrreryHTTPResponse>& response) {
    // The answer's head said the partner accepted the callback: what becomes
    // of the body after it (over the cap, cut off, past the time-out) changes
    // nothing, and a resend would reach the partner twice.
    if (task && task->failureIsDelivery(response, "OrreryRelayEventController")) {
        recordDelivery(task, response);
        return;
    }
    handleFailure(task, response, OrreryRelayRequestStateFailed);
}

void OrreryRelayEventController::recordDelivery(const Ref<OrreryHttpAsyncTask>& task,
                                                const Ref<OrreryHTTPResponse>& response) {
    const std::string hash = hashOf(task);
    const int status = response->statusCode();
    const int redirects = task->redirectsCount();
    persistence()->processWriteOperationForPersistentRelayUrlMapWithBlock([hash, status, redirects](ValueDictionary& urlMap) {
        auto attempt = attemptIn(urlMap, hash);
        if (!attempt) return;
        attempt->setBeingFired(false);
        attempt->setFinalAttempt(true);
        attempt->setHttpStatus(status);
        attempt->setDuration(secondsSinceCreation(*attempt));
        attempt->setRequestState(OrreryRelayRequestStateSucceeded);
        attempt->setRedirectsCount(redirects);
        attempt->setResponseBody(std::nullopt);
        OrreryRelayCallbackReportManager::sharedInstance()->archiveAttempt(attempt->copy());
        urlMap.remove(hash);
    });
}

void OrreryRelayEventController::requestDidCancel(const Ref<OrreryHttpAsyncTask>& task,
                                                  const Ref<OrreryHTTPResponse>& response) {
    handleFailure(task, response, OrreryRelayRequestStateCancelled);
}

void OrreryRelayEventController::handleFailure(const Ref<OrreryHttpAsyncTask>& task,
                                               const Ref<OrreryHTTPResponse>& response, int32_t state) {
    // Outcomes arrive on the main thread; the synchronous write (and its
    // flush to disk) runs on the controller's queue instead.
    auto me = self<OrreryRelayEventController>();
    dispatch_async(queue(), [me, task, response, state] { me->recordFailure(task, response, state); });
}

void OrreryRelayEventController::recordFailure(const Ref<OrreryHttpAsyncTask>& task,
                                               const Ref<OrreryHTTPResponse>& response, int32_t state) {
    const std::string hash = hashOf(task);
    Ref<OrreryRelaySettings> settings = storedSettings();
    const int64_t maxRetries = settings ? settings->maxCallbackRetries() : 0;
    const int redirects = task ? task->redirectsCount() : 0;
    Weak<OrreryRelayEventController> weak = self<OrreryRelayEventController>();
    // One exclusive write records the outcome and decides the retry; it is
    // saved with the writes around it rather than flushed on its own.
    persistence()->processWriteOperationForPersistentRelayUrlMapWithBlock([=](ValueDictionary& urlMap) {
        auto attempt = attemptIn(urlMap, hash);
        if (!attempt) return;
        attempt->setBeingFired(false);
        attempt->setHttpStatus(response ? response->statusCode() : 0);
        attempt->setDuration(secondsSinceCreation(*attempt));
        attempt->setRequestState(state);
        attempt->setRedirectsCount(redirects);
        // Kept only as far as a report can carry it: in memory, in the URL
        // map file and in the report archive alike.
        if (response) {
            const NSData& body = response->body();
            attempt->setResponseBody(body.length() > OrreryProtocolData::kMaxShortLength
                                         ? body.subdataWithRange(0, OrreryProtocolData::kMaxShortLength)
                                         : body);
        }
        if (attempt->attemptNumber() >= maxRetries) attempt->setFinalAttempt(true);
        OrreryRelayCallbackReportManager::sharedInstance()->archiveAttempt(attempt->copy());
        if (attempt->finalAttempt()) {
            urlMap.remove(hash);
            return;
        }
        if (auto me = weak.lock()) me->manageUrlStorageInMap(urlMap, hash);
    });
}

void OrreryRelayEventController::manageUrlStorage(const std::string& hash) {
    Weak<OrreryRelayEventController> weak = self<OrreryRelayEventController>();
    persistence()->processWriteOperationForPersistentRelayUrlMapWithBlock([weak, hash](ValueDictionary& urlMap) {
        if (auto me = weak.lock()) me->manageUrlStorageInMap(urlMap, hash);
    });
}

void OrreryRelayEventController::manageUrlStorageInMap(ValueDictionary& urlMap, const std::string& hash) {
    const int64_t now = toInt64(NSDate::date().timeIntervalSince1970());
    auto attempt = attemptIn(urlMap, hash);
    if (!attempt || attempt->beingFired()) return;
    int64_t expiration = attempt->expiration() ? toInt64(attempt->expiration()->timeIntervalSince1970()) : 0;
    if (now >= expiration || attempt->repeatDuration() < 1) {
        urlMap.remove(hash);
        return;
    }
    attempt->setRepeatDuration(tripledSaturated(attempt->repeatDuration()));
    if (!OrreryNetworkUtil::isNetworkReachable()) return;  // waits for a resend pass
    setTimerToFireUrl(hash, attempt->repeatDuration());
}

void OrreryRelayEventController::setTimerToFireUrl(const std::string& hash, int32_t seconds) {
    Weak<OrreryRelayEventController> weak = self<OrreryRelayEventController>();
    auto timer = NSTimer::timerWithTimeInterval(static_cast<double>(seconds), false, [weak, hash](Ref<NSTimer>) {
        if (auto me = weak.lock()) me->fireUrlOnTimer(hash);
    });
    auto pending = OrreryGlobalVariableStorage::sharedInstance()->pendingUrlTimers();
    // Registered and scheduled under the timers' lock, which going inactive
    // takes too: a timer is either dropped with the others or armed after.
    std::scoped_lock lock(timersMutex_);
    auto it = timers_.find(hash);
    if (it != timers_.end()) {
        it->second->invalidate();
        pending->removeTimer(it->second);
    }
    timers_[hash] = timer;
    pending->addTimer(timer);
    NSRunLoop::mainRunLoop()->addTimer(timer, NSDefaultRunLoopMode);
}

void OrreryRelayEventController::cancelTimer(const std::string& hash) {
    Ref<NSTimer> timer;
    {
        std::scoped_lock lock(timersMutex_);
        auto it = timers_.find(hash);
        if (it == timers_.end()) return;
        timer = it->second;
        timers_.erase(it);
    }
    timer->invalidate();
    OrreryGlobalVariableStorage::sharedInstance()->pendingUrlTimers()->removeTimer(timer);
}

size_t OrreryRelayEventController::armedTimerCount() const {
    std::scoped_lock lock(timersMutex_);
    size_t count = 0;
    for (const auto& [hash, timer] : timers_) count += timer->isValid() ? 1 : 0;
    return count;
}

void OrreryRelayEventController::fireUrlOnTimer(const std::string& hash) {
    cancelTimer(hash);
    Ref<OrreryRelaySettings> settings = storedSettings();
    Weak<OrreryRelayEventController> weak = self<OrreryRelayEventController>();
    writeUrlMapAndFire([weak, hash, settings](ValueDictionary& urlMap, std::vector<Ref<OrreryHttpAsyncTask>>& tasks) {
        auto me = weak.lock();
        auto attempt = attemptIn(urlMap, hash);
        // A resend pass may have fired it already, or it may be gone.
        if (!me || !attempt || attempt->beingFired()) return;
        // A delay longer than the expiry ends the attempt instead of sending it.
        const double now = NSDate::date().timeIntervalSince1970();
        if (!attempt->expiration() || attempt->expiration()->timeIntervalSince1970() <= now) {
            urlMap.remove(hash);
            return;
        }
        if (auto task = me->fireAttemptInMap(urlMap, hash, attempt, maxRedirectsFor(settings, attempt->callbackId())))
            tasks.push_back(task);
    });
}

void OrreryRelayEventController::firePendingUrlsOnNetworkAvailability() {
    if (!OrreryNetworkUtil::isNetworkReachable()) return;
    Weak<OrreryRelayEventController> weak = self<OrreryRelayEventController>();
    dispatch_async(queue(), [weak] {
        if (auto me = weak.lock()) me->firePendingUrls();
    });
}

bool OrreryRelayEventController::dropPreparedAttemptsMovedAlready() {
    // A map that cannot be read holds only what came since: the pass is done again once it can.
    bool read = persistence()->processReadOperationSync(OrreryPersistentMap::RelayPrepUrls, nullptr);
    persistence()->processWriteOperationSync(OrreryPersistentMap::RelayPrepUrls, [&read](ValueDictionary& prepMap) {
        if (prepMap.count() == 0) return;
        size_t dropped = 0;
        read &= persistence()->processReadOperationSync(OrreryPersistentMap::RelayUrls, [&](const ValueDictionary& urlMap) {
            for (const auto& sessionKey : prepMap.keys()) {
                auto* names = prepMap.find(sessionKey)->mutableDictionary();
                if (!names) continue;
                for (const auto& name : names->keys()) {
                    auto* list = names->find(name)->mutableArray();
                    if (!list) continue;
                    dropped += std::erase_if(*list, [&](const Value& item) {
                        auto attempt = item.object<OrreryRelayCallbackAttemptInfo>();
                        return attempt && movedAlready(urlMap, invocationHash(*attempt), *attempt);
                    });
                }
            }
        });
        if (dropped > 0)
            OrreryRelayLog::log("OrreryRelayEventController: %@ prepared callback(s) already in the sending map are left to it",
                                std::to_string(dropped));
    });
    return read;
}

void OrreryRelayEventController::firePendingUrls() {
    // A resend pass may deliver an attempt and drop it from the URL map
    // before the prep map's copy that a kill left is looked at, which would
    // then be sent again: such copies go first. Only the maps as stored can
    // hold one attempt twice, so once both have been read is enough.
    if (!movedAttemptsDropped_ && dropPreparedAttemptsMovedAlready()) movedAttemptsDropped_ = true;
    const int64_t now = toInt64(NSDate::date().timeIntervalSince1970());
    Ref<OrreryRelaySettings> settings = storedSettings();
    Weak<OrreryRelayEventController> weak = self<OrreryRelayEventController>();
    writeUrlMapAndFire([weak, now, settings](ValueDictionary& urlMap, std::vector<Ref<OrreryHttpAsyncTask>>& tasks) {
        auto me = weak.lock();
        if (!me) return;
        std::vector<std::pair<std::string, Ref<OrreryRelayCallbackAttemptInfo>>> toSend;
        std::vector<std::string> toRemove;
        for (const auto& [hash, value] : urlMap) {
            auto attempt = value.object<OrreryRelayCallbackAttemptInfo>();
            int64_t expiration = attempt && attempt->expiration() ? toInt64(attempt->expiration()->timeIntervalSince1970()) : 0;
            if (!attempt || expiration <= 0 || expiration <= now) toRemove.push_back(hash);
            else if (!attempt->beingFired()) toSend.emplace_back(hash, attempt);
        }
        // Selected and marked in this one write, so overlapping passes send each attempt once.
        for (const auto& [hash, attempt] : toSend)
            if (auto task = me->fireAttemptInMap(urlMap, hash, attempt, maxRedirectsFor(settings, attempt->callbackId())))
                tasks.push_back(task);
        for (const auto& hash : toRemove) {
            me->cancelTimer(hash);
            urlMap.remove(hash);
        }
    });
}
