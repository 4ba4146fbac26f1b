// The video store's refusals against the Trillium service on loopback, on the
// virtual clock: a refused URL's signed twins fail without a request while the
// refusal holds, another path of the file name is fetched and its file given to
// every URL of the name, a refusal lapses (60 s, doubling, at most an hour) so
// that a captive network's login page costs the video nothing lasting, and the
// refusals kept are bounded.
#include "Trillium/display/tests/TrilliumVideoTestSupport.h"
#include "platform/foundation/FileSystemConditions.h"

using simulator::Answer;
using simulator::TrilliumVideoAds;
using simulator::TrilliumVideoFile;

class TRAVideoRefusalTest : public TrilliumVideoTest {
protected:
    // Asks for the URL and runs until the ad hears; whether it loaded.
    bool loads(const std::string& url) {
        auto ad = videoAd(url);
        store()->downloadVideoWithUrl(url, ad);
        EXPECT_TRUE(waitFor([&] { return ad->heard(); })) << url;
        return !ad->paths.empty();
    }
    // Asks for the URL; whether the ad failed inside the call.
    bool failsAtOnce(const std::string& url) {
        auto ad = videoAd(url);
        store()->downloadVideoWithUrl(url, ad);
        return ad->failures == 1;
    }

    const std::string clip = TrilliumVideoAds::mp4File(TrilliumVideoFile::Valid, 40);
};

TEST_F(TRAVideoRefusalTest, SignedTwinsOfARefusedUrlFailAtOnceWithoutARequest) {
    // Announced over the cap (with the space for it), and a login page, each
    // asked by a signed URL as a server that signs every answer names it.
    platform::testing::FileSystemConditions::setFreeSpace(TRAAdSDKUtils::videoDestinationDirectoryPath(), 6000000000);
    videos.serveFile("huge.mp4", Answer::ok(clip).header("Content-Length", "5000000000"));
    videos.serveFile("page.mp4", TrilliumVideoAds::loginPage());
    for (const std::string file : {"huge.mp4", "page.mp4"}) {
        EXPECT_FALSE(loads(videos.videoUrl(file + "?sig=1")));
        // Another signature, none, a fragment, the scheme in capitals.
        for (const std::string& twin : {videos.videoUrl(file + "?sig=2&exp=9"), videos.videoUrl(file),
                                       videos.videoUrl(file + "#t=5"), "HTTP" + videos.videoUrl(file).substr(4)})
            EXPECT_TRUE(failsAtOnce(twin)) << twin;
        EXPECT_EQ(videos.fileRequests(file).size(), 1u) << file;
        EXPECT_EQ(store()->getVideosDBCopy().count(), 0u);
    }
    const std::string page = videos.videoUrl("page.mp4");
    EXPECT_TRUE(logCapture().contains("Video URL " + page +
                                      " is refused for 60 s: asks of it, whatever their query, fail without a "
                                      "request until then."));
    EXPECT_TRUE(logCapture().contains("Video download of " + page + "?sig=2&exp=9 is not tried: " + page +
                                      " was refused 0 s ago (the file is not a playable video ("));
    EXPECT_TRUE(logCapture().contains(") and is fetched again only after 60 s more; the video ad fails."));

    // A failure that is no refusal is tried again at the next ask.
    videos.serveFile("gone.mp4", Answer::withStatus(404));
    EXPECT_FALSE(loads(videos.videoUrl("gone.mp4?sig=1")));
    EXPECT_FALSE(loads(videos.videoUrl("gone.mp4?sig=2")));
    EXPECT_EQ(videos.fileRequests("gone.mp4").size(), 2u);
}

TEST_F(TRAVideoRefusalTest, AnotherPathOfTheNameIsFetchedAndItsFileGivenToTheRefusedUrl) {
    videos.serveFile("clip.mp4", TrilliumVideoAds::loginPage());
    service.server().route("GET", "/v2/clip.mp4", Answer::ok(clip));
    EXPECT_FALSE(loads(videos.videoUrl("clip.mp4?sig=a")));

    EXPECT_TRUE(loads(service.server().url("/v2/clip.mp4?sig=b")));
    EXPECT_EQ(service.server().requestsTo("/v2/clip.mp4").size(), 1u);
    EXPECT_EQ(contents(finalPath("clip.mp4")), clip);
    // The refused URL gets the loaded file at once, inside the call.
    auto refused = videoAd("refused");
    store()->downloadVideoWithUrl(videos.videoUrl("clip.mp4?sig=c"), refused);
    EXPECT_EQ(refused->paths, std::vector<std::string>{finalPath("clip.mp4")});

    // Without the file, the refusal still holds for its URL alone.
    NSFileManager::defaultManager()->removeItemAtPath(finalPath("clip.mp4"));
    EXPECT_TRUE(failsAtOnce(videos.videoUrl("clip.mp4?sig=d")));
    EXPECT_EQ(videos.fileRequests("clip.mp4").size(), 1u);
}

TEST_F(TRAVideoRefusalTest, ALoginPageThenTheRealFileLoadsOnceTheRefusalLapses) {
    videos.serveFile("clip.mp4", std::vector<Answer>{TrilliumVideoAds::loginPage(), Answer::ok(clip)});
    EXPECT_FALSE(loads(videos.videoUrl("clip.mp4?sig=1")));
    driver().advance(59.5);
    EXPECT_TRUE(failsAtOnce(videos.videoUrl("clip.mp4?sig=2")));
    EXPECT_EQ(videos.fileRequests("clip.mp4").size(), 1u);

    driver().advance(0.5);
    EXPECT_TRUE(loads(videos.videoUrl("clip.mp4?sig=3")));
    EXPECT_EQ(videos.fileRequests("clip.mp4").size(), 2u);
    EXPECT_EQ(contents(finalPath("clip.mp4")), clip);
    EXPECT_FALSE(exists(partialPath("clip.mp4")));
    EXPECT_TRUE(logCapture().contains("The refusal of video URL " + videos.videoUrl("clip.mp4") +
                                      " has lapsed; it is tried again."));

    // A URL that brought the video starts afresh: a later login page holds
    // it back a minute again, not two.
    NSFileManager::defaultManager()->removeItemAtPath(finalPath("clip.mp4"));
    videos.serveFile("clip.mp4", std::vector<Answer>{TrilliumVideoAds::loginPage(), Answer::ok(clip)});
    EXPECT_FALSE(loads(videos.videoUrl("clip.mp4?sig=4")));
    driver().advance(60);
    EXPECT_TRUE(loads(videos.videoUrl("clip.mp4?sig=5")));
    EXPECT_EQ(videos.fileRequests("clip.mp4").size(), 4u);
}

TEST_F(TRAVideoRefusalTest, AUrlThatStaysBadIsFetchedAFewTimesAnHour) {
    videos.serveFile("clip.mp4", TrilliumVideoAds::loginPage());
    // An ad asking every 30 s, each time with a new signature, for three hours.
    std::vector<int> fetchedAt;
    for (int second = 0; second <= 3 * 3600; second += 30) {
        size_t before = videos.fileRequests("clip.mp4").size();
        EXPECT_FALSE(loads(videos.videoUrl("clip.mp4?sig=" + std::to_string(second))));
        if (videos.fileRequests("clip.mp4").size() > before) fetchedAt.push_back(second);
        driver().advance(30);
    }
    // Holds of 60, 120, 240, 480, 960, 1920 s, then an hour each.
    EXPECT_EQ(fetchedAt, (std::vector<int>{0, 60, 180, 420, 900, 1860, 3780, 7380}));
    EXPECT_EQ(store()->getVideosDBCopy().count(), 0u);
    EXPECT_TRUE(logCapture().contains("Video URL " + videos.videoUrl("clip.mp4") + " is refused for 3600 s"));
}

TEST_F(TRAVideoRefusalTest, AtMost64UrlsAreRefusedTheOneEndingFirstGivingWay) {
    const size_t most = TRAVideosManager::kMaximumRefusals;
    for (size_t i = 0; i <= most; ++i) {
        const std::string file = "page" + std::to_string(i) + ".mp4";
        videos.serveFile(file, TrilliumVideoAds::loginPage());
        EXPECT_FALSE(loads(videos.videoUrl(file)));
        driver().advance(0.5);
    }
    // The first refusal gave way to the last; the second holds.
    EXPECT_TRUE(failsAtOnce(videos.videoUrl("page1.mp4?sig=2")));
    EXPECT_TRUE(failsAtOnce(videos.videoUrl("page" + std::to_string(most) + ".mp4?sig=2")));
    EXPECT_EQ(videos.fileRequests("page1.mp4").size(), 1u);
    EXPECT_FALSE(loads(videos.videoUrl("page0.mp4?sig=2")));
    EXPECT_EQ(videos.fileRequests("page0.mp4").size(), 2u);
}
