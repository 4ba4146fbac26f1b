// The ad service against the Halcyon service: loads of one spec merged and
// answered in call order on the main thread, the kept banner and its expiry,
// failures, refresh ticks for accepting and refusing observers (one tick per
// size at a time), the initial preload merge and its regressions (capacity
// 0, "inter", an empty answer, an answer of another size), loads outside the
// table, argument checks, and loads from several threads. Time runs on the
// virtual clock.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "halcyon/core/HLAdLoadState.h"
#include "halcyon/core/HLAdService.h"
#include "halcyon/core/HLPreloadedAdManager.h"
#include "halcyon/core/tests/HalcyonTestSupport.h"
#include "platform/foundation/NSException.h"

namespace {

using simulator::Answer;
using simulator::HalcyonAd;
using simulator::HalcyonService;

// An ad view as the refresh sees it: answers canAcceptUpdate as told and
// records the ads it is given.
class HLServiceTestObserver : public NSObject, public HLAdUpdateObserver {
public:
    bool canAcceptUpdate() override {
        asked.fetch_add(1);
        return accepts.load();
    }
    void adServiceDidUpdateAd(const Ref<HLAdService>&, const Ref<HLAd>& ad) override {
        std::scoped_lock lock(mutex);
        updates.push_back(ad);
    }
    size_t updateCount() {
        std::scoped_lock lock(mutex);
        return updates.size();
    }
    std::atomic<bool> accepts{true};
    std::atomic<int> asked{0};
    std::mutex mutex;
    std::vector<Ref<HLAd>> updates;
};

class HLAdServiceTest : public HalcyonTest {
protected:
    // The client with preloading on or off (slot 26), the service answering ads.
    Ref<HLSdk> start(bool preloading, const std::function<void(HLInternalSdkSettings&)>& adjust = nullptr) {
        auto settings = serviceSettings();
        settings->putBool(preloading, 26);
        if (adjust) adjust(*settings);
        service.setAd(HalcyonAd{});
        sdk = startSdk(settings);
        adService = sdk->adService();
        service.server().clearRecord();
        return sdk;
    }
    Ref<HLRecordingLoadDelegate> delegate(std::string name) {
        return std::make_shared<HLRecordingLoadDelegate>(std::move(name), journal);
    }
    size_t adRequests() { return service.adRequestQueries().size(); }
    Ref<HLAd> keptAd(const Ref<HLAdSize>& size) {
        Ref<HLAdLoadState> state = adService->loadStateFor(HLAdType::typeRegular(), size);
        std::scoped_lock lock(state->adLoadLock);
        return state->loadedAd;
    }
    size_t ticksRun() { return listener->count("INFO [HLUpdateAdTask] Task started exection"); }
    size_t regularInterstitialRequests(bool preloading) {
        size_t n = 0;
        for (const auto& query : service.adRequestQueries()) {
            std::map<std::string, std::string> fields(query.begin(), query.end());
            n += fields["size"] == "INTER" && fields["require"] == "REGULAR" &&
                 fields["preloading"] == (preloading ? "true" : "false");
        }
        return n;
    }

    // A first load of the interstitial while the start-up preloads are
    // pending, then a second one: both are answered.
    void checkMergeRegression(const std::function<void(HLInternalSdkSettings&)>& adjust, std::vector<Answer> answers,
                              bool loads, const std::function<void(const HLRecordingLoadDelegate::Outcome&)>& check = {}) {
        start(true, adjust);
        if (!answers.empty()) service.script(HalcyonService::kAdPath, std::move(answers));
        auto first = delegate("first");
        adService->loadNextAd(HLAdSize::sizeInterstitial(), first);
        ASSERT_TRUE(settle());
        driver().advance(0.5);
        ASSERT_TRUE(settle());
        ASSERT_EQ(first->count(), 1u);
        EXPECT_EQ(bool(first->only().ad), loads);
        if (check) check(first->only());
        auto second = delegate("second");
        adService->loadNextAd(HLAdSize::sizeInterstitial(), second);
        ASSERT_TRUE(settle());
        ASSERT_EQ(second->count(), 1u);
        EXPECT_TRUE(second->only().ad);
    }

    Ref<HLSdk> sdk;
    Ref<HLAdService> adService;
    std::shared_ptr<std::vector<std::string>> journal = std::make_shared<std::vector<std::string>>();
};

TEST_F(HLAdServiceTest, LoadsOfOneSpecShareOneRequestAndAreAnsweredInCallOrder) {
    start(false);
    service.script(HalcyonService::kAdPath, {Answer::ok(service.adAnswer(HalcyonAd{}, {})).after(0.2)});
    auto a = delegate("a"), b = delegate("b");
    adService->loadNextAd(HLAdSize::sizeInterstitial(), a);
    adService->loadNextAd(HLAdSize::sizeInterstitial(), b);
    adService->loadNextAd(HLAdSize::sizeInterstitial(), a);
    ASSERT_TRUE(settle());
    EXPECT_EQ(adRequests(), 1u);
    EXPECT_EQ(*journal, (std::vector<std::string>{"a ad 1", "b ad 1", "a ad 1"}));
    for (const auto& outcome : a->outcomes()) EXPECT_TRUE(outcome.onMainThread);
    // An interstitial is never kept: the next load asks again.
    EXPECT_FALSE(keptAd(HLAdSize::sizeInterstitial()));
    adService->loadNextAd(HLAdSize::sizeInterstitial(), b);
    ASSERT_TRUE(settle());
    EXPECT_EQ(adRequests(), 2u);
}

TEST_F(HLAdServiceTest, ABannerIsKeptForItsRefreshTimeThenRequestedAgain) {
    start(false);
    auto first = delegate("first");
    adService->loadNextAd(HLAdSize::sizeBanner(), first);
    ASSERT_TRUE(settle());
    ASSERT_EQ(first->count(), 1u);

    // Within 120 s: the kept banner, at once, on the caller's stack.
    driver().advance(119);
    auto kept = delegate("kept");
    adService->loadNextAd(HLAdSize::sizeBanner(), kept);
    ASSERT_EQ(kept->count(), 1u);
    EXPECT_EQ(kept->only().ad, first->only().ad);
    EXPECT_EQ(adRequests(), 1u);

    driver().advance(1.5);
    auto later = delegate("later");
    adService->loadNextAd(HLAdSize::sizeBanner(), later);
    ASSERT_TRUE(settle());
    EXPECT_EQ(adRequests(), 2u);
    EXPECT_EQ(*journal, (std::vector<std::string>{"first ad 1", "kept ad 1", "later ad 2"}));
}

TEST_F(HLAdServiceTest, AFailureAnswersEveryWaitingCallerAndKeepsTheLoadedBanner) {
    start(false);
    adService->loadNextAd(HLAdSize::sizeBanner(), delegate("first"));
    ASSERT_TRUE(settle());
    Ref<HLAd> banner = keptAd(HLAdSize::sizeBanner());
    ASSERT_TRUE(banner);

    driver().advance(121);
    service.setAd(std::nullopt);
    adService->loadNextAd(HLAdSize::sizeBanner(), delegate("a"));
    adService->loadNextAd(HLAdSize::sizeBanner(), delegate("b"));
    ASSERT_TRUE(settle());
    EXPECT_EQ(*journal, (std::vector<std::string>{"first ad 1", "a fail 204", "b fail 204"}));
    EXPECT_EQ(keptAd(HLAdSize::sizeBanner()), banner);
}

TEST_F(HLAdServiceTest, RefreshTicksLoadOnlyForAcceptingObserversOneTickAtATime) {
    start(false);
    auto observer = std::make_shared<HLServiceTestObserver>();
    adService->addAdUpdateObserver(observer, HLAdSize::sizeBanner());
    adService->addAdUpdateObserver(observer, HLAdSize::sizeBanner());  // once only
    adService->loadNextAd(HLAdSize::sizeBanner(), delegate("first"));
    ASSERT_TRUE(settle());
    EXPECT_EQ(observer->updateCount(), 1u);

    // The tick 122 s later finds the banner expired and an observer that
    // would show a new one.
    driver().advance(123);
    ASSERT_TRUE(settle());
    EXPECT_EQ(adRequests(), 2u);
    EXPECT_EQ(observer->updateCount(), 2u);
    EXPECT_EQ(ticksRun(), 1u);

    // Refused: no load, but the ticks go on, one per interval.
    observer->accepts = false;
    const int asked = observer->asked.load();
    driver().advance(123);
    ASSERT_TRUE(settle());
    driver().advance(123);
    ASSERT_TRUE(settle());
    EXPECT_EQ(adRequests(), 2u);
    EXPECT_EQ(ticksRun(), 3u);
    EXPECT_EQ(observer->asked.load(), asked + 2);

    // With its last observer gone the chain ends.
    observer.reset();
    driver().advance(122 * 3);
    ASSERT_TRUE(settle());
    EXPECT_EQ(ticksRun(), 4u);
    EXPECT_EQ(adRequests(), 2u);
}

TEST_F(HLAdServiceTest, AZeroRefreshKeepsTheBannerForAYearWithoutTicks) {
    start(false, [](HLInternalSdkSettings& settings) { settings.putLong(0, kHLSlotAdRefreshSeconds); });
    auto observer = std::make_shared<HLServiceTestObserver>();
    adService->addAdUpdateObserver(observer, HLAdSize::sizeBanner());
    adService->loadNextAd(HLAdSize::sizeBanner(), delegate("first"));
    ASSERT_TRUE(settle());
    driver().advance(86400);
    adService->loadNextAd(HLAdSize::sizeBanner(), delegate("kept"));
    EXPECT_EQ(journal->size(), 2u);
    EXPECT_EQ(ticksRun(), 0u);
    EXPECT_EQ(adRequests(), 1u);
}

TEST_F(HLAdServiceTest, TheFirstLoadSharesTheStartUpPreload) {
    start(true);
    auto merged = delegate("merged");
    adService->loadNextAd(HLAdSize::sizeInterstitial(), merged);
    EXPECT_TRUE(listener->contains("Attaching load delegate to initial preload task..."));
    driver().advance(0.5);
    ASSERT_TRUE(settle());
    ASSERT_EQ(merged->count(), 1u);
    ASSERT_TRUE(merged->only().ad);
    EXPECT_TRUE(merged->only().onMainThread);
    EXPECT_EQ(regularInterstitialRequests(true), 1u);
    EXPECT_EQ(regularInterstitialRequests(false), 0u);
    EXPECT_FALSE(adService->hasPreloadedAdOfSize(HLAdSize::sizeInterstitial()));

    // The next load asks on its own and has the queue refilled, which the
    // third load then takes.
    auto next = delegate("next");
    adService->loadNextAd(HLAdSize::sizeInterstitial(), next);
    ASSERT_TRUE(settle());
    ASSERT_EQ(next->count(), 1u);
    EXPECT_EQ(regularInterstitialRequests(false), 1u);
    driver().advance(0.5);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(adService->hasPreloadedAdOfSize(HLAdSize::sizeInterstitial()));
    auto third = delegate("third");
    adService->loadNextAd(HLAdSize::sizeInterstitial(), third);
    ASSERT_TRUE(settle());
    ASSERT_EQ(third->count(), 1u);
    EXPECT_TRUE(listener->contains("Using pre-loaded INTER ad"));
    EXPECT_EQ(regularInterstitialRequests(false), 1u);
}

TEST_F(HLAdServiceTest, StartUpPreloadSizesAreTrimmedAndEmptyOnesSkipped) {
    start(true, [](HLInternalSdkSettings& s) { s.putString(" BANNER , ,INTER ,", kHLSlotAdAutoPreloadSizes); });
    driver().advance(0.5);
    ASSERT_TRUE(settle());
    std::set<std::string> sizes;
    for (const auto& query : service.adRequestQueries()) {
        std::map<std::string, std::string> fields(query.begin(), query.end());
        sizes.insert(fields["size"]);
    }
    EXPECT_EQ(sizes, (std::set<std::string>{"BANNER", "INTER"}));
}

TEST_F(HLAdServiceTest, ACapacityOfZeroNeverMergesALoad) {
    checkMergeRegression([](HLInternalSdkSettings& s) { s.putInt(0, 56); }, {}, true);
}

TEST_F(HLAdServiceTest, ALowerCasePreloadSizeNeverMergesALoad) {
    checkMergeRegression([](HLInternalSdkSettings& s) { s.putString("inter", kHLSlotAdAutoPreloadSizes); }, {}, true);
}

TEST_F(HLAdServiceTest, AnEmptyPreloadAnswerFailsTheMergedLoad) {
    checkMergeRegression(nullptr, {Answer::ok("{}")}, false,
                         [](const HLRecordingLoadDelegate::Outcome& o) { EXPECT_EQ(o.code, -1); });
}

TEST_F(HLAdServiceTest, APreloadAnswerOfAnotherSizeAnswersTheMergedLoad) {
    checkMergeRegression(nullptr, {Answer::ok("{\"ad_id\": 9, \"size\": \"BANNER\", \"html\": \"<p>b</p>\"}")}, true,
                         [](const HLRecordingLoadDelegate::Outcome& o) { EXPECT_EQ(o.ad->size()->label(), "BANNER"); });
}

TEST_F(HLAdServiceTest, LoadsOutsideTheTableFailAtOnceAndArgumentsAreChecked) {
    start(false);
    auto failed = delegate("outside");
    adService->loadNextAd(HLAdSize::sizeBanner(), HLAdType::typeIncentivized(), failed);
    adService->loadNextAd(HLAdSize::sizeInterstitial(), HLAdType::typeNative(), failed);
    adService->loadNextAd(NSObject::alloc<HLAdSize>()->initWithWidth(320, 50), failed);
    EXPECT_EQ(*journal, (std::vector<std::string>{"outside fail -1", "outside fail -1", "outside fail -1"}));
    ASSERT_TRUE(settle());
    EXPECT_EQ(adRequests(), 0u);

    auto reason = [](const std::function<void()>& call) {
        try {
            call();
        } catch (const NSException& e) {
            return std::string(e.reason());
        }
        return std::string("no exception");
    };
    EXPECT_EQ(reason([&] { adService->loadNextAd(nullptr, nullptr, nullptr); }), "No ad size specified");
    EXPECT_EQ(reason([&] { adService->loadNextAd(HLAdSize::sizeBanner(), nullptr, nullptr); }), "No delegate specified");
    EXPECT_EQ(reason([&] { adService->loadNextAd(HLAdSize::sizeBanner(), nullptr, failed); }), "No ad type specified");
    EXPECT_EQ(reason([&] { adService->addAdUpdateObserver(nullptr, HLAdSize::sizeBanner()); }),
              "No ad listener specified");
    EXPECT_EQ(reason([&] { adService->expireLoadStateForAd(nullptr); }), "No ad specified");
}

TEST_F(HLAdServiceTest, LoadsFromSeveralThreadsAreEachAnsweredOnce) {
    start(true);
    const std::vector<Ref<HLAdSize>> sizes = {HLAdSize::sizeBanner(), HLAdSize::sizeInterstitial(),
                                              HLAdSize::sizeMRec(), HLAdSize::sizeLeader()};
    std::vector<Ref<HLRecordingLoadDelegate>> delegates;
    for (int i = 0; i < 16; ++i) delegates.push_back(std::make_shared<HLRecordingLoadDelegate>("t"));
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            for (int j = 0; j < 2; ++j) {
                auto& target = delegates[static_cast<size_t>(i * 2 + j)];
                adService->loadNextAd(sizes[static_cast<size_t>(i + j) % sizes.size()], target);
                adService->addAdUpdateObserver(std::make_shared<HLServiceTestObserver>(), HLAdSize::sizeBanner());
                adService->hasPreloadedAdOfSize(HLAdSize::sizeInterstitial());
            }
        });
    for (auto& thread : threads) thread.join();
    ASSERT_TRUE(settle());
    driver().advance(0.5);
    ASSERT_TRUE(settle());
    for (const auto& d : delegates) {
        ASSERT_EQ(d->count(), 1u);
        EXPECT_TRUE(d->only().ad);
    }
}

}  // namespace
