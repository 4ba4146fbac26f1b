// The report manager and the report sender end to end: the report a Relay
// endpoint receives checked field by field and its trigger block byte for
// byte, outcomes of answers whose body fails (a partner's, and the
// endpoint's to a report), records forgotten only once reported, opt-out,
// retransmission of blocks after a failed post, batching, damaged blocks
// never sent, blocks the endpoint took or the discard dropped never sent
// again however the index is lost, blocks earlier versions stored, blocks a
// lost index no longer named, the archive across a restart (written no
// later than the URL map that says an attempt ended), and hand-overs on a
// full disk.
#include <future>
#include <set>

#include "analytics/relay/tests/RelayReportSenderTestSupport.h"
#include "platform/foundation/FileSystemConditions.h"
#include "platform/foundation/LastingConditions.h"

namespace {

using simulator::Answer;

using OrreryRelayReportingTest = RelayReportSenderTest;

TEST_F(OrreryRelayReportingTest, ReportCarriesEveryOutcomeAndIsPostedOnceThresholdIsReached) {
    store(makeSettings({callback(11, partner.url("/cb"))}, {{Value("Level"), {11}}}, 2, 2));
    partner.script("/cb", {Answer::withStatus(500, "bad"), Answer::ok()});
    controller->processEventWithParams("Level", eventParams(70000));
    settle();
    driver().advance(90);
    settle();

    auto reports = relay.reports();
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_TRUE(reports[0].report) << reports[0].error;
    const auto& report = *reports[0].report;
    EXPECT_EQ(reports[0].request.header("content-type"), "application/octet-stream");
    EXPECT_TRUE(report.checksumMatches);
    EXPECT_EQ(report.apiKey, kApiKey);
    EXPECT_EQ(report.appVersion, kAppVersion);
    EXPECT_EQ(report.agentVersion, 187);
    ASSERT_EQ(report.triggers.size(), 1u);
    const auto& trigger = report.triggers[0];
    EXPECT_EQ(trigger.triggerType, 4);
    EXPECT_EQ(trigger.sessionId, 1450000000000);
    EXPECT_EQ(trigger.eventOccurrenceId, 70000 & 0xFFFF);
    EXPECT_EQ(trigger.eventName, "Level");
    ASSERT_EQ(trigger.callbacks.size(), 1u);
    ASSERT_EQ(trigger.callbacks[0].attempts.size(), 2u);

    // The trigger block byte for byte, written independently.
    const auto& a = trigger.callbacks[0].attempts;
    Bytes expected;
    expected.u16(4).u64(1450000000000).u64(trigger.sessionOffset).u8(1).u16(70000 & 0xFFFF).str("Level").u16(1);
    expected.u64(11).str(partner.url("/cb")).u16(2);
    expected.u16(1).u64(1450000000000).u64(a[0].sessionOffset).u8(0).u16(500).u16(4).str("bad").u16(0).u32(a[0].duration);
    expected.u16(2).u64(1450000000000).u64(a[1].sessionOffset).u8(1).u16(200).u16(1).u16(0).u32(a[1].duration);
    const std::string& body = reports[0].request.body;
    EXPECT_NE(body.find(expected.string()), std::string::npos) << hexOf(body);
    EXPECT_EQ(body.size() - 4 - body.find(expected.string()), expected.string().size());
    EXPECT_EQ(a[1].duration, 90);

    // Final attempt reported: the record is gone, from memory and from the archive; the block too.
    auto manager = OrreryRelayCallbackReportManager::sharedInstance();
    EXPECT_TRUE(manager->triggers().empty());
    EXPECT_TRUE(manager->savedTriggers().empty());
    EXPECT_EQ(manager->totalAttemptCount(), 0u);
    EXPECT_EQ(storedBlocks(), 0u);
}

TEST_F(OrreryRelayReportingTest, AttemptsInFlightDoNotCountTowardsTheNextReport) {
    // Three of six callbacks are answered at once, three are held.
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}, 3, 3));
    partner.script("/cb", {Answer::ok(), Answer::ok(), Answer::ok(), Answer::stall(Answer::ok())});
    for (int i = 1; i <= 6; ++i) controller->processEventWithParams("Level", eventParams(i));
    ASSERT_TRUE(driver().runUntil([&] { return partner.server().stalledCount() == 3; }, 10));
    ASSERT_TRUE(driver().runUntil([&] { return relay.reports().size() == 1; }, 10));
    partner.server().releaseStalled();
    settle();
    OrreryRelayCallbackReportManager::sharedInstance()->waitForArchiving();
    settle();
    // Two reports of three attempts each, not one for every later outcome.
    auto reports = relay.reports();
    ASSERT_EQ(reports.size(), 2u);
    for (const auto& received : reports) {
        ASSERT_TRUE(received.report);
        EXPECT_EQ(received.report->triggers.size(), 3u);
    }
}

TEST_F(OrreryRelayReportingTest, APartnersErrorBodyIsKeptOnlyAsFarAsAReportCarriesIt) {
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}, 3, 1));
    const std::string body(200000, 'e');
    partner.script("/cb", {Answer::withStatus(500, body)});
    controller->processEventWithParams("Level", eventParams(1));
    auto report = soleReport();

    // Waiting for its retry in the URL map, and reported: 65 535 bytes each.
    std::vector<size_t> kept;
    OrreryGlobalPersistentManager::sharedInstance()->processReadOperationSync(
        OrreryPersistentMap::RelayUrls, [&](const ValueDictionary& map) {
            for (const auto& [hash, value] : map)
                if (auto attempt = value.object<OrreryRelayCallbackAttemptInfo>())
                    kept.push_back(attempt->responseBody().value_or(NSData()).length());
        });
    EXPECT_EQ(kept, std::vector<size_t>{65535});
    ASSERT_TRUE(report);
    const auto& attempt = report->triggers.at(0).callbacks.at(0).attempts.at(0);
    EXPECT_EQ(attempt.responseBody, body.substr(0, 65535));
}

TEST_F(OrreryRelayReportingTest, APartnersErrorAnswerOverTheBodyCapIsReportedWithItsStatus) {
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}, 3, 1));
    partner.script("/cb", {Answer::withStatus(503, std::string(OrreryHttpAsyncTask::kMaximumResponseLength + 1, 'e'))});
    expectLogLine("is larger than 1048576 bytes; the request fails");
    controller->processEventWithParams("Level", eventParams(1));
    auto report = soleReport();
    ASSERT_TRUE(report);
    const auto& attempt = report->triggers.at(0).callbacks.at(0).attempts.at(0);
    EXPECT_EQ(attempt.httpStatus, 503);
    EXPECT_EQ(attempt.requestState, OrreryRelayRequestStateFailed);
    EXPECT_EQ(attempt.responseBody, std::string());
}

TEST_F(OrreryRelayReportingTest, AnAcceptingAnswerWhoseBodyFailsIsADelivery) {
    // Over the cap (announced, or growing past it) and cut off after the head.
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}, 3, 3));
    const std::string big(OrreryHttpAsyncTask::kMaximumResponseLength + 1, 'o');
    partner.script("/cb", {Answer::ok(big), Answer::ok(big).unframed(), Answer::truncated("accepted", 3)});
    expectLogLine("is larger than 1048576 bytes; the request fails");
    for (int i = 1; i <= 3; ++i) controller->processEventWithParams("Level", eventParams(i));
    auto report = soleReport();
    ASSERT_TRUE(report);
    ASSERT_EQ(report->triggers.size(), 3u);
    for (const auto& trigger : report->triggers) {
        const auto& attempts = trigger.callbacks.at(0).attempts;
        ASSERT_EQ(attempts.size(), 1u);
        EXPECT_EQ(attempts[0].requestState, OrreryRelayRequestStateSucceeded);
        EXPECT_EQ(attempts[0].httpStatus, 200);
        EXPECT_TRUE(attempts[0].finalAttempt);
        EXPECT_EQ(attempts[0].responseBody, std::nullopt);
    }
    // Nothing waits to be sent again.
    EXPECT_EQ(urlMapCount(), 0u);
    driver().advance(OrreryRelayEventController::kExpirationSeconds);
    settle();
    EXPECT_EQ(partner.callbacks("/cb").size(), 3u);
}

TEST_F(OrreryRelayReportingTest, AnAcceptingAnswerThatDripsPastTheTimeOutIsADelivery) {
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}, 3, 1));
    partner.script("/cb", {Answer::slowBody(std::string(600, 'o'), 1, 0.05)});
    // The controller's tasks give a partner 90 s in all: one of theirs for an
    // attempt being fired, given a few seconds (the head comes at once, however
    // late the machine lets it; the body would take 30 s), stands in.
    auto attempt = leaveFiringRecord("drip", NSDate::date().timeIntervalSince1970());
    const std::string hash = OrreryRelayEventController::invocationHash(*attempt);
    OrreryGlobalPersistentManager::sharedInstance()->processWriteOperationSync(
        OrreryPersistentMap::RelayUrls, [&](ValueDictionary& urls) {
            auto fired = attempt->copy();
            fired->setAttemptNumber(1);
            fired->setExpiration(NSDate::dateWithTimeIntervalSince1970(NSDate::date().timeIntervalSince1970() + 3600));
            urls.set(hash, Value(fired));
        });
    auto task = OrreryHttpAsyncTask::sendMethod("GET", NSURL::URLWithString(*attempt->substitutedUrl()), std::nullopt,
                                                Value(), controller, false);
    task->setTaskParams(Value::dictionary({{OrreryRelayEventController::kInvokeURLHashKey, hash},
                                           {OrreryRelayEventController::kBeingFiredKey, true},
                                           {OrreryRelayEventController::kMethodKey, "GET"}}));
    task->setTotalTimeoutInterval(platform::testing::hangGuard(1));
    task->start();
    ASSERT_TRUE(driver().runUntil([&] { return !relay.reports().empty(); }, 60));
    auto report = soleReport();
    ASSERT_TRUE(report);
    const auto& reported = report->triggers.at(0).callbacks.at(0).attempts.at(0);
    EXPECT_EQ(reported.requestState, OrreryRelayRequestStateSucceeded);
    EXPECT_EQ(reported.httpStatus, 200);
    EXPECT_TRUE(reported.finalAttempt);
    EXPECT_EQ(urlMapCount(), 0u);
    EXPECT_EQ(partner.callbacks("/cb").size(), 1u);
}

TEST_F(OrreryRelayReportingTest, CallbackRecordStaysUntilItsFinalAttemptIsReported) {
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}, 3, 1));
    partner.script("/cb", {Answer::withStatus(500), Answer::withStatus(500), Answer::ok()});
    controller->processEventWithParams("Level", eventParams(1));
    settle();
    driver().advance(90);
    settle();
    driver().advance(270);
    settle();
    auto reports = relay.reports();
    ASSERT_EQ(reports.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(reports[i].report);
        ASSERT_EQ(reports[i].report->triggers.size(), 1u);
        const auto& attempts = reports[i].report->triggers[0].callbacks.at(0).attempts;
        ASSERT_EQ(attempts.size(), 1u);
        EXPECT_EQ(attempts[0].attemptNumber, i + 1);
        EXPECT_EQ(attempts[0].finalAttempt, i == 2);
    }
    EXPECT_TRUE(OrreryRelayCallbackReportManager::sharedInstance()->triggers().empty());
}

TEST_F(OrreryRelayReportingTest, RecordWithoutOutcomeForThreeDaysIsDropped) {
    // Callback 1 fails once and its retry never runs (timers gone, as in a
    // process that ended): its emptied record waits for a final attempt that
    // cannot come any more.
    store(makeSettings({callback(1, partner.url("/a")), callback(2, partner.url("/b"))},
                       {{Value("Level"), {1}}, {Value("Other"), {2}}}, 3, 1));
    partner.script("/a", {Answer::withStatus(500)});
    partner.script("/b", {Answer::ok()});
    controller->processEventWithParams("Level", eventParams(1));
    settle();
    OrreryGlobalVariableStorage::sharedInstance()->removePendingUrlTimers();
    auto manager = OrreryRelayCallbackReportManager::sharedInstance();
    manager->waitForArchiving();
    ASSERT_EQ(manager->triggers().size(), 1u);
    EXPECT_EQ(manager->triggers()[0]->callbacks().size(), 1u);

    // Within the expiry the record stays beside a new one...
    driver().advance(OrreryRelayEventController::kExpirationSeconds - 10);
    controller->processEventWithParams("Other", eventParams(2));
    settle();
    manager->waitForArchiving();
    ASSERT_EQ(manager->triggers().size(), 1u);
    EXPECT_EQ(manager->triggers()[0]->callbacks()[0]->callbackId(), 1);

    // ...and the next outcome past it drops the record, in memory and on disk.
    driver().advance(20);
    partner.script("/b", {Answer::ok()});
    controller->processEventWithParams("Other", eventParams(3));
    settle();
    manager->waitForArchiving();
    EXPECT_TRUE(manager->triggers().empty());
    EXPECT_TRUE(manager->savedTriggers().empty());
    EXPECT_EQ(relay.reports().size(), 3u);
}

TEST_F(OrreryRelayReportingTest, NoSettingsMeansNoReportAndOptOutEmptiesMemoryAndFile) {
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}, 0, 1));
    partner.scriptStatuses("/cb", {200});
    OrreryGlobalVariableStorage::sharedInstance()->setUserOptedOut(true);
    controller->processEventWithParams("Level", eventParams(1));
    settle();
    auto manager = OrreryRelayCallbackReportManager::sharedInstance();
    manager->waitForArchiving();
    EXPECT_TRUE(relay.reports().empty());
    EXPECT_TRUE(manager->triggers().empty());
    EXPECT_EQ(manager->totalAttemptCount(), 0u);
    EXPECT_TRUE(manager->savedTriggers().empty());
}

TEST_F(OrreryRelayReportingTest, FailedPostKeepsBlocksForRetransmission) {
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}, 0, 1));
    partner.scriptStatuses("/cb", {200});
    relay.setReportAnswer(Answer::drop());
    controller->processEventWithParams("Level", eventParams(1));
    settle();
    EXPECT_EQ(relay.reports().size(), 1u);
    EXPECT_EQ(storedBlocks(), 1u);
    // Attempts were stored with the sender, so the manager forgot them.
    EXPECT_TRUE(OrreryRelayCallbackReportManager::sharedInstance()->triggers().empty());

    relay.setReportAnswer(Answer::withStatus(500));
    auto s = sender();
    dispatch_async(sessionQueue, [s] { s->performRetransmitNotSentBlocks(); });
    settle();
    auto reports = relay.reports();
    ASSERT_EQ(reports.size(), 2u);
    ASSERT_TRUE(reports[1].report);
    EXPECT_EQ(reports[1].report->triggers.size(), 1u);
    // Any answer removes the blocks.
    EXPECT_EQ(storedBlocks(), 0u);
}

TEST_F(OrreryRelayReportingTest, AReportAnsweredTwoHundredWhoseBodyFailsIsSentOnce) {
    // Over the cap (announced, or growing past it) and cut off after the head.
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}, 0, 1));
    const std::string big(OrreryHttpAsyncTask::kMaximumResponseLength + 1, 'r');
    expectLogLine("is larger than 1048576 bytes; the request fails");
    int event = 0;
    for (const Answer& answer : {Answer::ok(big), Answer::ok(big).unframed(), Answer::truncated("taken", 2)}) {
        relay.setReportAnswer(answer);
        controller->processEventWithParams("Level", eventParams(++event));
        settle();
        EXPECT_EQ(relay.reports().size(), static_cast<size_t>(event));
        EXPECT_EQ(storedBlocks(), 0u);
    }
    // Nothing is left for a retransmission to send again.
    relay.setReportAnswer(Answer::ok());
    auto s = sender();
    dispatch_async(sessionQueue, [s] { s->performRetransmitNotSentBlocks(); });
    settle();
    EXPECT_EQ(relay.reports().size(), 3u);
}

TEST_F(OrreryRelayReportingTest, ADamagedStoredBlockIsDroppedAndNeverSent) {
    auto s = sender();
    const NSData good = NSData::dataWithString("a trigger block");
    std::optional<std::string> damagedGroup;
    dispatch_sync(sessionQueue, [&] {
        damagedGroup = s->storeRelayCBReportData(NSData::dataWithString("another block"), "G1");
        EXPECT_TRUE(s->storeRelayCBReportData(good, "G2"));
    });
    ASSERT_TRUE(damagedGroup);
    auto blocks = s->relayCBReportDataIndex()->notSentBlocksForDataKey(OrreryRelayCBReportSender::relayCBReportDataKey());
    ASSERT_EQ(blocks.size(), 2u);
    std::string bytes = NSData::dataWithContentsOfFile(blocks[0]->filePath())->toString();
    bytes.back() ^= 0x20;
    ASSERT_TRUE(NSData::dataWithString(bytes).writeToFile(blocks[0]->filePath(), true));

    expectLogLine("is damaged; it is dropped, not sent");
    store(makeSettings({}, {}));
    dispatch_async(sessionQueue, [s] { s->retransmitNotSentBlocks(); });
    settle();
    auto reports = relay.reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].request.body.find("another"), std::string::npos);
    EXPECT_NE(reports[0].request.body.find("a trigger block"), std::string::npos);
    EXPECT_EQ(storedBlocks(), 0u);
}

TEST_F(OrreryRelayReportingTest, ABlockTheEndpointTookIsNeverSentAgainAfterTheIndexIsLost) {
    // Three 300 000-byte trigger blocks, posted together, then one report each.
    store(makeSettings({}, {}));
    relay.setReportAnswer(Answer::drop());
    auto s = sender();
    ASSERT_TRUE(s->sendRelayReportsData({namedBlock("one", 300000), namedBlock("two", 300000), namedBlock("three", 300000)}));
    settle();
    ASSERT_EQ(relay.reports().size(), 1u);
    auto stored = s->relayCBReportDataIndex()->notSentBlocksForDataKey(OrreryRelayCBReportSender::relayCBReportDataKey());
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[0]->groupIdentifier(), stored[2]->groupIdentifier());
    // The endpoint takes whichever comes first.
    relay.scriptReportAnswers({Answer::ok()});
    retransmit();
    auto reports = relay.reports();
    ASSERT_GE(reports.size(), 4u);
    for (size_t i = 1; i < reports.size(); ++i) EXPECT_LT(reports[i].request.body.size(), 2 * 300000u);
    ASSERT_EQ(storedBlocks(), 2u);

    ASSERT_NO_FATAL_FAILURE(restartSender(true));
    relay.setReportAnswer(Answer::ok());
    retransmit();
    expectEachTakenOnceAndNothingLeft({"one", "two", "three"});
}

TEST_F(OrreryRelayReportingTest, ABlockTheEndpointTookIsNeverSentAgainWhenTheIndexCouldNotBeSaved) {
    store(makeSettings({}, {}));
    relay.setReportAnswer(Answer::drop());
    ASSERT_TRUE(sender()->sendRelayReportsData({namedBlock("one", 300000), namedBlock("two", 300000)}));
    settle();
    sender()->relayCBReportDataIndex()->waitForPendingChanges();
    // A full disk: the index saved after the answer is not the one a restart reads.
    expectLogLine("could not save the send index");
    platform::testing::FileSystemConditions::setWritesFail(OrreryUtil::filePathDirectory(), true);
    relay.scriptReportAnswers({Answer::ok()});
    retransmit();
    ASSERT_EQ(storedBlocks(), 1u);
    ASSERT_NO_FATAL_FAILURE(restartSender(false));
    platform::testing::FileSystemConditions::setWritesFail(OrreryUtil::filePathDirectory(), false);

    relay.setReportAnswer(Answer::ok());
    retransmit();
    expectEachTakenOnceAndNothingLeft({"one", "two"});
}

// A full disk lasts: a hundred hand-overs on it are logged when it begins
// and when it ends, not one by one (each would write files of new names),
// and the records of what fails do not grow with them.
TEST_F(OrreryRelayReportingTest, AFullDiskIsLoggedWhenItBeginsAndEndsNotAtEachHandOver) {
    store(makeSettings({}, {}));
    relay.setReportAnswer(Answer::drop());
    const std::string folder = OrreryUtil::filePathDirectory();
    platform::testing::FileSystemConditions::setWritesFail(folder, true);
    const size_t linesBefore = logCapture().lines().size();
    ASSERT_FALSE(sender()->sendRelayReportsData({namedBlock("first")}));
    const size_t held = platform::LastingConditions::heldInProcess();
    for (int i = 0; i < 99; ++i) ASSERT_FALSE(sender()->sendRelayReportsData({namedBlock("block " + std::to_string(i))}));
    EXPECT_EQ(platform::LastingConditions::heldInProcess(), held);

    platform::testing::FileSystemConditions::setWritesFail(folder, false);
    ASSERT_TRUE(sender()->sendRelayReportsData({namedBlock("after")}));
    settle();
    const std::vector<std::string> lines = logCapture().messages();
    EXPECT_LE(lines.size() - linesBefore, 4u) << ::testing::PrintToString(lines);
    EXPECT_EQ(platform::LastingConditions::heldInProcess(), held - 2);
}

TEST_F(OrreryRelayReportingTest, BlocksTheDiscardDroppedNeverComeBackWithALostIndex) {
    store(makeSettings({}, {}));
    relay.setReportAnswer(Answer::drop());
    std::vector<NSData> handedOver;
    for (int i = 0; i < 60; ++i) handedOver.push_back(namedBlock("block " + std::to_string(i)));
    ASSERT_TRUE(sender()->sendRelayReportsData(handedOver));
    settle();
    // No task left after the failure: the ten oldest are discarded.
    sender()->relayCBReportDataIndex()->waitForPendingChanges();
    ASSERT_EQ(storedBlocks(), 50u);
    EXPECT_EQ(blockFiles(), 50u);

    ASSERT_NO_FATAL_FAILURE(restartSender(true));
    relay.setReportAnswer(Answer::ok());
    retransmit();
    for (int i = 0; i < 60; ++i) EXPECT_EQ(timesTaken("block " + std::to_string(i)), i < 10 ? 0u : 1u) << i;
    EXPECT_EQ(blockFiles(), 0u);
}

TEST_F(OrreryRelayReportingTest, AHandOverIsResentAsReportsWithinTheSizeLimit) {
    store(makeSettings({}, {}));
    relay.setReportAnswer(Answer::drop());
    ASSERT_TRUE(sender()->sendRelayReportsData({namedBlock("a", 300000), namedBlock("b", 150000), namedBlock("c", 100000)}));
    settle();
    relay.setReportAnswer(Answer::ok());
    retransmit();
    auto reports = relay.reports();
    ASSERT_EQ(reports.size(), 3u);
    // The first two together, then the third: in whatever order the two posts arrived.
    std::vector<size_t> sizes = {reports[1].request.body.size(), reports[2].request.body.size()};
    std::sort(sizes.begin(), sizes.end());
    EXPECT_GT(sizes[1], 450000u);
    EXPECT_LT(sizes[1], 451000u);
    EXPECT_GT(sizes[0], 100000u);
    EXPECT_LT(sizes[0], 101000u);
    expectEachTakenOnceAndNothingLeft({"a", "b", "c"});
}

TEST_F(OrreryRelayReportingTest, BlocksEarlierVersionsStoredAreSentOnceBesideNewOnes) {
    const std::string key = OrreryRelayCBReportSender::relayCBReportDataKey();
    store(makeSettings({}, {}));
    auto s = sender();
    auto index = s->relayCBReportDataIndex();
    // A file a block: a hand-over of several trigger blocks as one block, and one of its own.
    auto whole = NSObject::alloc<OrreryDataSenderBlockInfo>()->initWithItems({namedBlock("whole 1"), namedBlock("whole 2")}, key);
    whole->setGroupIdentifier(std::string("A"));
    index->addBlockInfo(whole, key);
    dispatch_sync(sessionQueue, [&] { EXPECT_TRUE(s->storeRelayCBReportData(namedBlock("own"), "B")); });
    // Blocks sharing one file, an item each; one names an item the file never held.
    auto shared = NSObject::alloc<OrreryDataSenderBlockInfo>()->initWithItems(
        {namedBlock("shared 0", 300000), namedBlock("shared 1", 300000), namedBlock("shared 2", 300000)}, key);
    shared->setGroupIdentifier(std::string("C"));
    index->addBlockInfo(shared, key);
    // A shared file whose index was lost.
    ASSERT_TRUE(NSObject::alloc<OrreryDataSenderBlockInfo>()->initWithItems({namedBlock("lost 0"), namedBlock("lost 1")}, key));
    ASSERT_TRUE(nameItemsInSavedIndex(index, shared->identifier(), {{0, 300000}, {1, 300000}, {2, 300000}, {7, 10}}));
    index = nullptr;
    s = nullptr;

    // The next start gives each of them a file of its own; one is new.
    expectLogLine("is damaged; it is dropped, not sent");
    ASSERT_NO_FATAL_FAILURE(restartSender(false));
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(shared->filePath()));
    ASSERT_TRUE(sender()->relayCBReportDataIndex());
    relay.setReportAnswer(Answer::drop());
    ASSERT_TRUE(sender()->sendRelayReportsData({namedBlock("new 0"), namedBlock("new 1")}));
    settle();
    EXPECT_EQ(storedBlocks(), 9u);
    EXPECT_EQ(blockFiles(), 9u);

    // The endpoint takes one report, then the index is lost.
    relay.scriptReportAnswers({Answer::ok()});
    retransmit();
    // The block stored whole is still sent whole.
    bool sentWhole = false;
    for (const auto& received : relay.reports())
        sentWhole = sentWhole || received.request.body.find("<whole 1><whole 2>") != std::string::npos;
    EXPECT_TRUE(sentWhole);
    ASSERT_NO_FATAL_FAILURE(restartSender(true));
    relay.setReportAnswer(Answer::ok());
    retransmit();
    expectEachTakenOnceAndNothingLeft(
        {"whole 1", "whole 2", "own", "shared 0", "shared 1", "shared 2", "lost 0", "lost 1", "new 0", "new 1"});
}

TEST_F(OrreryRelayReportingTest, BlocksSharingAFileWaitUntilTheyHaveFilesOfTheirOwn) {
    const std::string key = OrreryRelayCBReportSender::relayCBReportDataKey();
    store(makeSettings({}, {}));
    auto index = sender()->relayCBReportDataIndex();
    auto shared = NSObject::alloc<OrreryDataSenderBlockInfo>()->initWithItems({namedBlock("first"), namedBlock("second")}, key);
    index->addBlockInfo(shared, key);
    // Then 49 more: the discard would cut between the two.
    auto s = sender();
    dispatch_sync(sessionQueue, [&] {
        for (int i = 0; i < 49; ++i) EXPECT_TRUE(s->storeRelayCBReportData(namedBlock("later " + std::to_string(i)), "L"));
    });
    ASSERT_TRUE(nameItemsInSavedIndex(index, shared->identifier(), {{0, 7}, {1, 8}}));
    index = nullptr;
    s = nullptr;

    // A full disk at the start: they cannot move, are not sent, and go or stay together.
    expectLogLine("could not be given files of their own; they wait");
    platform::testing::FileSystemConditions::setWritesFail(OrreryUtil::filePathDirectory(), true);
    ASSERT_NO_FATAL_FAILURE(restartSender(false));
    relay.setReportAnswer(Answer::drop());
    for (int attempt = 0; attempt < 20; ++attempt) retransmit();
    for (const auto& received : relay.reports()) EXPECT_EQ(received.request.body.find("<first>"), std::string::npos);
    EXPECT_EQ(storedBlocks(), 51u);
    // Logged as the condition begins, not at each of the attempts.
    EXPECT_EQ(logCapture().count("could not be given files of their own"), 1u);

    platform::testing::FileSystemConditions::setWritesFail(OrreryUtil::filePathDirectory(), false);
    relay.setReportAnswer(Answer::ok());
    retransmit();
    expectEachTakenOnceAndNothingLeft({"first", "second", "later 48"});
    EXPECT_EQ(logCapture().count("have files of their own now"), 1u);
}

TEST_F(OrreryRelayReportingTest, BlocksALostIndexNoLongerNamedAreSentAfterARestart) {
    store(makeSettings({}, {}));
    auto s = sender();
    dispatch_sync(sessionQueue, [&] { EXPECT_TRUE(s->storeRelayCBReportData(NSData::dataWithString("kept block"), "G")); });
    s->relayCBReportDataIndex()->waitForPendingChanges();
    // The index file is lost; a new sender finds the block file and sends it.
    ASSERT_TRUE(NSFileManager::defaultManager()->removeItemAtPath(s->relayCBReportDataIndex()->indexFilePath()));
    s = nullptr;
    OrreryRelayCBReportSender::cleanup();
    OrreryRelayCBReportSender::setupInstanceWithQueue(sessionQueue);
    EXPECT_EQ(storedBlocks(), 1u);
    auto restarted = sender();
    dispatch_async(sessionQueue, [restarted] { restarted->retransmitNotSentBlocks(); });
    settle();
    auto reports = relay.reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].request.body.find("kept block"), std::string::npos);
    EXPECT_EQ(storedBlocks(), 0u);
}

TEST_F(OrreryRelayReportingTest, PendingRecordsSurviveARestartOfTheManager) {
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}, 3, 1000));
    partner.scriptStatuses("/cb", {500});
    controller->processEventWithParams("Level", eventParams(1));
    settle();
    OrreryRelayCallbackReportManager::cleanup();
    auto manager = OrreryRelayCallbackReportManager::sharedInstance();
    auto triggers = manager->triggers();
    ASSERT_EQ(triggers.size(), 1u);
    EXPECT_EQ(manager->totalAttemptCount(), 1u);
    auto attempts = triggers[0]->callbacks().at(0)->attempts();
    ASSERT_EQ(attempts.size(), 1u);
    EXPECT_EQ(attempts[0]->httpStatus(), 500);
    EXPECT_FALSE(attempts[0]->beingFired());
}

TEST_F(OrreryRelayReportingTest, TheRecordFileHoldsAnOutcomeOnceTheUrlMapFileSaysTheAttemptEnded) {
    store(makeSettings({callback(1, partner.url("/cb"))}, {{Value("Level"), {1}}}, 3, 1000));
    partner.scriptStatuses("/cb", {500});
    // The manager's own queue is held, as a busy or slow one would be.
    auto manager = OrreryRelayCallbackReportManager::sharedInstance();
    std::promise<void> release;
    dispatch_async(manager->queue(), [gate = release.get_future().share()] { gate.wait(); });
    controller->processEventWithParams("Level", eventParams(1));
    auto ended = [] {
        bool done = false;
        OrreryGlobalPersistentManager::sharedInstance()->processReadOperationSync(
            OrreryPersistentMap::RelayUrls, [&](const ValueDictionary& urls) {
                for (const auto& [hash, value] : urls)
                    if (auto attempt = value.object<OrreryRelayCallbackAttemptInfo>())
                        done = !attempt->beingFired() && attempt->httpStatus() == 500;
            });
        return done;
    };
    bool reached = driver().runUntil(ended, 5);
    OrreryGlobalPersistentManager::sharedInstance()->waitForPendingWrites();
    // What a process started now would find: both files as they stand.
    const std::string folder = OrreryUtil::filePathDirectory() + "/";
    Value urls, records;
    dispatch_sync(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0), [&] {
        urls = OrreryUtil::safeUnarchiveObjectWithFile(
            folder + OrreryGlobalPersistentManager::fileNameForMap(OrreryPersistentMap::RelayUrls));
        records = OrreryUtil::safeUnarchiveObjectWithFile(manager->reportsFilePath());
    });
    release.set_value();
    ASSERT_TRUE(reached);
    ASSERT_TRUE(urls.isDictionary());
    ASSERT_EQ(urls.count(), 1u);
    ASSERT_TRUE(records.isArray());
    ASSERT_EQ(records.count(), 1u);
    auto trigger = records.at(0).object<OrreryRelayTriggerInvokeInfo>();
    ASSERT_TRUE(trigger);
    ASSERT_EQ(trigger->callbacks().size(), 1u);
    auto attempts = trigger->callbacks()[0]->attempts();
    ASSERT_EQ(attempts.size(), 1u);
    EXPECT_EQ(attempts[0]->attemptNumber(), 1);
    EXPECT_EQ(attempts[0]->httpStatus(), 500);
    EXPECT_EQ(attempts[0]->requestState(), OrreryRelayRequestStateFailed);
}

}  // namespace
