// Loading ads against the service: the request URL with its ad and extra
// fields, the page's lists, no fill and every kind of bad answer failing the
// load, a newer load superseding an older one, video ads waiting for their
// video, JSON answers, showing through the ad screen, and the archive form.
#include "Trillium/TRAHtmlAd.h"
#include "Trillium/TRAJsonAd.h"
#include "Trillium/TRAPlacementRequest.h"
#include "Trillium/TRATrilliumAd.h"
#include "Trillium/TRAWireContract.h"
#include "Trillium/tests/TrilliumTestSupport.h"
#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/net/NSURLError.h"

namespace {

using simulator::Answer;
using simulator::TrilliumHtmlAd;
using simulator::TrilliumService;

class RecordingLoadDelegate : public NSObject, public TRAAdDelegate {
public:
    void didFinishLoadAd() override { ++loaded; }
    void finishLoadAdWithError(const Ref<NSError>& e) override {
        ++failed;
        error = e;
    }
    int loaded = 0;
    int failed = 0;
    Ref<NSError> error;
};

class RecordingJsonAd : public TRAJsonAd {
public:
    void didReceiveJson(const Value& json) override {
        received = json;
        TRAJsonAd::didReceiveJson(json);
    }
    Value received;
};

class TRAAdLoadTest : public TrilliumTest {
protected:
    Ref<RecordingLoadDelegate> delegate = NSObject::alloc<RecordingLoadDelegate>();

    Ref<TRAHtmlAd> htmlAd(int64_t adType = 5) {
        auto ad = NSObject::alloc<TRAHtmlAd>()->init();
        ad->setAdType(adType);
        ad->setAdRequest(NSObject::alloc<TRAOverlayAdRequest>()->init());
        ad->setAdLoadDelegate(delegate);
        return ad;
    }
    void load(const Ref<TRAAd>& ad, const Value& prefs = Value(), const Value& params = Value()) {
        ad->loadAd(std::string(kTestAppId), std::string(kTestDevId), prefs, params, false);
    }
    bool waitForOutcome(int count = 1) { return waitFor([&] { return delegate->loaded + delegate->failed >= count; }); }
};

TEST_F(TRAAdLoadTest, HtmlAdRequestCarriesItsFieldsAndTheAdReadsItsLists) {
    TrilliumHtmlAd served;
    served.orientation = "landscape";
    served.impressions = {"i1", "i2"};
    served.smartRedirect = {true, false};
    service.setHtmlAd(service.htmlAdPage(served));
    auto ad = htmlAd();
    load(ad, Value::dictionary({{"latitude", "1.5"}}), Value::dictionary({{"level", "boss fight"}, {"n", 3}}));
    ASSERT_TRUE(waitForOutcome());
    ASSERT_EQ(delegate->loaded, 1) << (delegate->error ? delegate->error->localizedDescription() : "");

    ASSERT_EQ(service.requestsTo(TrilliumService::kHtmlAdPath).size(), 1u);
    auto request = service.requestsTo(TrilliumService::kHtmlAdPath)[0];
    std::vector<std::string> names = request.fieldNames();
    std::vector<std::string> tail(names.end() - 6, names.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"placement", "adType", "video", "latitude", "level", "n"}));
    EXPECT_EQ(request.field("placement"), "INAPP_OVERLAY");
    EXPECT_EQ(request.field("video"), "ENABLED");
    EXPECT_EQ(request.field("level"), "boss fight");
    EXPECT_TRUE(NSString::containsString(request.request.target, "&level=boss%20fight&n=3"));

    EXPECT_EQ(ad->adOrientation(), "landscape");
    ASSERT_TRUE(ad->trackingUrl());
    EXPECT_EQ(*ad->trackingUrl(), (std::vector<std::string>{service.trackingUrl(TrilliumService::kImpressionPath, "i1"),
                                                            service.trackingUrl(TrilliumService::kImpressionPath, "i2")}));
    EXPECT_EQ(*ad->smartRedirect(), (std::vector<bool>{true, false}));
    EXPECT_EQ(ad->closeUrl()->size(), 1u);
    EXPECT_EQ(ad->offset(), -1);
    EXPECT_EQ(ad->videoPref(), nullptr);
}

TEST_F(TRAAdLoadTest, AnAdTypeOtherThanFiveAsksForNoVideoAndAbsentListsStayNil) {
    TrilliumHtmlAd served;
    served.impressions.clear();
    served.closes.clear();
    service.setHtmlAd(service.htmlAdPage(served));
    auto ad = htmlAd(1);
    load(ad);
    ASSERT_TRUE(waitForOutcome());
    EXPECT_EQ(delegate->loaded, 1);
    ASSERT_EQ(service.requestsTo(TrilliumService::kHtmlAdPath).size(), 1u);
    auto request = service.requestsTo(TrilliumService::kHtmlAdPath)[0];
    EXPECT_EQ(request.field("adType"), "1");
    EXPECT_EQ(request.field("video"), std::nullopt);
    EXPECT_FALSE(ad->trackingUrl());
    EXPECT_FALSE(ad->closeUrl());
}

TEST_F(TRAAdLoadTest, NoFillAndBadAnswersFailTheLoad) {
    std::string badInfo = std::string("<!--@adInfoJson@{\"trackingUrl\": \"not a list\"}@adInfoJson@-->");
    std::string badJson = std::string("<!--@adInfoJson@{\"trackingUrl\": [@adInfoJson@-->");
    std::vector<std::pair<Answer, std::string>> cases = {
        {Answer::withStatus(204), "No ad available"},
        {Answer::ok(""), "No ad available"},
        {Answer::withStatus(500, "<html></html>"), "Ad request failed with HTTP status 500"},
        {Answer::ok(badInfo), "Ad answer is malformed"},
        {Answer::ok(badJson), "Ad answer is malformed"},
        {Answer::ok("\xff\xfe<html>"), "Ad answer is not UTF-8 text"},
        {Answer::truncated("<html>" + std::string(1000, 'x'), 100), ""},
        {Answer::drop(), ""},
    };
    int expected = 0;
    for (auto& [answer, description] : cases) {
        service.setHtmlAdAnswer(answer);
        auto ad = htmlAd();
        load(ad);
        ++expected;
        ASSERT_TRUE(waitForOutcome(expected)) << description;
        EXPECT_EQ(delegate->failed, expected) << description;
        ASSERT_NE(delegate->error, nullptr);
        if (!description.empty()) {
            EXPECT_EQ(delegate->error->localizedDescription(), description);
        }
        EXPECT_FALSE(ad->trackingUrl());
    }
    EXPECT_EQ(delegate->loaded, 0);
}

TEST_F(TRAAdLoadTest, AnAnswerOverTheCapFailsInTheTransportBeforeItIsRead) {
    // Announced, and unannounced (the body ends when the connection closes).
    std::string huge(TRAWire::kMaximumAnswerBytes + 1, 'a');
    expectLogLine("over the cap of 2097152 bytes");
    int expected = 0;
    for (Answer answer : {Answer::ok(huge), Answer::ok(huge).unframed()}) {
        service.setHtmlAdAnswer(answer);
        auto ad = htmlAd();
        load(ad);
        ASSERT_TRUE(waitForOutcome(++expected));
        ASSERT_NE(delegate->error, nullptr);
        EXPECT_EQ(delegate->error->domain(), NSURLErrorDomain);
        EXPECT_EQ(delegate->error->code(), NSURLErrorDataLengthExceedsMaximum);
    }
    EXPECT_EQ(delegate->loaded, 0);
}

TEST_F(TRAAdLoadTest, AnAdRequestThatCannotConnectSaysSo) {
    simulator::LoopbackServer closed;
    ASSERT_TRUE(closed.start());
    NSUserDefaults::standardUserDefaults()->setObject(closed.url("/1.3/"), "TRAAdPlatformHost");
    closed.stop();
    auto ad = htmlAd();
    load(ad);
    ASSERT_TRUE(waitForOutcome());
    EXPECT_EQ(delegate->error->code(), NSURLErrorCannotConnectToHost);
    EXPECT_TRUE(logCapture().contains("Trillium: Ad request failed, no ad is loaded: ")) << "no log line";
}

TEST_F(TRAAdLoadTest, LoadsThatCannotStartFailAfterTheCallReturns) {
    auto ad = NSObject::alloc<TRAHtmlAd>()->init();
    ad->setAdLoadDelegate(delegate);
    load(ad);
    EXPECT_EQ(delegate->failed, 0);
    driver().drain();
    ASSERT_EQ(delegate->failed, 1);
    EXPECT_EQ(delegate->error->localizedDescription(), "Internal error");

    auto noApp = htmlAd();
    noApp->loadAd(std::nullopt, std::string(kTestDevId), Value(), Value(), false);
    driver().drain();
    ASSERT_EQ(delegate->failed, 2);
    EXPECT_EQ(delegate->error->localizedDescription(), "Application ID is nil or empty.");
    EXPECT_EQ(service.requestsTo(TrilliumService::kHtmlAdPath).size(), 0u);
}

TEST_F(TRAAdLoadTest, ANewerLoadSupersedesAnOlderOne) {
    service.server().route("GET", TrilliumService::kHtmlAdPath,
                           std::vector<Answer>{Answer::stall(Answer::withStatus(500)), Answer::ok(service.htmlAdPage({}))});
    auto ad = htmlAd();
    load(ad);
    ASSERT_TRUE(service.server().waitForStalled(1, 5));
    load(ad);
    ASSERT_TRUE(waitForOutcome());
    service.server().releaseStalled();
    ASSERT_TRUE(waitForRequests(TrilliumService::kHtmlAdPath, 2));
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(delegate->loaded, 1);
    EXPECT_EQ(delegate->failed, 0);
}

TEST_F(TRAAdLoadTest, AVideoAdLoadsOnceItsVideoIsThere) {
    TrilliumHtmlAd served;
    served.videoJson = R"({"videoUrl": "http://cdn.test/v/clip.mp4", "skippable": true, "skippableAfter": 7.9,
                           "postRoll": "IMAGE", "videoClosedUrl": 5})";
    service.setHtmlAd(service.htmlAdPage(served));
    auto store = NSObject::alloc<FakeVideoStore>();
    TRADisplayHooks::shared().videoStore = [store] { return store; };
    auto ad = htmlAd();
    load(ad);
    ASSERT_TRUE(waitFor([&] { return !store->requests.empty(); }));
    EXPECT_EQ(delegate->loaded, 0);
    EXPECT_EQ(store->requests[0].first, "http://cdn.test/v/clip.mp4");
    ASSERT_NE(ad->videoPref(), nullptr);
    EXPECT_TRUE(ad->videoPref()->isSkippable());
    EXPECT_EQ(ad->videoPref()->skippableAfter(), 7.0);
    EXPECT_EQ(ad->videoPref()->postRoll(), "IMAGE");
    EXPECT_EQ(ad->videoPref()->videoClosedUrl(), std::nullopt);
    store->requests[0].second->didFinishDownloadVideoWithPath("/videos/clip.mp4");
    EXPECT_EQ(delegate->loaded, 1);
    EXPECT_EQ(ad->videoPref()->videoPath(), "/videos/clip.mp4");

    auto second = htmlAd();
    load(second);
    ASSERT_TRUE(waitFor([&] { return store->requests.size() == 2; }));
    store->requests[1].second->didFailDownloadVideo();
    ASSERT_TRUE(waitForOutcome(2));
    EXPECT_EQ(delegate->failed, 1);
}

TEST_F(TRAAdLoadTest, VideoAdsFailWithoutAStoreAndBadVideoSettingsMakeAPlainAd) {
    TrilliumHtmlAd served;
    served.videoJson = R"({"videoUrl": "http://cdn.test/v/clip.mp4"})";
    service.setHtmlAd(service.htmlAdPage(served));
    auto video = htmlAd();
    load(video);
    ASSERT_TRUE(waitForOutcome());
    EXPECT_EQ(delegate->failed, 1);
    EXPECT_TRUE(logCapture().contains("No video store is available"));

    served.videoJson = R"(["not", "an object"])";
    service.setHtmlAd(service.htmlAdPage(served));
    auto plain = htmlAd();
    load(plain);
    ASSERT_TRUE(waitForOutcome(2));
    EXPECT_EQ(delegate->loaded, 1);
    EXPECT_EQ(plain->videoPref(), nullptr);
}

TEST_F(TRAAdLoadTest, JsonAdsHandTheirAnswerToTheSubclass) {
    auto ad = NSObject::alloc<RecordingJsonAd>();
    ad->setAdType(6);
    ad->setAdRequest(NSObject::alloc<TRAOverlayAdRequest>()->init());
    ad->setAdLoadDelegate(delegate);
    load(ad);
    ASSERT_TRUE(waitForOutcome());
    EXPECT_EQ(delegate->loaded, 1);
    EXPECT_EQ(ad->received["adsDetails"].count(), 1u);
    EXPECT_EQ(service.requestsTo(TrilliumService::kJsonAdsPath).size(), 1u);

    service.setJsonAds(R"({"adsDetails": [)");
    load(ad);
    ASSERT_TRUE(waitForOutcome(2));
    EXPECT_EQ(delegate->failed, 1);
    EXPECT_EQ(delegate->error->localizedDescription(), "Ad answer is not a JSON object");
}

TEST_F(TRAAdLoadTest, ShowingUsesTheAdScreenAndMarksTheVideoNowPlaying) {
    auto screens = std::make_shared<std::vector<Ref<FakeAdScreen>>>();
    TRADisplayHooks::shared().adScreen = [screens](bool video) -> Ref<TRAAdScreen> {
        auto screen = NSObject::alloc<FakeAdScreen>();
        screen->video = video;
        screens->push_back(screen);
        return screen;
    };
    auto store = NSObject::alloc<FakeVideoStore>();
    TRADisplayHooks::shared().videoStore = [store] { return store; };
    auto viewer = NSObject::alloc<TRATrilliumAd>()->init();

    auto ad = htmlAd();
    ad->showAd(viewer, std::string("tag1"));
    ASSERT_EQ(screens->size(), 1u);
    EXPECT_FALSE(screens->at(0)->video);
    EXPECT_EQ(screens->at(0)->shownAd.lock(), ad);
    EXPECT_EQ(screens->at(0)->tag, "tag1");
    EXPECT_EQ(ad->viewController(), screens->at(0));
    ad->closeAd(true, true);
    EXPECT_EQ(screens->at(0)->closes, (std::vector<std::pair<bool, bool>>{{false, false}}));

    ad->setVideoPref(TRAAdVideoPreferences::preferencesWithJsonString(R"({"videoUrl": "http://cdn.test/a/b.mov"})"));
    ad->showAd(viewer, std::nullopt);
    ASSERT_EQ(screens->size(), 2u);
    EXPECT_TRUE(screens->at(1)->video);
    EXPECT_EQ(store->nowPlaying, "b.mp4");
}

TEST_F(TRAAdLoadTest, TheAdArchivesWithItsVideoSettings) {
    auto ad = htmlAd(1);
    ad->setHtml("<p>page</p>");
    ad->setAdOrientation("landscape");
    ad->setTrackingUrl(std::vector<std::string>{"http://t/1"});
    ad->setTrilliumBrowserEnabled(std::vector<bool>{false, true});
    auto prefs = TRAAdVideoPreferences::preferencesWithJsonString(R"({"videoUrl": "http://v/x.mp4", "closeable": 1})");
    prefs->setVideoDuration(12.6);
    ad->setVideoPref(prefs);
    ad->setIsRewardedVideo(true);

    Value back = NSKeyedUnarchiver::unarchiveObjectWithData(NSKeyedArchiver::archivedDataWithRootObject(Value(ad)));
    auto copy = back.object<TRAHtmlAd>();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->adType(), 1);
    EXPECT_EQ(copy->html(), "<p>page</p>");
    EXPECT_EQ(copy->adOrientation(), "landscape");
    EXPECT_EQ(*copy->trackingUrl(), std::vector<std::string>{"http://t/1"});
    EXPECT_FALSE(copy->closeUrl());
    EXPECT_EQ(*copy->trilliumBrowserEnabled(), (std::vector<bool>{false, true}));
    EXPECT_TRUE(copy->isRewardedVideo());
    ASSERT_NE(copy->videoPref(), nullptr);
    EXPECT_EQ(copy->videoPref()->videoDuration(), 12.0);
    EXPECT_TRUE(copy->videoPref()->isCloseable());
    EXPECT_EQ(copy->videoPref()->videoUrl(), "http://v/x.mp4");
    EXPECT_EQ(copy->videoPref()->videoPath(), std::nullopt);
}

}  // namespace
