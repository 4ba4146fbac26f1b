// The native ad model and the render of a "nad" answer: the address
// templates and their macros, identifiers sent as text or number, missing
// optional keys, hostile answers (empty, rejected templates, lists and keys
// of the wrong kind, addresses that do not parse, thousands of ads,
// addresses past the render's bounds), the video-end address with its
// viewing parameters, and the click that is posted and then opened. Answers
// come from the Halcyon service's writer.
#include <gtest/gtest.h>

#include "halcyon/core/HLAdSize.h"
#include "halcyon/core/HLAdSpec.h"
#include "halcyon/core/HLAdType.h"
#include "halcyon/core/tests/HLNativeTestSupport.h"
#include "platform/runtime/HangGuard.h"
#include "platform/ui/UIApplication.h"

namespace {

using simulator::HalcyonNativeAd;
using simulator::HalcyonNativeAnswer;

class HLNativeAdTest : public HalcyonNativeTest {
protected:
    static HalcyonNativeAnswer answerWith(std::vector<HalcyonNativeAd> ads) {
        HalcyonNativeAnswer answer;
        answer.ads = std::move(ads);
        return answer;
    }
    static HalcyonNativeAd adWithId(int64_t id) {
        HalcyonNativeAd ad;
        ad.adId = id;
        return ad;
    }
    std::vector<std::string> journalOf(const Ref<HLSdk>& sdk, const std::string& text) {
        auto delegate = std::make_shared<HLRecordingNativeDelegate>();
        renderInto(sdk, text, delegate);
        return delegate->journal();
    }
};

TEST_F(HLNativeAdTest, TemplatesTakeTheCodeAndEventOfEachAd) {
    Ref<HLSdk> sdk = startSdk();
    HalcyonNativeAd first = adWithId(7);
    first.clcode = "cl-7";
    first.eventId = "ev-7";
    first.videoUrl = "{RES}clip.mp4";
    HalcyonNativeAnswer answer = answerWith({first, adWithId(8)});
    answer.simpUrl = "{BASE}imp?c={CLCODE}&again={CLCODE}";
    auto ads = rendered(sdk, answerText(answer));
    ASSERT_EQ(ads.size(), 2u);
    const std::string base = service.server().url("/");
    const Ref<HLNativeAd>& ad = ads[0];
    EXPECT_EQ(ad->impressionTrackingURL()->absoluteString(), base + "imp?c=cl-7&again=cl-7");
    EXPECT_EQ(ad->clickURL()->absoluteString(), base + "track/native_click?clcode=cl-7&event=ev-7");
    EXPECT_EQ(ad->videoStartTrackingURL()->absoluteString(), base + "track/native_video_start?clcode=cl-7");
    EXPECT_EQ(ad->videoEndTrackingURL()->absoluteString(), base + "track/native_video_end?clcode=cl-7");
    EXPECT_EQ(ad->clCode(), "cl-7");
    EXPECT_EQ(ad->title(), "Native ad 7");
    EXPECT_EQ(ad->ctaText(), "Install");
    EXPECT_FALSE(ad->captionText());
    EXPECT_EQ(ad->sourceVideoURL()->absoluteString(), service.nativeResourceUrl("clip.mp4"));
    EXPECT_EQ(ad->starRating().doubleValue(), 4.5);
    EXPECT_EQ(ad->parentSdk(), sdk);
    // Freshly rendered: the use addresses are the sources, nothing precached.
    EXPECT_TRUE(ad->iconURL()->isEqual(*ad->sourceIconURL()));
    EXPECT_TRUE(ad->videoURL()->isEqual(*ad->sourceVideoURL()));
    EXPECT_FALSE(ad->isImagePrecached());
    EXPECT_FALSE(ad->isVideoPrecached());
    EXPECT_EQ(ads[1]->clickURL()->absoluteString(), base + "track/native_click?clcode=ncl-8&event=ev-8");
}

TEST_F(HLNativeAdTest, MissingOptionalKeysLeaveTheirPartsEmpty) {
    Ref<HLSdk> sdk = startSdk();
    HalcyonNativeAd ad = adWithId(3);
    ad.starRating.reset();
    // Without a code or an event identifier their macros become nothing.
    ad.extraMembers = Value::dictionary({{"clcode", Value()}, {"event_id", Value()}});
    HalcyonNativeAnswer answer = answerWith({ad});
    answer.videoStartUrl.reset();
    answer.videoEndUrl = "";
    auto ads = rendered(sdk, answerText(answer));
    ASSERT_EQ(ads.size(), 1u);
    EXPECT_TRUE(ads[0]->starRating().isNull());
    EXPECT_FALSE(ads[0]->videoStartTrackingURL());
    EXPECT_FALSE(ads[0]->videoEndTrackingURL());
    EXPECT_FALSE(ads[0]->videoEndTrackingURL(100, true));
    EXPECT_EQ(ads[0]->clickURL()->absoluteString(), service.server().url("/track/native_click?clcode=&event="));
}

TEST_F(HLNativeAdTest, AnIdentifierSentAsTextOrNumberReadsTheSame) {
    Ref<HLSdk> sdk = startSdk();
    HalcyonNativeAd text = adWithId(12);
    text.adIdAsString = true;
    auto ads = rendered(sdk, answerText(answerWith({text, adWithId(12)})));
    ASSERT_EQ(ads.size(), 2u);
    EXPECT_EQ(ads[0]->adIdNumber().integerValue(), 12);
    EXPECT_EQ(ads[1]->adIdNumber().integerValue(), 12);
    EXPECT_TRUE(ads[0]->adIdNumber().isEqual(ads[1]->adIdNumber()));
}

TEST_F(HLNativeAdTest, AnswersTheTemplatesRejectFailWithoutAds) {
    Ref<HLSdk> sdk = startSdk();
    HalcyonNativeAnswer noImpression = answerWith({adWithId(1)});
    noImpression.simpUrl.reset();
    EXPECT_EQ(journalOf(sdk, answerText(noImpression)), std::vector<std::string>{"failed -700"});
    EXPECT_TRUE(listener->contains("sIMP URL must be present; ad is invalid"));
    HalcyonNativeAnswer emptyClick = answerWith({adWithId(1)});
    emptyClick.clickUrl = "";
    EXPECT_EQ(journalOf(sdk, answerText(emptyClick)), std::vector<std::string>{"failed -700"});
    EXPECT_TRUE(listener->contains("Click must be present; ad is invalid"));
    // Templates that are not text, settings that are not an object.
    const std::string ad = R"({"ad_id": 1, "clcode": "c"})";
    EXPECT_EQ(journalOf(sdk, R"({"native_settings": {"simp_url": 5, "click_url": "x"}, "native_ads": [)" + ad + "]}"),
              std::vector<std::string>{"failed -700"});
    EXPECT_EQ(journalOf(sdk, R"({"native_settings": ["simp_url"], "native_ads": [)" + ad + "]}"),
              std::vector<std::string>{"failed -700"});
}

TEST_F(HLNativeAdTest, EmptyOrMisshapenAnswersFailWithSevenHundred) {
    Ref<HLSdk> sdk = startSdk();
    for (const char* text : {"{}", "[]", "null", "\"native_ads\"", R"({"native_ads": {"0": {}}})",
                             R"({"native_ads": "none", "native_settings": {}})"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(journalOf(sdk, text), std::vector<std::string>{"failed -700"});
    }
    EXPECT_TRUE(listener->contains("Attempting to run task with empty ad response"));
    // No list at all is an empty success here; the load turns it into -701.
    EXPECT_EQ(journalOf(sdk, R"({"native_settings": {}})"), std::vector<std::string>{"loaded "});
}

TEST_F(HLNativeAdTest, UnusableAdObjectsAreSkippedAndTheRestDelivered) {
    Ref<HLSdk> sdk = startSdk();
    std::vector<HalcyonNativeAd> ads;
    for (Value bad : {Value::dictionary({{"title", 5}}), Value::dictionary({{"icon_url", Value::array({})}}),
                      Value::dictionary({{"clcode", Value::dictionary({})}}), Value::dictionary({{"ad_id", true}}),
                      Value::dictionary({{"ad_id", Value::array({1})}}),
                      Value::dictionary({{"image_url", "http://127.0.0.1/a b.png"}}),
                      Value::dictionary({{"clcode", "two words"}})}) {
        HalcyonNativeAd ad = adWithId(static_cast<int64_t>(ads.size()) + 100);
        ad.extraMembers = bad;
        ads.push_back(ad);
    }
    ads.push_back(adWithId(1));
    std::string text = answerText(answerWith(ads));
    // An element that is no object at all.
    text.replace(text.find("\"native_ads\":[") + 14, 0, "42,\"ad\",null,");
    EXPECT_EQ(journalOf(sdk, text), std::vector<std::string>{"loaded 1"});
    EXPECT_EQ(listener->count("Skipping native ad"), 10u);
    EXPECT_TRUE(listener->contains("\"title\" is not a string"));
    EXPECT_TRUE(listener->contains("is no URL"));
}

TEST_F(HLNativeAdTest, ThousandsOfAdsAreAllRendered) {
    Ref<HLSdk> sdk = startSdk();
    HalcyonNativeAnswer answer;
    answer.ads.emplace(3000);
    auto ads = rendered(sdk, answerText(answer));
    ASSERT_EQ(ads.size(), 3000u);
    EXPECT_EQ(ads.back()->title(), "Native ad 3000");
}

TEST_F(HLNativeAdTest, AnAnswerWhoseAddressWouldPassSixtyFourKibibytesStopsWith700) {
    Ref<HLSdk> sdk = startSdk();
    std::string repeated;
    for (int i = 0; i < 1000; ++i) repeated += "{CLCODE}";
    // One address of 100 KB.
    HalcyonNativeAnswer wide = answerWith({adWithId(1)});
    wide.simpUrl = "{BASE}i?" + repeated;
    wide.ads->front().clcode = std::string(100, 'c');
    EXPECT_EQ(journalOf(sdk, answerText(wide)), std::vector<std::string>{"failed -700"});
    EXPECT_TRUE(listener->contains("ERROR [HLTaskRenderNativeAd] Unable to render native ads: an address would pass "
                                   "65536 bytes"));
}

TEST_F(HLNativeAdTest, AnswersThatWouldRenderPastSixteenMebibytesStopWith700) {
    if (platform::testing::kThreadSanitizerBuild) GTEST_SKIP() << "17 MB renders: the other builds cover it";
    Ref<HLSdk> sdk = startSdk();
    std::string repeated;
    for (int i = 0; i < 1000; ++i) repeated += "{CLCODE}";
    // Addresses of 60 KB each: a 40 KB answer that would make 17 MB.
    HalcyonNativeAnswer many;
    many.simpUrl = many.clickUrl = many.videoStartUrl = many.videoEndUrl = "{BASE}t?" + repeated;
    many.ads.emplace();
    for (int64_t id = 1; id <= 72; ++id) {
        many.ads->push_back(adWithId(id));
        many.ads->back().clcode = std::string(60, 'c');
    }
    const std::string text = answerText(many);
    EXPECT_LT(text.size(), 64u << 10);
    EXPECT_EQ(journalOf(sdk, text), std::vector<std::string>{"failed -700"});
    EXPECT_TRUE(listener->contains("Unable to render native ads: the render would pass 16777216 bytes"));
    // Sixty of them stay within the bound and are all delivered.
    many.ads->resize(60);
    EXPECT_EQ(rendered(sdk, answerText(many)).size(), 60u);
}

TEST_F(HLNativeAdTest, VideoEndAddressCarriesPercentAndFirstPlay) {
    Ref<HLSdk> sdk = startSdk();
    auto ad = NSObject::alloc<HLNativeAd>()->init();
    ad->setVideoEndTrackingURL(NSURL::URLWithString("http://h/end?c=1"));
    EXPECT_EQ(ad->videoEndTrackingURL(100, true)->absoluteString(), "http://h/end?c=1&pv=100&fp=true");
    EXPECT_FALSE(logCapture().contains("Invalid percent viewed"));
    ad->setVideoEndTrackingURL(NSURL::URLWithString("http://h/end"));
    // Kept as written: the ampersand even without a query.
    EXPECT_EQ(ad->videoEndTrackingURL(101, false)->absoluteString(), "http://h/end&pv=0&fp=false");
    EXPECT_TRUE(logCapture().contains(
        "[HLNativeAd] Invalid percent viewed supplied. Percent viewed must be an integer between 0 and 100"));
    EXPECT_FALSE(listener->contains("Invalid percent viewed"));
}

TEST_F(HLNativeAdTest, PrecacheFlagsFollowTheUseAddresses) {
    auto ad = NSObject::alloc<HLNativeAd>()->init();
    auto source = NSURL::URLWithString("http://h/icon.png");
    ad->setSourceIconURL(source);
    ad->setIconURL(NSURL::URLWithString("file:///cache/icon.png"));
    EXPECT_FALSE(ad->isImagePrecached());  // no main image: never
    ad->setSourceImageURL(NSURL::URLWithString("http://h/image.png"));
    ad->setImageURL(NSURL::URLWithString("http://h/image.png"));
    EXPECT_FALSE(ad->isImagePrecached());
    ad->setImageURL(NSURL::URLWithString("file:///cache/image.png"));
    EXPECT_TRUE(ad->isImagePrecached());
    EXPECT_FALSE(ad->isVideoPrecached());
    ad->setVideoURL(NSURL::URLWithString("file:///cache/v.mp4"));
    EXPECT_TRUE(ad->isVideoPrecached());
}

TEST_F(HLNativeAdTest, NativeSizeTypeAndSpecAreFreshAndEqual) {
    EXPECT_NE(HLNativeAd::sizeNative(), HLNativeAd::sizeNative());
    EXPECT_EQ(HLNativeAd::sizeNative()->label(), "NATIVE");
    EXPECT_TRUE(HLNativeAd::typeNative()->isEqual(*HLAdType::typeNative()));
    EXPECT_TRUE(HLNativeAd::specNative()->isEqualToSpec(HLNativeAd::specNative()));
    EXPECT_EQ(HLNativeAd::specNative()->hash(), HLNativeAd::specNative()->hash());
}

TEST_F(HLNativeAdTest, ClickIsPostedThenOpenedAndACopyDoesNothing) {
    Ref<HLSdk> sdk = startSdk();
    auto ads = rendered(sdk, answerText(answerWith({adWithId(5)})));
    ASSERT_EQ(ads.size(), 1u);
    Ref<HLNativeAd> copy = ads[0]->copy();
    EXPECT_FALSE(copy->parentSdk());
    EXPECT_TRUE(copy->clickURL()->isEqual(*ads[0]->clickURL()));
    EXPECT_TRUE(copy->videoEndTrackingURL()->isEqual(*ads[0]->videoEndTrackingURL()));
    EXPECT_TRUE(copy->starRating().isEqual(ads[0]->starRating()));
    EXPECT_EQ(copy->title(), ads[0]->title());
    auto application = UIApplication::sharedApplication();
    copy->launchClickTarget();
    ASSERT_TRUE(settle());
    EXPECT_TRUE(application->openedURLs().empty());
    EXPECT_TRUE(service.requestsTo("/track/native_click").empty());

    // Without a click address there is nothing to post or open.
    Ref<HLNativeAd> unclickable = ads[0]->copy();
    unclickable->setParentSdk(sdk);
    unclickable->setClickURL(nullptr);
    unclickable->launchClickTarget();
    EXPECT_TRUE(application->openedURLs().empty());

    ads[0]->launchClickTarget();
    ASSERT_EQ(application->openedURLs().size(), 1u);
    EXPECT_TRUE(application->openedURLs()[0]->isEqual(*ads[0]->clickURL()));
    ASSERT_TRUE(settle());
    auto clicks = service.requestsTo("/track/native_click");
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_TRUE(clicks[0].query.value_or("").starts_with("clcode=ncl-5&event=ev-5&postback_ts="));
}

}  // namespace
