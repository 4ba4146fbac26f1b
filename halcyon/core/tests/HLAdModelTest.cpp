// The ad model: the video completion URL's exact text, equality and hash of
// ads rendered from one answer (button properties compared by value), copies,
// the derived questions and the button properties' defaults and overrides.
#include <gtest/gtest.h>

#include <cmath>

#include "halcyon/core/HLVideoButtonProperties.h"
#include "halcyon/core/tests/HalcyonTestSupport.h"

namespace {

class HLAdModelTest : public HalcyonTest {
protected:
    // Now in whole milliseconds since 1970 (the virtual clock starts on a
    // whole millisecond and has not moved).
    static std::string nowMilliseconds() {
        return std::to_string(std::llround(NSDate::date().timeIntervalSince1970() * 1000));
    }
};

TEST_F(HLAdModelTest, TheCompletionUrlCarriesTheViewingResultsInOrder) {
    auto ad = NSObject::alloc<HLAd>()->init();
    ad->setVideoCompletionURL(NSURL::URLWithString("http://h/end?a=%20b&p=%7BPLACEMENT%7D"));
    Ref<NSURL> url = ad->parameterizedVideoCompletionURL(100, false, std::string("home page"), 2);
    ASSERT_TRUE(url);
    EXPECT_EQ(url->absoluteString(),
              "http://h/end?a=%20b&p=home%20page&pv=100&in_prog=false&rc=2&vid_ts=" + nowMilliseconds());

    // Out of range percentages go out as 0; a replay count of 0 adds nothing.
    for (uint32_t percent : {101u, UINT32_MAX}) {
        Ref<NSURL> other = ad->parameterizedVideoCompletionURL(percent, true, std::nullopt);
        ASSERT_TRUE(other);
        EXPECT_EQ(other->absoluteString(), "http://h/end?a=%20b&p=&pv=0&in_prog=true&vid_ts=" + nowMilliseconds());
    }

    auto none = NSObject::alloc<HLAd>()->init();
    EXPECT_FALSE(none->parameterizedVideoCompletionURL(50, false, std::string("p")));
    EXPECT_FALSE(none->parameterizedVideoCompletionURL(50, false, std::string("p"), 3));
}

TEST_F(HLAdModelTest, AdsRenderedFromOneAnswerAreEqualAndHashAlike) {
    Ref<HLSdk> sdk = startSdk();
    const std::string answer =
        "{\"ad_id\": 123, \"size\": \"INTER\", \"ad_type\": \"REGULAR\", \"html\": \"<img src=\\\"" +
        service.resourceUrl("banner.png") +
        "\\\">\", \"click_url\": \"http://h/c\", \"storekit_info\": {\"id\": \"42\"}, "
        "\"video_button_properties\": {\"tap_to_fade\": true, \"video_button_html\": \"<b>go</b>\"}, "
        "\"clcodes\": [\"x\"]}";
    Ref<HLAd> first = render(sdk, answer)->only().ad;
    Ref<HLAd> second = render(sdk, answer)->only().ad;
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    EXPECT_TRUE(first->isEqual(*second));
    EXPECT_EQ(first->hash(), second->hash());
    EXPECT_EQ(first->description(), "Halcyon Ad #123, REGULAR/INTER");
    EXPECT_TRUE(first->opensInStoreKit());
    EXPECT_EQ(first->videoButtonHTMLSource(), "<b>go</b>");

    Ref<HLAd> copy = first->copy();
    EXPECT_TRUE(copy->isEqual(*first));
    EXPECT_NE(copy->videoButtonProperties(), first->videoButtonProperties());
    EXPECT_EQ(copy->hash(), first->hash());
    copy->setTransitionStyle(1);
    EXPECT_FALSE(copy->isEqual(*first));
    EXPECT_TRUE(HLAdSpec::specFromAd(first)->isEqual(*HLAdSpec::specWithSize(HLAdSize::sizeInterstitial(),
                                                                              HLAdType::typeRegular())));
}

TEST_F(HLAdModelTest, DerivedQuestionsAndNullFields) {
    auto ad = NSObject::alloc<HLAd>()->init();
    EXPECT_EQ(ad->presentationMode(), 2u);
    EXPECT_EQ(ad->closeButtonStyle(), 2u);
    EXPECT_EQ(ad->transitionStyle(), 2u);
    ad->setVideoFilename(std::string(""));
    EXPECT_FALSE(ad->isVideoAd());
    ad->setStoreKitParameters(Value::dictionary({}));
    EXPECT_FALSE(ad->opensInStoreKit());
    // One null side of a field is a difference.
    auto other = NSObject::alloc<HLAd>()->init();
    EXPECT_FALSE(ad->isEqual(*other));
    other->setVideoFilename(std::string(""));
    other->setStoreKitParameters(Value::dictionary({}));
    EXPECT_TRUE(ad->isEqual(*other));
    EXPECT_FALSE(ad->isEqualToAd(nullptr));
}

TEST_F(HLAdModelTest, ButtonPropertiesMergeOverTheDefaults) {
    auto defaults = NSObject::alloc<HLVideoButtonProperties>()->initWithSdk(nullptr, Value());
    EXPECT_EQ(defaults->horizontalConstraint(), "H:[videoButton(220)]-(5)-|");
    EXPECT_EQ(defaults->gravity(), 72u);
    EXPECT_EQ(defaults->fadeInDuration(), 0.5);
    EXPECT_EQ(defaults->fadeOutDelay(), 6.0);

    auto given = NSObject::alloc<HLVideoButtonProperties>()->initWithSdk(
        nullptr, Value::dictionary({{"tap_to_fade", true},
                                    {"fade_out_delay_seconds", 3},
                                    {"width", "80"},
                                    {"h_constraint", 5},
                                    {"height", Value::array({1})},
                                    {"margin", Value()},
                                    {"gravity", -3},
                                    {"fade_in_duration_milliseconds", "1e400"}}));
    EXPECT_TRUE(given->tapToFade());
    EXPECT_EQ(given->fadeOutDelay(), 3.0);
    EXPECT_EQ(given->widthPercentOfScreen(), 80.0f);
    EXPECT_EQ(given->horizontalConstraint(), defaults->horizontalConstraint());
    EXPECT_EQ(given->heightPercentOfScreen(), 7.0f);
    EXPECT_EQ(given->margin(), 5.0f);
    EXPECT_EQ(given->gravity(), 0u);
    EXPECT_TRUE(std::isfinite(given->fadeInDuration()));
    EXPECT_FALSE(given->isEqual(*defaults));

    Ref<HLVideoButtonProperties> copy = given->copy();
    EXPECT_TRUE(copy->isEqual(*given));
    EXPECT_EQ(copy->hash(), given->hash());
}

}  // namespace
