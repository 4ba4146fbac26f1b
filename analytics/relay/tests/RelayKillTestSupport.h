// What the Relay kill tests' processes share: a launch of the client's Relay
// part on a home folder kept from process to process, and the configuration
// they store (one partner callback on the named events, its URL naming the
// event as "e=<name>").
#pragma once

#include <string>
#include <vector>

#include "analytics/OrreryClasses.h"
#include "analytics/OrreryGlobalPersistentManager.h"
#include "analytics/OrreryGlobalVariableStorage.h"
#include "analytics/OrreryUtil.h"
#include "analytics/relay/OrreryRelayCBReportSender.h"
#include "analytics/relay/OrreryRelayClasses.h"
#include "analytics/relay/OrreryRelayEventController.h"
#include "analytics/relay/OrreryRelaySettings.h"
#include "platform/foundation/Platform.h"

// One process's start: the platform on `home` with the given clock, the
// client's classes and Relay monitoring on.
inline void launchRelayProcess(const std::string& home, PlatformOptions::ClockKind clock, const std::string& apiKey) {
    PlatformOptions options;
    options.homeDirectory = home;
    options.clock = clock;
    options.flushWritesToDisk = false;  // a kill, not a power cut: the rename is enough
    Platform::initialize(options);
    registerOrreryClasses();
    registerOrreryRelayClasses();
    auto storage = OrreryGlobalVariableStorage::sharedInstance();
    storage->setApiKey(apiKey);
    storage->setAppVersion("2.5");
    storage->setRelayMonitoringEnabled(true);
    storage->setLastAdTrackingEnabledSetting(OrreryUtil::isAdTrackingEnabled());
}

// Relay hooked in and started as the analytics start does it: the report
// sender set up, what an earlier process left prepared fired.
inline void startRelay() {
    OrreryRelayEventController::installHooks();
    OrreryRelayHooks::hooks()->analyticsDidStartWithSessionQueue(dispatch_queue_create("test.session", nullptr));
}

// Stores callback 1 ("<partnerUrl>?e=%{event_name}") on each event, three
// attempts at most, a report once `attemptsPerReport` outcomes are in.
inline void storeRelayKillTestSettings(const std::string& partnerUrl, const std::string& reportUrl,
                                       const std::vector<std::string>& events, int attemptsPerReport) {
    auto callback = NSObject::alloc<OrreryRelayCallback>()->init();
    callback->setCallbackId(1);
    callback->setPartner("partner");
    callback->setUriTemplate(partnerUrl + "?e=%{event_name}");
    auto settings = NSObject::alloc<OrreryRelaySettings>()->init();
    settings->setCallbacks(OrreryRelaySettings::Callbacks{{1, callback}});
    OrreryRelayCallbackEventsMap eventsMap;
    for (const auto& event : events) eventsMap.appendCallbackId(Value(event), 1);
    settings->setCallbackEventsMap(eventsMap);
    settings->setMaxCallbackRetries(3);
    settings->setMaxCallbackAttemptsPerReport(attemptsPerReport);
    settings->setMaxReportDelaySecs(100000);
    settings->setAgentReportUrl(reportUrl);
    settings->setNextRefreshTTL(4102444800000);  // 2100
    settings->setExpirationTTL(4102444800000);
    settings->setAnalytics(Value::dictionary({{OrreryRelaySettings::kAnalyticsEnabledKey, true}}));
    OrreryGlobalPersistentManager::sharedInstance()->processWriteOperationSync(
        OrreryPersistentMap::Globals,
        [&](ValueDictionary& globals) { globals.set(OrreryRelaySettings::kStorageKey, Value(settings)); });
}
