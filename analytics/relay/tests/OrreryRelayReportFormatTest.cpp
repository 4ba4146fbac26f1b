// The callback report byte for byte: attempt, callback and trigger blocks,
// the report header and its CRC-32 trailer, and what is left out (attempts
// being fired, callbacks with nothing to report). The simulator's report
// reader, written separately, must read back what the client writes.
#include <string>

#include "analytics/OrreryGlobalVariableStorage.h"
#include "analytics/relay/OrreryRelayCallbackAttemptInfo.h"
#include "analytics/relay/OrreryRelayCallbackReport.h"
#include "analytics/relay/OrreryRelayCallbackReportInfo.h"
#include "analytics/relay/OrreryRelayTriggerInvokeInfo.h"
#include "analytics/relay/tests/RelayTestSupport.h"
#include "simulator/RelayService.h"

namespace {

uint32_t crc32Of(std::string_view bytes) {
    uint32_t crc = 0xFFFFFFFF;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

Ref<OrreryRelayCallbackAttemptInfo> attempt(int32_t status, std::optional<std::string> body = std::nullopt) {
    auto a = OrreryRelayCallbackAttemptInfo::alloc<OrreryRelayCallbackAttemptInfo>()->init();
    a->setAttemptNumber(1);
    a->setCbSessionId(1'450'000'000'000);
    a->setCbSessionOffset(2500);
    a->setFinalAttempt(true);
    a->setHttpStatus(status);
    a->setRequestState(status >= 200 && status < 400 ? OrreryRelayRequestStateSucceeded : OrreryRelayRequestStateFailed);
    if (body) a->setResponseBody(NSData::dataWithString(*body));
    a->setRedirectsCount(2);
    a->setDuration(2.9);
    return a;
}

Ref<OrreryRelayCallbackReportInfo> record(int64_t id, std::string url,
                                          std::vector<Ref<OrreryRelayCallbackAttemptInfo>> attempts) {
    auto r = OrreryRelayCallbackReportInfo::alloc<OrreryRelayCallbackReportInfo>()->init();
    r->setCallbackId(id);
    r->setSubstitutedUrl(std::move(url));
    r->setAttempts(std::move(attempts));
    return r;
}

Ref<OrreryRelayTriggerInvokeInfo> firing(std::vector<Ref<OrreryRelayCallbackReportInfo>> callbacks) {
    auto t = OrreryRelayTriggerInvokeInfo::alloc<OrreryRelayTriggerInvokeInfo>()->init();
    t->setTriggerType(OrreryRelayTriggerTypeEvent);
    t->setSessionId(1'450'000'000'000);
    t->setSessionOffset(1000);
    t->setEventOccuranceId(70000);
    t->setEventName("purchase");
    t->setCallbacks(std::move(callbacks));
    return t;
}

Bytes attemptBytes(uint16_t status, std::optional<std::string> body = std::nullopt) {
    Bytes b;
    b.u16(1).u64(1'450'000'000'000).u64(2500).u8(1).u16(status).u16(status >= 200 && status < 400 ? 1 : 4);
    if (body) b.str(*body);
    b.u16(2).u32(2);
    return b;
}

using OrreryRelayReportFormatTest = RelayTest;

TEST_F(OrreryRelayReportFormatTest, AttemptBlocksCarryTheBodyOnlyOutside200To399) {
    auto ok = attempt(200, "ignored");
    EXPECT_EQ(hexOf(ok->data()), hexOf(attemptBytes(200).string()));
    EXPECT_EQ(ok->logSendState(), OrreryRelayLogSendStateInReport);
    EXPECT_EQ(hexOf(attempt(399, "ignored")->data()), hexOf(attemptBytes(399).string()));
    EXPECT_EQ(hexOf(attempt(500, "oops")->data()), hexOf(attemptBytes(500, "oops").string()));
    EXPECT_EQ(hexOf(attempt(404)->data()), hexOf(attemptBytes(404, "").string()));
    // No answer at all (status 0): the empty body is there too.
    EXPECT_EQ(hexOf(attempt(0)->data()), hexOf(attemptBytes(0, "").string()));
    // The session start of 1,450,000,000,000 ms, and 2.9 s written as 2.
    EXPECT_EQ(hexOf(attempt(200)->data()).substr(4, 16), "000001519abc2400");
    EXPECT_EQ(hexOf(attempt(200)->data()).substr(hexOf(attempt(200)->data()).size() - 8), "00000002");
}

TEST_F(OrreryRelayReportFormatTest, CallbackBlocksLeaveOutAttemptsBeingFired) {
    auto inFlight = attempt(0);
    inFlight->setBeingFired(true);
    auto r = record(-2, "https://partner.example/cb", {attempt(200), inFlight, attempt(500, "no")});
    std::optional<NSData> block = r->data();
    ASSERT_TRUE(block);
    Bytes expected;
    expected.u64(static_cast<uint64_t>(int64_t{-2})).str("https://partner.example/cb").u16(2);
    expected.raw(attemptBytes(200).string()).raw(attemptBytes(500, "no").string());
    EXPECT_EQ(hexOf(*block), hexOf(expected.string()));
    // The attempt in flight stays unmarked for the next report.
    EXPECT_EQ(inFlight->logSendState(), OrreryRelayLogSendStateNotReported);

    // Only attempts in flight, or none: no block.
    EXPECT_FALSE(record(1, "u", {inFlight})->data());
    EXPECT_FALSE(record(1, "u", {})->data());
    // A hole in the list spoils the block before anything is marked.
    auto fresh = attempt(200);
    EXPECT_FALSE(record(1, "u", {fresh, nullptr})->data());
    EXPECT_EQ(fresh->logSendState(), OrreryRelayLogSendStateNotReported);

    // URLs are written whole, whatever their length.
    std::string longUrl = "https://partner.example/" + std::string(1000, 'u');
    std::optional<NSData> longBlock = record(1, longUrl, {attempt(200)})->data();
    ASSERT_TRUE(longBlock);
    EXPECT_EQ(longBlock->length(), 8 + 2 + longUrl.size() + 2 + attemptBytes(200).string().size());
}

TEST_F(OrreryRelayReportFormatTest, TriggerBlocksCountOnlyCallbacksWithSomethingToReport) {
    auto inFlight = attempt(0);
    inFlight->setBeingFired(true);
    auto t = firing({record(5, "https://a.example", {attempt(200)}), record(6, "https://b.example", {inFlight}),
                     record(7, "https://c.example", {attempt(503, "busy")})});
    std::optional<NSData> block = t->data();
    ASSERT_TRUE(block);
    Bytes expected;
    expected.u16(4).u64(1'450'000'000'000).u64(1000).u8(1).u16(4464).str("purchase").u16(2);
    expected.u64(5).str("https://a.example").u16(1).raw(attemptBytes(200).string());
    expected.u64(7).str("https://c.example").u16(1).raw(attemptBytes(503, "busy").string());
    EXPECT_EQ(hexOf(*block), hexOf(expected.string()));

    // Nothing to report, or a hole: no block, and nothing marked.
    EXPECT_FALSE(firing({record(6, "u", {inFlight})})->data());
    EXPECT_FALSE(firing({})->data());
    auto fresh = attempt(200);
    EXPECT_FALSE(firing({record(1, "u", {fresh}), nullptr})->data());
    EXPECT_EQ(fresh->logSendState(), OrreryRelayLogSendStateNotReported);

    // Event names of 256 characters or more are cut to 255.
    auto longName = firing({record(1, "u", {attempt(200)})});
    longName->setEventName(std::string(300, 'e'));
    std::optional<NSData> named = longName->data();
    ASSERT_TRUE(named);
    EXPECT_EQ(hexOf(*named).substr(2 * 21, 4), "00ff");
}

TEST_F(OrreryRelayReportFormatTest, ReportsWrapTheBlocksInAHeaderAndAChecksum) {
    auto t1 = firing({record(5, "https://a.example", {attempt(200)})})->data();
    auto t2 = firing({record(7, "https://c.example", {attempt(500, "x")})})->data();
    ASSERT_TRUE(t1 && t2);
    NSDate time = NSDate::dateWithTimeIntervalSince1970(1'700'000'000.1239);
    NSData report = OrreryRelayCallbackReport::callbackStatusDataForReports({t1, std::nullopt, t2}, time);

    Bytes expected;
    expected.u16(1).u16(1).u64(1'700'000'000'123).str(kApiKey).str(kAppVersion).u16(187).u16(2).str("9.0").u8(0);
    expected.u16(1).u16(6).str(kVendorId).u16(1).u16(0).str(kVendorId);
    expected.u16(2).raw(t1->stringView()).raw(t2->stringView());
    expected.u32(crc32Of(expected.string()));
    EXPECT_EQ(hexOf(report), hexOf(expected.string()));

    std::string error;
    auto parsed = simulator::parseRelayReport(report.stringView(), &error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_TRUE(parsed->checksumMatches);
    EXPECT_EQ(parsed->apiKey, kApiKey);
    EXPECT_EQ(parsed->reportTime, 1'700'000'000'123);
    ASSERT_EQ(parsed->triggers.size(), 2u);
    EXPECT_EQ(parsed->triggers[0].eventOccurrenceId, 4464);
    ASSERT_EQ(parsed->triggers[1].callbacks.size(), 1u);
    EXPECT_EQ(parsed->triggers[1].callbacks[0].attempts[0].responseBody, "x");
    EXPECT_FALSE(parsed->triggers[0].callbacks[0].attempts[0].responseBody);
    EXPECT_EQ(parsed->triggers[0].callbacks[0].attempts[0].duration, 2);
}

TEST_F(OrreryRelayReportFormatTest, AnEmptyReportIsStillComplete) {
    profile().idiom = 1;
    profile().advertisingTrackingEnabled = false;
    NSDate time = NSDate::dateWithTimeIntervalSince1970(1'700'000'000);
    NSData report = OrreryRelayCallbackReport::callbackStatusDataForReports({}, time);
    Bytes expected;
    expected.u16(1).u16(1).u64(1'700'000'000'000).str(kApiKey).str(kAppVersion).u16(187).u16(8).str("9.0").u8(1);
    expected.u16(1).u16(6).str(kVendorId).u16(1).u16(0).str(kVendorId).u16(0);
    expected.u32(crc32Of(expected.string()));
    EXPECT_EQ(hexOf(report), hexOf(expected.string()));
    auto parsed = simulator::parseRelayReport(report.stringView());
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(parsed->checksumMatches);
    EXPECT_TRUE(parsed->triggers.empty());
    // A damaged byte no longer matches the checksum; a cut report does not read.
    std::string damaged(report.stringView());
    damaged[10] ^= 1;
    EXPECT_FALSE(simulator::parseRelayReport(damaged)->checksumMatches);
    EXPECT_FALSE(simulator::parseRelayReport(damaged.substr(0, damaged.size() - 1)));
}

}  // namespace
