// The fixture of the event controller, report manager and sender tests: a
// stored configuration built in place, a scripted partner and the Relay
// report endpoint on loopback, the Relay singletons set up and torn down,
// and the firing record a kill leaves.
#pragma once

#include <string>
#include <vector>

#include "analytics/OrreryGlobalPersistentManager.h"
#include "analytics/OrreryGlobalVariableStorage.h"
#include "analytics/OrreryUtil.h"
#include "analytics/relay/OrreryRelayCBReportSender.h"
#include "analytics/relay/OrreryRelayCallbackReportManager.h"
#include "analytics/relay/OrreryRelayEventController.h"
#include "analytics/relay/tests/RelayTestSupport.h"
#include "simulator/PartnerService.h"
#include "simulator/RelayService.h"

class RelayControllerTest : public RelayTest {
protected:
    // Session start of every trigger: 1 450 000 000 s.
    static constexpr double kSessionStart = 1450000000.0;

    void SetUp() override {
        RelayTest::SetUp();
        ASSERT_TRUE(partner.start());
        ASSERT_TRUE(relay.start());
        auto storage = OrreryGlobalVariableStorage::sharedInstance();
        storage->setRelayMonitoringEnabled(true);
        storage->setLastAdTrackingEnabledSetting(OrreryUtil::isAdTrackingEnabled());
        sessionQueue = dispatch_queue_create("test.session", nullptr);
        OrreryRelayCBReportSender::setupInstanceWithQueue(sessionQueue);
        controller = OrreryRelayEventController::sharedInstance();
        // The report manager loads its archive off the main thread, as in the client.
        dispatch_sync(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0),
                      [] { OrreryRelayCallbackReportManager::sharedInstance(); });
    }
    void TearDown() override {
        driver().settle();
        controller = nullptr;
        OrreryRelayEventController::cleanup();
        OrreryRelayCallbackReportManager::cleanup();
        OrreryRelayCBReportSender::cleanup();
        OrreryGlobalPersistentManager::sharedInstance()->waitForPendingWrites();
        partner.stop();
        relay.stop();
        RelayTest::TearDown();
    }

    Ref<OrreryRelayCallback> callback(int64_t id, const std::string& uriTemplate, int method = 0,
                                      std::optional<std::string> body = std::nullopt, Value headers = Value()) {
        auto cb = NSObject::alloc<OrreryRelayCallback>()->init();
        cb->setCallbackId(id);
        cb->setPartner("partner");
        cb->setUriTemplate(uriTemplate);
        cb->setMethod(method);
        cb->setBodyTemplate(std::move(body));
        cb->setHeaders(std::move(headers));
        cb->setMaxRedirects(2);
        return cb;
    }
    static Value triggerKey(const std::string& event, std::optional<std::string> param,
                            std::optional<std::vector<std::string>> values) {
        auto trigger = NSObject::alloc<OrreryRelayEventTrigger>()->init();
        trigger->setEventName(event);
        trigger->setEventParamName(std::move(param));
        trigger->setEventParamValues(std::move(values));
        return Value(trigger);
    }
    // Settings with the callbacks, the map entries (key, ids) in order.
    Ref<OrreryRelaySettings> makeSettings(const std::vector<Ref<OrreryRelayCallback>>& callbacks,
                                          const std::vector<std::pair<Value, std::vector<int64_t>>>& events,
                                          int maxRetries = 3, int attemptsPerReport = 1000, int reportDelay = 100000) {
        auto settings = NSObject::alloc<OrreryRelaySettings>()->init();
        OrreryRelaySettings::Callbacks map;
        for (const auto& cb : callbacks) map[cb->callbackId()] = cb;
        settings->setCallbacks(map);
        OrreryRelayCallbackEventsMap eventsMap;
        for (const auto& [key, ids] : events)
            for (int64_t id : ids) eventsMap.appendCallbackId(key, id);
        settings->setCallbackEventsMap(eventsMap);
        settings->setMaxCallbackRetries(maxRetries);
        settings->setMaxCallbackAttemptsPerReport(attemptsPerReport);
        settings->setMaxReportDelaySecs(reportDelay);
        settings->setAgentReportUrl(relay.reportUrl());
        int64_t future = 4102444800000;  // 2100
        settings->setNextRefreshTTL(future);
        settings->setExpirationTTL(future);
        settings->setAnalytics(Value::dictionary({{OrreryRelaySettings::kAnalyticsEnabledKey, true}}));
        return settings;
    }
    static void store(const Ref<OrreryRelaySettings>& settings) {
        OrreryGlobalPersistentManager::sharedInstance()->processWriteOperationSync(
            OrreryPersistentMap::Globals,
            [&](ValueDictionary& globals) { globals.set(OrreryRelaySettings::kStorageKey, Value(settings)); });
    }
    static Value eventParams(int64_t eventLogId, Value extra = Value::dictionary({})) {
        Value params = extra;
        params.set("sessionStartTimeForRelay", NSDate::dateWithTimeIntervalSince1970(kSessionStart));
        params.set("sessionEndTimeForRelay", NSDate::dateWithTimeIntervalSince1970(kSessionStart));
        params.set("eventLogId", eventLogId);
        return params;
    }
    static size_t urlMapCount() {
        size_t count = 0;
        OrreryGlobalPersistentManager::sharedInstance()->processReadOperationSync(
            OrreryPersistentMap::RelayUrls, [&](const ValueDictionary& map) { count = map.count(); });
        return count;
    }
    // All attempts the report manager holds, in order.
    static std::vector<Ref<OrreryRelayCallbackAttemptInfo>> reportedAttempts() {
        auto manager = OrreryRelayCallbackReportManager::sharedInstance();
        manager->waitForArchiving();
        std::vector<Ref<OrreryRelayCallbackAttemptInfo>> all;
        for (const auto& trigger : manager->triggers())
            for (const auto& cb : trigger->callbacks())
                for (const auto& attempt : cb->attempts()) all.push_back(attempt);
        return all;
    }
    // A firing of callback 1 on "Level" to "/cb?e=<invokeId>" as a kill
    // leaves it: its record saved, its attempt being fired and in no map.
    Ref<OrreryRelayCallbackAttemptInfo> leaveFiringRecord(const std::string& invokeId, double createdAt) {
        auto attempt = NSObject::alloc<OrreryRelayCallbackAttemptInfo>()->init();
        attempt->setInvokeId(invokeId);
        attempt->setCallbackId(1);
        attempt->setCbSessionId(1450000000000);
        attempt->setSubstitutedUrl(partner.url("/cb?e=" + invokeId));
        attempt->setCreationTime(NSDate::dateWithTimeIntervalSince1970(createdAt));
        attempt->setBeingFired(true);
        attempt->setRepeatDuration(OrreryRelayEventController::kInitialRepeatDuration);
        auto callbackRecord = NSObject::alloc<OrreryRelayCallbackReportInfo>()->init();
        callbackRecord->setInvokeId(invokeId);
        callbackRecord->setCallbackId(1);
        callbackRecord->setAttempts({attempt->copy()});
        auto trigger = NSObject::alloc<OrreryRelayTriggerInvokeInfo>()->init();
        trigger->setInvokeId(invokeId);
        trigger->setSessionId(1450000000000);
        trigger->setEventName(std::string("Level"));
        trigger->addCallback(callbackRecord);
        auto manager = OrreryRelayCallbackReportManager::sharedInstance();
        dispatch_sync(manager->queue(), [&] { manager->addToSavedTriggers(trigger); });
        return attempt;
    }
    // A hang guard long enough for a huge configuration's work, which a busy
    // machine stretches many times over.
    void settle() { ASSERT_TRUE(driver().settle(30)); }

    simulator::PartnerService partner;
    simulator::RelayService relay;
    dispatch_queue_t sessionQueue;
    Ref<OrreryRelayEventController> controller;
};
