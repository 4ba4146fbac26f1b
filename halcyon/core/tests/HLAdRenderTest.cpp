// Rendering an ad answer into an HLAd: the page rewritten to cached copies
// byte for byte, one download per file name, the video failure, the
// answer's rules (presentation, close style and delay, clcodes), force_ssl,
// and hostile answers (short or missing pages, keys of the wrong kind, names
// reaching outside the cache folder, resources of another scheme, addresses
// and pages past the render's bounds). Answers are rendered by the render
// task on queue 0 against the Halcyon service's resource files.
#include <gtest/gtest.h>

#include <filesystem>

#include "halcyon/core/HLPersistentPostbackManager.h"
#include "halcyon/core/HLRenderBudget.h"
#include "halcyon/core/tests/HalcyonTestSupport.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/runtime/HangGuard.h"

namespace {

using simulator::Answer;
using simulator::HalcyonService;

class HLAdRenderTest : public HalcyonTest {
protected:
    void SetUp() override {
        HalcyonTest::SetUp();
        sdk = startSdk();
    }
    // An answer with this page and these extra members.
    static std::string answer(const std::string& page, const std::string& members = "") {
        return "{\"ad_id\": 7, \"size\": \"INTER\", \"html\": " + json(page) + (members.empty() ? "" : ", ") +
               members + "}";
    }
    static std::string json(const std::string& text) {
        std::string quoted;
        quoted.reserve(text.size() + 2);
        quoted += '"';
        for (char c : text) {
            if (c == '"') quoted += '\\';
            quoted += c;
        }
        return quoted += '"';
    }
    Ref<HLAd> renderedAd(const std::string& text) {
        auto delegate = render(sdk, text);
        EXPECT_EQ(delegate->count(), 1u);
        return delegate->only().ad;
    }
    std::string res(const std::string& name) { return service.resourceUrl(name); }

    Ref<HLSdk> sdk;
};

TEST_F(HLAdRenderTest, ThePageIsRewrittenToCachedCopiesByteForByte) {
    const std::string page = "<script src=\"" + res("ad.js") + "\"></script><img src='" + res("banner.png") +
                             "'><img src=\"" + res("banner.png") + "\"><a href=\"http://elsewhere/x.png\">" +
                             "<style>url(" + res("ad.css") + ")</style>";
    Ref<HLAd> ad = renderedAd(answer(page));
    ASSERT_TRUE(ad);
    const std::string local = "file://" + cacheFolder();
    const std::string expected = "<script src=\"" + local + "ad.js\"></script><img src='" + local + "banner.png'>" +
                                 "<img src=\"" + local + "banner.png\"><a href=\"http://elsewhere/x.png\">" +
                                 "<style>url(" + local + "ad.css)</style>";
    EXPECT_EQ(ad->htmlSource(), expected);
    for (const char* name : {"ad.js", "banner.png", "ad.css"}) {
        EXPECT_EQ(service.resourceRequestCount(name), 1u) << name;
        EXPECT_TRUE(NSFileManager::defaultManager()->fileExistsAtPath(cacheFolder() + name)) << name;
    }

    // A second ad sharing the files downloads nothing.
    Ref<HLAd> again = renderedAd(answer(page));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->htmlSource(), expected);
    EXPECT_EQ(service.resourceRequestCount("banner.png"), 1u);

    // Nor does one after the folder was made anew with the same files: a
    // render looks at the folder as it stands.
    const std::string folder = cacheFolder().substr(0, cacheFolder().size() - 1);
    std::filesystem::copy(folder, folder + ".kept");
    std::filesystem::remove_all(folder);
    std::filesystem::rename(folder + ".kept", folder);
    Ref<HLAd> third = renderedAd(answer(page));
    ASSERT_TRUE(third);
    EXPECT_EQ(third->htmlSource(), expected);
    EXPECT_EQ(service.resourceRequestCount("banner.png"), 1u);
}

TEST_F(HLAdRenderTest, FailedResourceDownloadsKeepTheRemoteUrlAndLeaveNothingCached) {
    service.script("/res/ad.js", {Answer::withStatus(500, "error page")});
    service.script("/res/ad.css", {Answer::ok("")});
    const std::string page = "<p src=\"" + res("ad.js") + "\" href=\"" + res("ad.css") + "\" x=\"" +
                             res("missing.png") + "\">";
    Ref<HLAd> ad = renderedAd(answer(page));
    ASSERT_TRUE(ad);
    EXPECT_EQ(ad->htmlSource(), page);
    for (const char* name : {"ad.js", "ad.css", "missing.png"})
        EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(cacheFolder() + name)) << name;
}

TEST_F(HLAdRenderTest, APrefixFollowedByNoDelimiterReturnsThePageAsReceived) {
    const std::string page = "<img src=\"" + res("banner.png") + "\"> and then " + res("ad.js") + " to the end";
    Ref<HLAd> ad = renderedAd(answer(page));
    ASSERT_TRUE(ad);
    EXPECT_EQ(ad->htmlSource(), page);
    EXPECT_TRUE(listener->contains("Unable to parse HTML: no delimiter found"));
    // A URL at the very start of the page is found too.
    Ref<HLAd> first = renderedAd(answer(res("ad.css") + "\""));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->htmlSource(), "file://" + cacheFolder() + "ad.css\"");
}

TEST_F(HLAdRenderTest, ShortMissingOrMistypedPagesFailWithMinusOneAndDownloadNothing) {
    for (const std::string& text :
         {answer("ab", "\"video\": \"" + res("video.mp4") + "\""), std::string("{\"size\": \"BANNER\"}"),
          std::string("{\"html\": 12345, \"size\": \"INTER\"}"), std::string("{}"), std::string("[1, 2]"),
          std::string("{\"html\": \"<p>tr")}) {
        auto delegate = render(sdk, text);
        ASSERT_EQ(delegate->count(), 1u) << text;
        EXPECT_FALSE(delegate->only().ad) << text;
        EXPECT_EQ(delegate->only().code, -1) << text;
    }
    EXPECT_EQ(service.resourceRequestCount("video.mp4"), 0u);
    // The spec of the failure is the parsed one.
    auto delegate = render(sdk, "{\"size\": \"BANNER\", \"ad_type\": \"videoa\", \"html\": \"ab\"}");
    ASSERT_TRUE(delegate->only().spec);
    EXPECT_EQ(delegate->only().spec->size()->label(), "BANNER");
    EXPECT_TRUE(delegate->only().spec->type()->isEqual(*HLAdType::typeIncentivized()));
}

TEST_F(HLAdRenderTest, AVideoThatCannotBeCachedFailsWithMinus200) {
    service.script("/res/video.mp4", {Answer::withStatus(404)});
    for (const std::string& video : {res("video.mp4"), std::string("http://elsewhere.invalid/video.mp4"),
                                     res("%2E%2E"), std::string("not a url"), std::string("")}) {
        auto delegate = render(sdk, answer("<p>page</p>", "\"video\": " + json(video)));
        ASSERT_EQ(delegate->count(), 1u) << video;
        EXPECT_EQ(delegate->only().code, -200) << video;
        ASSERT_TRUE(delegate->only().spec) << video;
        EXPECT_TRUE(delegate->only().spec->size()->isEqual(*HLAdSize::sizeInterstitial()));
    }
    EXPECT_EQ(service.resourceRequestCount("video.mp4"), 1u);
    EXPECT_TRUE(listener->contains("Domain is not whitelisted, skipping precache for resource URL "
                                   "http://elsewhere.invalid/video.mp4"));
}

TEST_F(HLAdRenderTest, AVideoAdCachesItsVideoAndMuteImages) {
    Ref<HLAd> ad = renderedAd(answer("<p>video</p>", "\"video\": " + json(res("video.mp4")) + ", \"mute_image\": " +
                                                          json(res("mute.png")) + ", \"unmute_image\": " +
                                                          json(res("gone.png")) + ", \"close_delay\": -1"));
    ASSERT_TRUE(ad);
    EXPECT_EQ(ad->videoFilename(), "video.mp4");
    EXPECT_TRUE(ad->isVideoAd());
    EXPECT_EQ(ad->muteImageFilename(), "mute.png");
    EXPECT_EQ(ad->unmuteImageFilename(), std::nullopt);
    EXPECT_EQ(ad->presentationMode(), 1u);
    EXPECT_EQ(ad->closeButtonStyle(), 1u);
    // A regular video ad with close_delay -1 and no graphic delay waits 0.5 s.
    EXPECT_EQ(ad->closeDelay().doubleValue(), 0.5);
    EXPECT_TRUE(NSFileManager::defaultManager()->fileExistsAtPath(cacheFolder() + "video.mp4"));
}

TEST_F(HLAdRenderTest, PresentationCloseStyleAndCloseDelayFollowTheAnswer) {
    struct Case {
        std::string members;
        uint32_t presentation, closeStyle;
        double closeDelay;
    };
    for (const Case& c : {
             Case{"\"presentation_mode\": \"Activity\"", 1, 0, 0},
             Case{"\"presentation_mode\": \"dialog\", \"close_style\": 1", 0, 1, 0},
             Case{"\"presentation_mode\": \"a_VIEW_CONTROLLER_b\", \"close_style\": 2", 1, 0, 0},
             Case{"\"close_style\": -1, \"ad_type\": \"VideoA\"", 0, 0, 0.5},
             Case{"\"close_style\": 0, \"close_delay_graphic\": 3", 0, 0, 3},
         }) {
        Ref<HLAd> ad = renderedAd(answer("<p>x</p>", c.members));
        ASSERT_TRUE(ad) << c.members;
        EXPECT_EQ(ad->presentationMode(), c.presentation) << c.members;
        EXPECT_EQ(ad->closeButtonStyle(), c.closeStyle) << c.members;
        EXPECT_EQ(ad->closeDelay().doubleValue(), c.closeDelay) << c.members;
        EXPECT_EQ(ad->transitionStyle(), 2u);
    }
}

TEST_F(HLAdRenderTest, TheClcodeFillsTheUrlsOnlyWhenGivenAsAnArray) {
    const std::string urls = "\"click_url\": \"http://h/c?x={CLCODE}\", \"click_tracking_url\": "
                             "\"http://h/t?x={CLCODE}&p={PLACEMENT}\", \"video_end_url\": \"http://h/e {CLCODE}\"";
    Ref<HLAd> ad = renderedAd(answer("<p>x</p>", urls + ", \"clcodes\": [\"c 1\", \"c2\"]"));
    ASSERT_TRUE(ad);
    EXPECT_EQ(ad->clcode(), "c 1");
    EXPECT_EQ(ad->clickDestinationURL()->absoluteString(), "http://h/c?x=c%201");
    EXPECT_EQ(ad->clickTrackingURL()->absoluteString(), "http://h/t?x=c%201&p=%7BPLACEMENT%7D");
    EXPECT_EQ(ad->videoCompletionURL()->absoluteString(), "http://h/e%20c%201");

    Ref<HLAd> asString = renderedAd(answer("<p>x</p>", urls + ", \"clcodes\": \"c1\""));
    ASSERT_TRUE(asString);
    EXPECT_EQ(asString->clcode(), "");
    EXPECT_EQ(asString->clickDestinationURL()->absoluteString(), "http://h/c?x=");
}

TEST_F(HLAdRenderTest, KeysOfTheWrongKindCountAsAbsent) {
    Ref<HLAd> ad = renderedAd(
        "{\"ad_id\": \"seven\", \"size\": 3, \"ad_type\": [\"VIDEOA\"], \"html\": \"<p>x</p>\", "
        "\"video_clickable\": {}, \"countdown_length\": \"5\", \"storekit_info\": [1], \"close_style\": \"1\", "
        "\"video_button_properties\": 5, \"click_url\": 12, \"click_tracking_url\": \"http://h:port/\", "
        "\"clcodes\": [5], \"presentation_mode\": null, \"mute_image\": false}");
    ASSERT_TRUE(ad);
    EXPECT_TRUE(ad->adIdNumber().isNull());
    EXPECT_EQ(ad->size()->label(), "");
    EXPECT_TRUE(ad->type()->isEqual(*HLAdType::typeRegular()));
    EXPECT_FALSE(ad->videoClickableDuringPlayback());
    EXPECT_EQ(ad->countdownLength().integerValue(), 0);
    EXPECT_FALSE(ad->opensInStoreKit());
    EXPECT_EQ(ad->closeButtonStyle(), 0u);
    EXPECT_FALSE(ad->clickDestinationURL());
    EXPECT_FALSE(ad->clickTrackingURL());
    EXPECT_EQ(ad->clcode(), "");
    ASSERT_TRUE(ad->videoButtonProperties());
    EXPECT_TRUE(ad->videoButtonProperties()->isEqual(
        *NSObject::alloc<HLVideoButtonProperties>()->initWithSdk(sdk, Value())));
    EXPECT_TRUE(listener->contains("Ignoring \"storekit_info\" of the ad answer: not an object"));
    EXPECT_EQ(ad->description(), "Halcyon Ad #(null), REGULAR/");
}

TEST_F(HLAdRenderTest, NamesThatWouldLeaveTheCacheFolderAreRefused) {
    // Slot 31 allows the whole server, so that names can reach past "/res/".
    sdk->settingsManager()->putString(service.server().url("/"), kHLSlotResourceCachePrefix);
    const std::string base = service.server().url("/");
    const std::string page = "<a href=\"" + base + "..\"><b src=\"" + base + "res/ad.js\">";
    Ref<HLAd> ad = renderedAd(answer(page, "\"mute_image\": " + json(base + "res/a%2F..%2F..%2Fescape.png") +
                                               ", \"unmute_image\": " + json(base + "res/%2E")));
    ASSERT_TRUE(ad);
    EXPECT_EQ(ad->htmlSource(), "<a href=\"" + base + "..\"><b src=\"file://" + cacheFolder() + "res_ad.js\">");
    EXPECT_EQ(ad->muteImageFilename(), std::nullopt);
    EXPECT_EQ(ad->unmuteImageFilename(), std::nullopt);
    EXPECT_EQ(service.server().requestsTo("/..").size(), 0u);
    const std::string caches = NSSearchPathForDirectoriesInDomains(NSCachesDirectory, NSUserDomainMask, true).front();
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(caches + "/escape.png"));
    EXPECT_EQ(NSFileManager::defaultManager()->contentsOfDirectoryAtPath(cacheFolder()),
              (std::vector<std::string>{sdk->persistentPostbackManager()->queueFileName(), "res_ad.js"}));
}

TEST_F(HLAdRenderTest, ForceSslFetchesOverHttpsButKeepsTheNameFromThePage) {
    trustService();
    const std::string plain = "http://127.0.0.1:" + std::to_string(service.server().httpsPort()) + "/res/";
    sdk->settingsManager()->putString(plain, kHLSlotResourceCachePrefix);
    sdk->settingsManager()->putBool(true, kHLSlotForceSsl);
    Ref<HLAd> ad = renderedAd(answer("<img src=\"" + plain + "banner.png\">"));
    ASSERT_TRUE(ad);
    EXPECT_EQ(ad->htmlSource(), "<img src=\"file://" + cacheFolder() + "banner.png\">");
    auto requests = service.server().requestsTo("/res/banner.png");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].secure);
}

TEST_F(HLAdRenderTest, CachingSwitchedOffLeavesThePageAlone) {
    sdk->settingsManager()->putBool(false, 30);
    const std::string page = "<img src=\"" + res("banner.png") + "\">";
    Ref<HLAd> ad = renderedAd(answer(page));
    ASSERT_TRUE(ad);
    EXPECT_EQ(ad->htmlSource(), page);
    EXPECT_EQ(service.resourceRequestCount("banner.png"), 0u);
}

TEST_F(HLAdRenderTest, ResourcesOfAnotherSchemeAreNeverRead) {
    // A server that allows local files as resources.
    const std::string folder = home() + "/Documents/";
    for (const char* name : {"clip.mp4", "style.css"})
        ASSERT_TRUE(NSData::dataWithString("PRIVATE-BYTES").writeToFile(folder + name, true));
    sdk->settingsManager()->putString("file://" + folder, kHLSlotResourceCachePrefix);
    auto video = render(sdk, answer("<p>x</p>", "\"video\": " + json("file://" + folder + "clip.mp4")));
    EXPECT_EQ(video->only().code, -200);
    const std::string page = "<link href=\"file://" + folder + "style.css\">";
    Ref<HLAd> ad = renderedAd(answer(page));
    ASSERT_TRUE(ad);
    EXPECT_EQ(ad->htmlSource(), page);
    EXPECT_EQ(listener->count("Refused to fetch a \"file\" URL: only http and https are fetched"), 2u);
    EXPECT_FALSE(listener->contains("PRIVATE-BYTES"));
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(cacheFolder() + "clip.mp4"));
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(cacheFolder() + "style.css"));
}

TEST_F(HLAdRenderTest, AnswersPastTheRenderBoundsFailWithMinus700) {
    // "{CLCODE}" 8192 times with a 64-byte code: half a megabyte from 64 KiB.
    std::string repeated;
    for (int i = 0; i < 8192; ++i) repeated += "{CLCODE}";
    auto wide = render(sdk, answer("<p>x</p>", "\"click_url\": " + json("http://h/c?" + repeated) +
                                                   ", \"clcodes\": [" + json(std::string(64, 'c')) + "]"));
    ASSERT_EQ(wide->count(), 1u);
    EXPECT_EQ(wide->only().code, -700);
    ASSERT_TRUE(wide->only().spec);
    EXPECT_EQ(wide->only().spec->size()->label(), "INTER");
    EXPECT_TRUE(
        listener->contains("ERROR [HLTaskRenderIOSAd] Unable to render an ad: an address would pass 65536 bytes"));

    // 64 KiB as escaped is kept; a blank that escaping makes three bytes is not.
    const std::string head = "http://h/c?x=";
    auto clickUrl = [&](const std::string& url) { return answer("<p>x</p>", "\"click_url\": " + json(url)); };
    Ref<HLAd> fits = renderedAd(clickUrl(head + std::string(65536 - head.size(), 'a')));
    ASSERT_TRUE(fits);
    EXPECT_EQ(fits->clickDestinationURL()->absoluteString().size(), 65536u);
    EXPECT_EQ(render(sdk, clickUrl(head + std::string(65534 - head.size(), 'a') + " "))->only().code, -700);
}

TEST_F(HLAdRenderTest, ThePageAndItsAddressesShareSixteenMebibytes) {
    if (platform::testing::kThreadSanitizerBuild) GTEST_SKIP() << "16 MiB answers: the other builds cover it";
    const std::string head = "http://h/c?x=";
    const std::string page((16 << 20) - 100, 'p');
    EXPECT_TRUE(renderedAd(answer(page)));
    auto past = render(sdk, answer(page, "\"click_url\": " + json(head + std::string(100, 'a'))));
    EXPECT_EQ(past->only().code, -700);
    EXPECT_TRUE(listener->contains("Unable to render an ad: the render would pass 16777216 bytes"));

    // Sizes are worked out before anything is built: 8 MiB of macros with a
    // 1 MiB code (a tebibyte) are refused at once.
    std::string macros;
    for (int i = 0; i < (1 << 20); ++i) macros += "{CLCODE}";
    HLRenderBudget budget;
    EXPECT_FALSE(budget.expand(macros, "{CLCODE}", std::string(1 << 20, 'c')));
    EXPECT_TRUE(budget.isSpent());
    EXPECT_EQ(budget.remaining(), HLRenderBudget::kMaximumRenderedLength);
}

}  // namespace
