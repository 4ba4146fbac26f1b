// The ad request as the ad server receives it: the query decoded into pairs
// (order, values, what tracking off, the type and preloading change), the ad
// session bookkeeping of the first request after installation, the
// timing rows that follow a fetch and a render once, the answer's settings,
// and the failures (204 once, an empty 200 retried and then -1), all through
// the Halcyon service on loopback.
#include <gtest/gtest.h>

#include <algorithm>

#include "halcyon/core/HLStatsManager.h"
#include "halcyon/core/HLTargetingData.h"
#include "halcyon/core/HLTaskFetchNextAd.h"
#include "halcyon/core/tests/HalcyonTestSupport.h"
#include "platform/ui/UIScreen.h"

namespace {

using simulator::Answer;
using simulator::HalcyonAd;
using simulator::HalcyonService;
using simulator::QueryFields;

class HLAdRequestTest : public HalcyonTest {
protected:
    void SetUp() override {
        HalcyonTest::SetUp();
        sdk = startSdkWithoutPreloads();
        service.server().clearRecord();
    }
    // One request task on queue 0, waited for.
    Ref<HLRecordingLoadDelegate> fetch(const Ref<HLAdType>& type = nullptr, bool preloading = false,
                                       const Ref<HLAdSize>& size = HLAdSize::sizeInterstitial()) {
        auto delegate = std::make_shared<HLRecordingLoadDelegate>("fetch");
        auto task = NSObject::alloc<HLTaskFetchNextAd>()->initWithSdk(sdk);
        task->setRequiredAdSize(size);
        task->setRequiredAdType(type);
        task->setIsPreloading(preloading);
        task->setDelegate(delegate);
        sdk->taskManager()->execute(task, 0);
        EXPECT_TRUE(settle());
        return delegate;
    }
    QueryFields lastQuery() {
        auto queries = service.adRequestQueries();
        return queries.empty() ? QueryFields() : queries.back();
    }
    static std::optional<std::string> field(const QueryFields& query, std::string_view key) {
        for (const auto& [k, v] : query)
            if (k == key) return v;
        return std::nullopt;
    }
    static std::vector<std::string> keys(const QueryFields& query) {
        std::vector<std::string> out;
        for (const auto& entry : query) out.push_back(entry.first);
        return out;
    }

    Ref<HLSdk> sdk;
};

TEST_F(HLAdRequestTest, TheQueryCarriesTheRequestFactsInTheirOrder) {
    auto delegate = fetch();
    ASSERT_EQ(delegate->count(), 1u);
    EXPECT_EQ(delegate->only().code, 204);  // no ad set: the server has none
    auto requests = service.server().requestsTo(HalcyonService::kAdPath);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    const QueryFields query = lastQuery();

    // The device facts lead; then these, in this order.
    const std::vector<std::string> order = {"platform", "network", "dx",     "dy",         "sdk_version",
                                            "accept",   "sdk_key", "format", "size",       "preloading",
                                            "li",       "si",      "cookie", "api_did"};
    std::vector<std::string> seen = keys(query);
    size_t at = 0;
    for (const std::string& key : order) {
        auto it = std::find(seen.begin() + static_cast<std::ptrdiff_t>(at), seen.end(), key);
        ASSERT_NE(it, seen.end()) << key << " missing or out of order";
        at = static_cast<size_t>(it - seen.begin());
    }
    const platform::CGRect bounds = UIScreen::mainScreen()->bounds();
    EXPECT_EQ(field(query, "dx"), NSString::stringWithFormat("%@", Value(static_cast<double>(bounds.size.width))));
    EXPECT_EQ(field(query, "sdk_version"), "3.4.3");
    EXPECT_EQ(field(query, "accept"), "video");
    EXPECT_EQ(field(query, "sdk_key"), kHLTestSdkKey);
    EXPECT_EQ(field(query, "format"), "json");
    EXPECT_EQ(field(query, "size"), "INTER");
    EXPECT_EQ(field(query, "preloading"), "false");
    EXPECT_EQ(field(query, "cookie"), "");
    EXPECT_EQ(field(query, "api_did"), "hl-device-1");
    for (const char* absent : {"require", "build_tag", "plugin_version", "etf", "ntf", "etr", "ntr", "fvr"})
        EXPECT_EQ(field(query, absent), std::nullopt) << absent;
    // Each key once.
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
}

TEST_F(HLAdRequestTest, TheFirstRequestStartsAnAdSessionBeforeTheCountersAreRead) {
    const Ref<HLStatsManager>& stats = sdk->statsManager();
    stats->clearKey("ad_session_start");
    stats->setValue(Value(4), "ad_imp_session");
    stats->setValue(Value(9), "ad_imp");
    fetch();
    EXPECT_EQ(field(lastQuery(), "si"), "0");
    EXPECT_EQ(field(lastQuery(), "li"), "9");
    const double now = NSDate::date().timeIntervalSinceReferenceDate();
    EXPECT_EQ(stats->valueOfKey("ad_session_start").doubleValue(), now);
    EXPECT_EQ(stats->valueOfKey("ad_req").integerValue(), 1);

    // Within the session (slot 19: 60 minutes) the session count goes on.
    stats->setValue(Value(3), "ad_imp_session");
    driver().advance(3600);
    fetch();
    EXPECT_EQ(field(lastQuery(), "si"), "3");
    driver().advance(1);
    fetch();
    EXPECT_EQ(field(lastQuery(), "si"), "0");
    EXPECT_EQ(stats->valueOfKey("ad_req").integerValue(), 3);
}

TEST_F(HLAdRequestTest, TrackingOffLeavesOutCountersCookieDeviceIdAndTargeting) {
    sdk->targetingData()->setGender('f');
    sdk->targetingData()->setExtraValue(std::string("v 1"), std::string("k"));
    fetch();
    EXPECT_EQ(field(lastQuery(), "gender"), "f");
    EXPECT_EQ(field(lastQuery(), "ex_k"), "v 1");

    sdk->settingsManager()->putBool(false, kHLSlotIsTrackingEnabled);
    sdk->settingsManager()->putString(std::string("c=1&x"), 29);
    fetch();
    const QueryFields query = lastQuery();
    for (const char* absent : {"li", "si", "cookie", "api_did", "gender", "ex_k"})
        EXPECT_EQ(field(query, absent), std::nullopt) << absent;
    EXPECT_EQ(field(query, "size"), "INTER");

    sdk->settingsManager()->putBool(true, kHLSlotIsTrackingEnabled);
    fetch();
    EXPECT_EQ(field(lastQuery(), "cookie"), "c=1&x");
    ASSERT_FALSE(service.server().requests().empty());
    EXPECT_NE(service.server().requests().back().target.find("cookie=c%3D1%26x"), std::string::npos);
}

TEST_F(HLAdRequestTest, TheTypeAndPreloadingGoOutAsRequireAndPreloading) {
    fetch(HLAdType::typeIncentivized(), true);
    EXPECT_EQ(field(lastQuery(), "require"), "VIDEOA");
    EXPECT_EQ(field(lastQuery(), "preloading"), "true");
    fetch(NSObject::alloc<HLAdType>()->initWithLabel("regular"), false, HLAdSize::sizeBanner());
    EXPECT_EQ(field(lastQuery(), "require"), "REGULAR");
    EXPECT_EQ(field(lastQuery(), "size"), "BANNER");
}

TEST_F(HLAdRequestTest, TimingRowsFollowAFetchAndARenderOnce) {
    service.setAd(HalcyonAd{});
    ASSERT_TRUE(fetch()->only().ad);
    for (const char* absent : {"etf", "ntf", "etr", "ntr", "fvr"}) EXPECT_EQ(field(lastQuery(), absent), std::nullopt);

    // The first fetch and its render are reported by the second request.
    service.setAd(std::nullopt);
    EXPECT_EQ(fetch()->only().code, 204);
    QueryFields second = lastQuery();
    for (const char* present : {"etf", "ntf", "etr", "ntr"}) EXPECT_TRUE(field(second, present)) << present;
    EXPECT_EQ(field(second, "fvr"), "0");
    EXPECT_EQ(field(second, "ntf"), "wifi");
    const std::string etf = field(second, "etf").value_or("x");
    EXPECT_TRUE(!etf.empty() && std::all_of(etf.begin(), etf.end(), ::isdigit)) << etf;

    // The second fetch had no render: the third request reports only it.
    fetch();
    QueryFields third = lastQuery();
    EXPECT_TRUE(field(third, "etf"));
    for (const char* absent : {"etr", "ntr", "fvr"}) EXPECT_EQ(field(third, absent), std::nullopt) << absent;
}

TEST_F(HLAdRequestTest, TheAnswersSettingsAreAppliedAndKept) {
    HalcyonAd ad;
    ad.settingsJson = R"({"ad_refresh_seconds": 30, "fetch_ad_retry_count": 0})";
    service.setAd(ad);
    ASSERT_TRUE(fetch()->only().ad);
    EXPECT_EQ(sdk->integerForKey(kHLSlotAdRefreshSeconds), 30);
    EXPECT_EQ(storedSettings()["ad_refresh_seconds"].integerValue(), 30);
}

TEST_F(HLAdRequestTest, A204IsOneFailureAndAnEmpty200IsRetriedThenFails) {
    auto noAd = fetch();
    ASSERT_EQ(noAd->count(), 1u);
    EXPECT_EQ(noAd->only().code, 204);
    EXPECT_FALSE(noAd->only().onMainThread);
    EXPECT_EQ(service.adRequestQueries().size(), 1u);

    // An empty answer is no ad: retried once (slot 18) 10 s later, then -1.
    service.script(HalcyonService::kAdPath, {Answer::ok(""), Answer::ok("")});
    auto empty = fetch();
    EXPECT_EQ(empty->count(), 0u);
    driver().advance(10);
    ASSERT_TRUE(settle());
    ASSERT_EQ(empty->count(), 1u);
    EXPECT_EQ(empty->only().code, -1);
    ASSERT_TRUE(empty->only().spec);
    EXPECT_TRUE(empty->only().spec->size()->isEqual(*HLAdSize::sizeInterstitial()));
    EXPECT_EQ(service.adRequestQueries().size(), 3u);
}

TEST_F(HLAdRequestTest, ARequestTheDisabledClientDropsStillEndsItsLoad) {
    sdk->markInitialized(false);
    auto delegate = fetch();
    ASSERT_EQ(delegate->count(), 1u);
    EXPECT_EQ(delegate->only().code, -1);
    EXPECT_EQ(service.adRequestQueries().size(), 0u);
}

}  // namespace
