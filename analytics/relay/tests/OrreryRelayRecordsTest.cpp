// The Relay configuration and report records: archiving (the stored settings
// and the report manager's archive survive a restart), the dictionary forms,
// the method table, trigger identity, copies and the reporting states.
#include <limits>

#include "analytics/relay/OrreryRelayAppTemplate.h"
#include "analytics/relay/OrreryRelayCallback.h"
#include "analytics/relay/OrreryRelayCallbackAttemptInfo.h"
#include "analytics/relay/OrreryRelayCallbackReportInfo.h"
#include "analytics/relay/OrreryRelayEventTrigger.h"
#include "analytics/relay/OrreryRelaySettings.h"
#include "analytics/relay/OrreryRelayTriggerInvokeInfo.h"
#include "analytics/relay/tests/RelayTestSupport.h"
#include "platform/foundation/NSKeyedArchiver.h"

namespace {

template <class T>
Ref<T> archivedAndBack(const Ref<T>& object) {
    NSData archive = NSKeyedArchiver::archivedDataWithRootObject(Value(object));
    return NSKeyedUnarchiver::unarchiveObjectWithData(archive).template object<T>();
}

Ref<OrreryRelayEventTrigger> trigger(std::string event, std::string param, std::vector<std::string> values) {
    auto t = OrreryRelayEventTrigger::alloc<OrreryRelayEventTrigger>()->init();
    t->setEventName(std::move(event));
    t->setEventParamName(std::move(param));
    t->setEventParamValues(std::move(values));
    return t;
}

Ref<OrreryRelayCallback> callback(int64_t id, int32_t method) {
    auto c = OrreryRelayCallback::alloc<OrreryRelayCallback>()->init();
    c->setPartner("partner" + std::to_string(id));
    c->setMethod(method);
    c->setCallbackId(id);
    c->setUriTemplate("https://partner.example/cb?e=%{event}");
    if (method == 2) c->setBodyTemplate("{\"id\":\"%{id}\"}");
    c->setHeaders(Value::dictionary({{"X-Partner", "yes"}}));
    c->setMaxRedirects(4);
    c->setConnectTimeout(11);
    c->setRequestTimeout(12);
    return c;
}

Ref<OrreryRelaySettings> fullSettings() {
    auto s = OrreryRelaySettings::alloc<OrreryRelaySettings>()->init();
    s->setLastResponseTime(1'450'000'000'000);
    s->setNextRefreshTTL(std::numeric_limits<int64_t>::max() - 1);
    s->setExpirationTTL((int64_t{1} << 40) + 7);
    s->setFetchTime((int64_t{1} << 40) + 5);
    OrreryRelaySettings::Callbacks callbacks;
    callbacks[(int64_t{1} << 33) + 1] = callback((int64_t{1} << 33) + 1, 2);
    callbacks[5] = callback(5, 0);
    s->setCallbacks(callbacks);
    OrreryRelayCallbackEventsMap map;
    map.appendCallbackId(Value("purchase"), 5);
    map.appendCallbackId(Value(trigger("level", "number", {"1", "2"})), (int64_t{1} << 33) + 1);
    map.appendCallbackId(Value("purchase"), (int64_t{1} << 33) + 1);
    s->setCallbackEventsMap(map);
    s->setMaxCallbackRetries(3);
    s->setMaxCallbackAttemptsPerReport(15);
    s->setMaxReportDelaySecs(600);
    s->setAgentReportUrl("https://relay.example/pcr.do");
    s->setGlobalSettings(Value::dictionary({{"logLevel", "WARN"}}));
    s->setAnalytics(Value::dictionary({{"analytics_enabled", true}, {"max_session_properties", 10}}));
    return s;
}

void expectSameCallback(const Ref<OrreryRelayCallback>& a, const Ref<OrreryRelayCallback>& b) {
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->partner(), b->partner());
    EXPECT_EQ(a->method(), b->method());
    EXPECT_EQ(a->callbackId(), b->callbackId());
    EXPECT_EQ(a->uriTemplate(), b->uriTemplate());
    EXPECT_EQ(a->bodyTemplate(), b->bodyTemplate());
    EXPECT_TRUE(a->headers().isEqual(b->headers()));
    EXPECT_EQ(a->maxRedirects(), b->maxRedirects());
    EXPECT_EQ(a->connectTimeout(), b->connectTimeout());
    EXPECT_EQ(a->requestTimeout(), b->requestTimeout());
}

void expectSameSettings(const Ref<OrreryRelaySettings>& a, const Ref<OrreryRelaySettings>& b) {
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->lastResponseTime(), b->lastResponseTime());
    EXPECT_EQ(a->nextRefreshTTL(), b->nextRefreshTTL());
    EXPECT_EQ(a->expirationTTL(), b->expirationTTL());
    EXPECT_EQ(a->fetchTime(), b->fetchTime());
    ASSERT_EQ(a->callbacks().has_value(), b->callbacks().has_value());
    if (a->callbacks()) {
        ASSERT_EQ(a->callbacks()->size(), b->callbacks()->size());
        for (const auto& [id, cb] : *a->callbacks()) expectSameCallback(cb, b->callbackWithId(id));
    }
    ASSERT_EQ(a->callbackEventsMap().has_value(), b->callbackEventsMap().has_value());
    if (a->callbackEventsMap()) {
        const auto& ea = a->callbackEventsMap()->entries();
        const auto& eb = b->callbackEventsMap()->entries();
        ASSERT_EQ(ea.size(), eb.size());
        for (size_t i = 0; i < ea.size(); ++i) {
            EXPECT_TRUE(ea[i].key.isEqual(eb[i].key)) << i;
            EXPECT_EQ(ea[i].callbackIds, eb[i].callbackIds) << i;
        }
    }
    EXPECT_EQ(a->maxCallbackRetries(), b->maxCallbackRetries());
    EXPECT_EQ(a->maxCallbackAttemptsPerReport(), b->maxCallbackAttemptsPerReport());
    EXPECT_EQ(a->maxReportDelaySecs(), b->maxReportDelaySecs());
    EXPECT_EQ(a->agentReportUrl(), b->agentReportUrl());
    EXPECT_TRUE(a->globalSettings().isEqual(b->globalSettings()));
    EXPECT_TRUE(a->analytics().isEqual(b->analytics()));
}

using OrreryRelayRecordsTest = RelayTest;

TEST_F(OrreryRelayRecordsTest, SettingsSurviveArchivingInFull) {
    auto settings = fullSettings();
    auto back = archivedAndBack(settings);
    expectSameSettings(settings, back);
    // The trigger key comes back as a trigger with its values.
    auto key = back->callbackEventsMap()->entries()[1].key.object<OrreryRelayEventTrigger>();
    ASSERT_TRUE(key);
    EXPECT_EQ(key->eventParamValues(), (std::vector<std::string>{"1", "2"}));

    // Unset collections stay unset.
    auto empty = archivedAndBack(OrreryRelaySettings::alloc<OrreryRelaySettings>()->init());
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->callbacks());
    EXPECT_FALSE(empty->callbackEventsMap());
    EXPECT_FALSE(empty->agentReportUrl());
    EXPECT_TRUE(empty->analytics().isNull());
}

TEST_F(OrreryRelayRecordsTest, SettingsDictionaryFormCarriesTheNamedKeysOnly) {
    auto settings = fullSettings();
    settings->setGlobalSettings(Value::dictionary({{"logLevel", "WARN"}, {"other", 1}}));
    settings->setAnalytics(Value::dictionary({{"analytics_enabled", false}, {"max_session_properties", 7}, {"x", 2}}));
    Value dictionary = settings->dataDictionary();
    EXPECT_EQ(dictionary["nextRefreshTTL"].integerValue(), std::numeric_limits<int64_t>::max() - 1);
    EXPECT_EQ(dictionary["globalSettings"].count(), 1u);
    EXPECT_EQ(dictionary["analytics"].count(), 2u);
    EXPECT_EQ(dictionary["callbacks"]["5"]["partner"].stringValue(), "partner5");
    EXPECT_EQ(dictionary["callbacks"]["8589934593"]["callbackId"].integerValue(), (int64_t{1} << 33) + 1);

    auto back = OrreryRelaySettings::alloc<OrreryRelaySettings>()->initWithDictionary(dictionary);
    settings->setGlobalSettings(Value::dictionary({{"logLevel", "WARN"}}));
    settings->setAnalytics(Value::dictionary({{"analytics_enabled", false}, {"max_session_properties", 7}}));
    expectSameSettings(settings, back);
}

TEST_F(OrreryRelayRecordsTest, MethodTableConvertsBothWays) {
    EXPECT_EQ(OrreryRelayCallback::relayMethodsArrayInstance(), (std::vector<std::string>{"GET", "PUT", "POST"}));
    EXPECT_EQ(&OrreryRelayCallback::relayMethodsArrayInstance(), &OrreryRelayCallback::relayMethodsArrayInstance());
    EXPECT_EQ(OrreryRelayCallback::relayMethodStringToEnum("POST"), 2);
    EXPECT_EQ(OrreryRelayCallback::relayMethodStringToEnum("PUT"), 1);
    EXPECT_EQ(OrreryRelayCallback::relayMethodStringToEnum("DELETE"), 0);
    EXPECT_EQ(OrreryRelayCallback::relayMethodStringToEnum("post"), 0);
    EXPECT_EQ(OrreryRelayCallback::relayMethodStringToEnum(std::nullopt), 0);
    EXPECT_EQ(OrreryRelayCallback::relayMethodEnumToString(1), "PUT");
    EXPECT_EQ(OrreryRelayCallback::relayMethodEnumToString(7), "GET");
    EXPECT_EQ(OrreryRelayCallback::relayMethodEnumToString(-1), "GET");
    EXPECT_EQ(OrreryRelayAppTemplate::relayMethodStringToEnum("POST"), 2);
    EXPECT_EQ(OrreryRelayAppTemplate::relayMethodEnumToString(2), "POST");
}

TEST_F(OrreryRelayRecordsTest, TriggersAreTheSameKeyWhateverTheirValues) {
    auto a = trigger("level", "number", {"1"});
    auto b = trigger("level", "number", {"2", "3"});
    auto c = trigger("level", "name", {"1"});
    EXPECT_TRUE(a->isEqual(*b));
    EXPECT_EQ(a->hash(), b->hash());
    EXPECT_FALSE(a->isEqual(*c));
    EXPECT_FALSE(a->isEqual(*callback(1, 0)));
    // As map keys: a second trigger with other values joins the first one's
    // entry; an event name of the same text is another key.
    OrreryRelayCallbackEventsMap map;
    map.appendCallbackId(Value(a), 1);
    map.appendCallbackId(Value(b), 2);
    map.appendCallbackId(Value("level"), 3);
    ASSERT_EQ(map.count(), 2u);
    EXPECT_EQ(map.callbackIdsForKey(Value(c)), nullptr);
    EXPECT_EQ(*map.callbackIdsForKey(Value(trigger("level", "number", {}))), (std::vector<int64_t>{1, 2}));
    EXPECT_EQ(*map.callbackIdsForKey(Value("level")), (std::vector<int64_t>{3}));

    auto copy = b->copy();
    EXPECT_NE(copy.get(), b.get());
    EXPECT_EQ(copy->eventParamValues(), b->eventParamValues());
    auto archived = archivedAndBack(b);
    ASSERT_TRUE(archived);
    EXPECT_EQ(archived->eventName(), "level");
    EXPECT_EQ(archived->eventParamValues(), (std::vector<std::string>{"2", "3"}));
    auto fromDictionary = OrreryRelayEventTrigger::alloc<OrreryRelayEventTrigger>()->initWithDictionary(b->dataDictionary());
    EXPECT_TRUE(fromDictionary->isEqual(*b));
    EXPECT_EQ(fromDictionary->eventParamValues(), b->eventParamValues());
}

Ref<OrreryRelayCallbackAttemptInfo> attempt(int64_t number, int32_t logState, bool beingFired = false) {
    auto a = OrreryRelayCallbackAttemptInfo::alloc<OrreryRelayCallbackAttemptInfo>()->init();
    a->setInvokeId("1450000000.250000");
    a->setCallbackId(5);
    a->setAttemptNumber(number);
    a->setLogSendState(logState);
    a->setBeingFired(beingFired);
    return a;
}

TEST_F(OrreryRelayRecordsTest, AttemptsComeBackFromTheArchiveNotBeingFired) {
    auto a = attempt(2, OrreryRelayLogSendStateInReport, true);
    a->setCbSessionId(1'450'000'000'000);
    a->setCbSessionOffset(-3);
    a->setFinalAttempt(true);
    a->setHttpStatus(503);
    a->setRequestState(OrreryRelayRequestStateFailed);
    a->setResponseBody(NSData::dataWithString("busy"));
    a->setRedirectsCount(2);
    a->setDuration(2.75);
    a->setSubstitutedUrl("https://partner.example/cb?e=1");
    a->setBody("{}");
    a->setHeaders(Value::dictionary({{"A", "b"}}));
    a->setEventOccuranceId(70000);
    a->setParams(Value::dictionary({{"eventLogId", 9}}));
    a->setCreationTime(NSDate::dateWithTimeIntervalSince1970(1'450'000'000.5));
    a->setRepeatDuration(90);
    a->setMethod(2);
    a->setExpiration(NSDate::dateWithTimeIntervalSince1970(1'450'259'200.5));

    for (const auto& b : {archivedAndBack(a), a->copy()}) {
        ASSERT_TRUE(b);
        EXPECT_EQ(b->invokeId(), a->invokeId());
        EXPECT_EQ(b->attemptNumber(), 2);
        EXPECT_EQ(b->cbSessionId(), 1'450'000'000'000);
        EXPECT_EQ(b->cbSessionOffset(), -3);
        EXPECT_TRUE(b->finalAttempt());
        EXPECT_EQ(b->httpStatus(), 503);
        EXPECT_EQ(b->requestState(), OrreryRelayRequestStateFailed);
        EXPECT_EQ(b->responseBody(), NSData::dataWithString("busy"));
        EXPECT_EQ(b->redirectsCount(), 2);
        EXPECT_EQ(b->duration(), 2.75);
        EXPECT_EQ(b->logSendState(), OrreryRelayLogSendStateInReport);
        EXPECT_EQ(b->substitutedUrl(), a->substitutedUrl());
        EXPECT_EQ(b->body(), "{}");
        EXPECT_TRUE(b->headers().isEqual(a->headers()));
        EXPECT_EQ(b->eventOccuranceId(), 70000);
        EXPECT_TRUE(b->params().isEqual(a->params()));
        EXPECT_EQ(b->creationTime(), a->creationTime());
        EXPECT_EQ(b->repeatDuration(), 90);
        EXPECT_EQ(b->method(), 2);
        EXPECT_EQ(b->expiration(), a->expiration());
    }
    EXPECT_FALSE(archivedAndBack(a)->beingFired());
    EXPECT_TRUE(a->copy()->beingFired());
}

TEST_F(OrreryRelayRecordsTest, ReportStatesMoveFromReportedToSentToRemoved) {
    auto record = OrreryRelayCallbackReportInfo::alloc<OrreryRelayCallbackReportInfo>()->init();
    EXPECT_FALSE(record->finalAttemptMade());
    EXPECT_FALSE(record->data());
    record->addAttempt(attempt(0, OrreryRelayLogSendStateNotReported));
    record->addAttempt(attempt(1, OrreryRelayLogSendStateNotReported));
    // Nothing reported yet: nothing to remove.
    EXPECT_EQ(record->removeSentAttempts(), 2u);
    record->addAttempt(attempt(2, OrreryRelayLogSendStateInReport));
    record->setAttemptsSent();
    auto attempts = record->attempts();
    EXPECT_EQ(attempts[0]->logSendState(), OrreryRelayLogSendStateNotReported);
    EXPECT_EQ(attempts[2]->logSendState(), OrreryRelayLogSendStateSent);
    EXPECT_EQ(record->removeSentAttempts(), 2u);
    EXPECT_FALSE(record->finalAttemptMade());
    attempts[1]->setFinalAttempt(true);
    EXPECT_TRUE(record->finalAttemptMade());

    auto copy = record->copy();
    copy->addAttempt(attempt(3, 0));
    EXPECT_EQ(record->attemptCount(), 2u);
    EXPECT_EQ(copy->attempts()[0].get(), attempts[0].get());
}

TEST_F(OrreryRelayRecordsTest, FiringRecordsDropCallbacksWithNothingLeft) {
    auto firing = OrreryRelayTriggerInvokeInfo::alloc<OrreryRelayTriggerInvokeInfo>()->init();
    EXPECT_TRUE(firing->includesEventTrigger());
    auto done = OrreryRelayCallbackReportInfo::alloc<OrreryRelayCallbackReportInfo>()->init();
    done->addAttempt(attempt(0, OrreryRelayLogSendStateInReport));
    auto pending = OrreryRelayCallbackReportInfo::alloc<OrreryRelayCallbackReportInfo>()->init();
    pending->addAttempt(attempt(0, OrreryRelayLogSendStateInReport));
    pending->addAttempt(attempt(1, OrreryRelayLogSendStateNotReported, true));
    auto empty = OrreryRelayCallbackReportInfo::alloc<OrreryRelayCallbackReportInfo>()->init();
    firing->setCallbacks({done, pending, empty});

    firing->setCBAttemptsSent();
    EXPECT_EQ(firing->removeSentCBAttempts(), 1u);
    ASSERT_EQ(firing->callbacks().size(), 1u);
    EXPECT_EQ(firing->callbacks()[0].get(), pending.get());

    pending->setAttempts({});
    firing->addCallback(done);
    done->addAttempt(attempt(4, 0));
    firing->removeCompletedCallbacks();
    ASSERT_EQ(firing->callbacks().size(), 1u);
    EXPECT_EQ(firing->callbacks()[0].get(), done.get());
}

TEST_F(OrreryRelayRecordsTest, FiringRecordsCopyAndArchiveEveryField) {
    auto firing = OrreryRelayTriggerInvokeInfo::alloc<OrreryRelayTriggerInvokeInfo>()->init();
    firing->setInvokeId("1450000000.250000");
    firing->setTriggerType(OrreryRelayTriggerTypeEvent);
    firing->setSessionId(1'450'000'000'000);
    firing->setSessionOffset((int64_t{1} << 35) + 3);
    firing->setEventOccuranceId(70000);
    firing->setEventName("purchase");
    auto record = OrreryRelayCallbackReportInfo::alloc<OrreryRelayCallbackReportInfo>()->init();
    record->setInvokeId("1450000000.250000");
    record->setCallbackId(5);
    record->setSubstitutedUrl("https://partner.example/cb");
    record->addAttempt(attempt(0, 0, true));
    firing->addCallback(record);

    auto copy = firing->copy();
    copy->addCallback(record);
    EXPECT_EQ(firing->callbacks().size(), 1u);
    EXPECT_EQ(copy->callbacks()[0].get(), record.get());

    auto fromDictionary = OrreryRelayTriggerInvokeInfo::alloc<OrreryRelayTriggerInvokeInfo>()->initWithDictionary(
        firing->dataDictionary());
    for (const auto& b : {archivedAndBack(firing), copy, fromDictionary}) {
        ASSERT_TRUE(b);
        EXPECT_EQ(b->invokeId(), "1450000000.250000");
        EXPECT_EQ(b->triggerType(), OrreryRelayTriggerTypeEvent);
        EXPECT_EQ(b->sessionId(), 1'450'000'000'000);
        EXPECT_EQ(b->sessionOffset(), (int64_t{1} << 35) + 3);
        EXPECT_TRUE(b->includesEventTrigger());
        EXPECT_EQ(b->eventOccuranceId(), 70000);
        EXPECT_EQ(b->eventName(), "purchase");
        ASSERT_FALSE(b->callbacks().empty());
    }
    auto archived = archivedAndBack(firing);
    auto restored = archived->callbacks()[0];
    EXPECT_EQ(restored->callbackId(), 5);
    EXPECT_EQ(restored->substitutedUrl(), "https://partner.example/cb");
    ASSERT_EQ(restored->attemptCount(), 1u);
    // Restored attempts are no longer being fired, so they are reported now.
    EXPECT_FALSE(restored->attempts()[0]->beingFired());
    EXPECT_TRUE(archived->data());
}

TEST_F(OrreryRelayRecordsTest, AppTemplatesArchive) {
    auto t = OrreryRelayAppTemplate::alloc<OrreryRelayAppTemplate>()->init();
    t->setPartner("old");
    t->setEvents(Value::array({"a", "b"}));
    t->setMethod(1);
    t->setUriTemplate("https://old.example");
    t->setBodyTemplate("x");
    t->setMaxRedirects(1);
    t->setConnectTimeout(2);
    t->setRequestTimeout(3);
    auto b = archivedAndBack(t);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->partner(), "old");
    EXPECT_TRUE(b->events().isEqual(Value::array({"a", "b"})));
    EXPECT_EQ(b->method(), 1);
    EXPECT_EQ(b->uriTemplate(), "https://old.example");
    EXPECT_EQ(b->bodyTemplate(), "x");
    EXPECT_EQ(b->maxRedirects(), 1);
    EXPECT_EQ(b->connectTimeout(), 2);
    EXPECT_EQ(b->requestTimeout(), 3);
}

}  // namespace
