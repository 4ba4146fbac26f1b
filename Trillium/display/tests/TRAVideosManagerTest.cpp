// The video store against the Trillium service's video files on loopback:
// one download per file with its waiting ads told last added first, loaded
// files reported inside the call, the clean-up above the maximum, every way a
// download can fail (each leaves no final file and no entry: also a body that
// is no playable video, or over the cap, and a URL that is not http), another
// URL of a name fetched into it when its file is not there, the stored table's
// keys and what a fresh store makes of a table left by another process, a
// table saved while the preferences cannot be read, and a video URL's
// password hidden in its lines however the URL is spelled.
// Refusals are in TRAVideoRefusalTest.cpp.
#include "Trillium/TRAAdCache.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/TRATrilliumSDK.h"
#include "Trillium/display/tests/TrilliumVideoTestSupport.h"
#include "platform/foundation/FileSystemConditions.h"
#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/foundation/PropertyList.h"
#include "platform/net/NetworkConditions.h"
#include "platform/testing/UnreadableFiles.h"

using simulator::Answer;
using simulator::TrilliumVideoAds;
using simulator::TrilliumVideoFile;

namespace {

const std::string kClipBytes = TrilliumVideoAds::mp4File(TrilliumVideoFile::Valid, 40);

// A cached video ad carrying the file's URL, as the ad cache holds it.
void cacheVideoAd(const std::string& url, int64_t eventType) {
    auto ad = NSObject::alloc<TRAHtmlAd>()->init();
    auto preferences = NSObject::alloc<TRAAdVideoPreferences>()->init();
    preferences->setVideoUrl(url);
    ad->setVideoPref(preferences);
    auto key = NSObject::alloc<TRACacheKey>()->initWithAdType(5, eventType);
    TRAAdCache::sharedInstance()->loaderForKey(*key, true)->setInternalAd(ad);
}

}  // namespace

class TRAVideosManagerTest : public TrilliumVideoTest {};

TEST_F(TRAVideosManagerTest, AdsWaitingOnOneDownloadShareItsConnectionAndHearLastAddedFirst) {
    videos.serveFile("clip.mp4", Answer::stall(Answer::ok(kClipBytes)));
    auto first = videoAd("first"), second = videoAd("second");
    store()->downloadVideoWithUrl(videos.videoUrl("clip.mp4"), first);
    ASSERT_TRUE(waitFor([&] { return service.server().stalledCount() >= 1; }));
    driver().drain();
    store()->downloadVideoWithUrl(videos.videoUrl("clip.mp4"), second);
    EXPECT_TRUE(store()->downloaderForFileName("clip.mp4")->downloading());
    service.server().releaseStalled();
    ASSERT_TRUE(waitFor([&] { return first->heard() && second->heard(); }));

    EXPECT_EQ(videos.fileRequests("clip.mp4").size(), 1u);
    EXPECT_EQ(log, (std::vector<std::string>{"second loaded", "first loaded"}));
    EXPECT_EQ(first->paths, std::vector<std::string>{finalPath("clip.mp4")});
    EXPECT_EQ(contents(finalPath("clip.mp4")), kClipBytes);
    EXPECT_FALSE(exists(partialPath("clip.mp4")));
    EXPECT_FALSE(store()->downloaderForFileName("clip.mp4")->downloading());

    // Loaded: the next ad hears inside the call, and nothing is fetched again.
    auto third = videoAd("third");
    store()->downloadVideoWithUrl(videos.videoUrl("clip.mp4"), third);
    EXPECT_EQ(third->paths, std::vector<std::string>{finalPath("clip.mp4")});
    EXPECT_EQ(videos.fileRequests("clip.mp4").size(), 1u);
}

TEST_F(TRAVideosManagerTest, AVanishedFileIsFetchedAgain) {
    videos.serveFile("clip.mp4", kClipBytes);
    ASSERT_TRUE(fetch("clip.mp4", videoAd("first")));
    NSFileManager::defaultManager()->removeItemAtPath(finalPath("clip.mp4"));
    auto again = videoAd("again");
    ASSERT_TRUE(fetch("clip.mp4", again));
    EXPECT_EQ(again->paths.size(), 1u);
    EXPECT_EQ(videos.fileRequests("clip.mp4").size(), 2u);
    EXPECT_EQ(contents(finalPath("clip.mp4")), kClipBytes);

    // Gone again, and its URL answers no more: another URL of its name is
    // fetched into it, and the entry keeps that URL.
    NSFileManager::defaultManager()->removeItemAtPath(finalPath("clip.mp4"));
    videos.serveFile("clip.mp4", Answer::withStatus(404));
    const std::string other = TrilliumVideoAds::mp4File(TrilliumVideoFile::Valid, 15);
    service.server().route("GET", "/v2/clip.mp4", Answer::ok(other));
    auto moved = videoAd("moved");
    store()->downloadVideoWithUrl(service.server().url("/v2/clip.mp4"), moved);
    ASSERT_TRUE(waitFor([&] { return moved->heard(); }));
    EXPECT_EQ(moved->paths, std::vector<std::string>{finalPath("clip.mp4")});
    EXPECT_EQ(contents(finalPath("clip.mp4")), other);
    EXPECT_EQ(videos.fileRequests("clip.mp4").size(), 2u);
    EXPECT_EQ(store()->downloaderForFileName("clip.mp4")->videoUrl(), service.server().url("/v2/clip.mp4"));
}

TEST_F(TRAVideosManagerTest, NamesComeFromTheLastPathComponentWithMp4) {
    videos.serveFile("movie.mov", kClipBytes);
    auto ad = videoAd("ad");
    ASSERT_TRUE(fetch("movie.mov", ad));
    EXPECT_EQ(ad->paths, std::vector<std::string>{finalPath("movie.mp4")});
    EXPECT_NE(store()->downloaderForFileName("movie.mp4"), nullptr);

    // A URL that names no file fails at once, without a request.
    auto dots = videoAd("dots");
    store()->downloadVideoWithUrl(service.server().url("/videos/.."), dots);
    EXPECT_EQ(dots->failures, 1);
    EXPECT_EQ(store()->getVideosDBCopy().count(), 1u);
}

TEST_F(TRAVideosManagerTest, TheCleanUpSparesCachedAndPlayingVideosAndStopsAtTheMaximum) {
    for (const char* name : {"a.mp4", "b.mp4", "c.mp4", "d.mp4"}) videos.serveFile(name, kClipBytes);
    for (const char* name : {"a.mp4", "b.mp4", "c.mp4"}) ASSERT_TRUE(fetch(name, videoAd(name)));
    // Three videos at a maximum of three: nothing is deleted.
    EXPECT_EQ(store()->getVideosDBCopy().keys(), (std::vector<std::string>{"a.mp4", "b.mp4", "c.mp4"}));

    cacheVideoAd(videos.videoUrl("a.mp4"), 0);
    store()->setNowPlayingVideoFileName(std::string("b.mp4"));
    auto fourth = videoAd("d");
    ASSERT_TRUE(fetch("d.mp4", fourth));
    // The new entry counts too; "c.mp4" is the first one not spared.
    EXPECT_EQ(store()->getVideosDBCopy().keys(), (std::vector<std::string>{"a.mp4", "b.mp4", "d.mp4"}));
    EXPECT_FALSE(exists(finalPath("c.mp4")));
    EXPECT_TRUE(exists(finalPath("a.mp4")) && exists(finalPath("b.mp4")) && exists(finalPath("d.mp4")));
    EXPECT_EQ(fourth->paths.size(), 1u);
}

TEST_F(TRAVideosManagerTest, AnEntryTheCleanUpDeletesFailsItsAdsWithoutADownload) {
    NSUserDefaults::standardUserDefaults()->setObject(Value(int64_t{1}), "TRAMaxCachedVideos");
    videos.serveFile("a.mp4", kClipBytes);
    videos.serveFile("b.mp4", kClipBytes);
    ASSERT_TRUE(fetch("a.mp4", videoAd("a")));
    cacheVideoAd(videos.videoUrl("a.mp4"), 0);
    auto b = videoAd("b");
    ASSERT_TRUE(fetch("b.mp4", b));
    EXPECT_EQ(b->failures, 1);
    EXPECT_TRUE(videos.fileRequests("b.mp4").empty());
    EXPECT_EQ(store()->getVideosDBCopy().keys(), std::vector<std::string>{"a.mp4"});
}

TEST_F(TRAVideosManagerTest, AFinalFileThatAppearedMeanwhileCountsAsLoaded) {
    videos.serveFile("clip.mp4", Answer::stall(Answer::ok(kClipBytes)));
    auto ad = videoAd("ad");
    store()->downloadVideoWithUrl(videos.videoUrl("clip.mp4"), ad);
    ASSERT_TRUE(waitFor([&] { return service.server().stalledCount() >= 1; }));
    ASSERT_TRUE(NSFileManager::defaultManager()->createFileAtPath(finalPath("clip.mp4"), NSData::dataWithString("first")));
    service.server().releaseStalled();
    ASSERT_TRUE(waitFor([&] { return ad->heard(); }));
    EXPECT_EQ(ad->paths, std::vector<std::string>{finalPath("clip.mp4")});
    EXPECT_EQ(contents(finalPath("clip.mp4")), "first");
    EXPECT_FALSE(exists(partialPath("clip.mp4")));
}

// Each bad answer fails the ad, and leaves neither a file nor an entry.
struct TRAVideosManagerBadAnswer {
    const char* name;
    std::function<Answer()> answer;
};
void PrintTo(const TRAVideosManagerBadAnswer& bad, std::ostream* out) { *out << bad.name; }

class TRAVideosManagerFailureTest : public TrilliumVideoTest,
                                    public ::testing::WithParamInterface<TRAVideosManagerBadAnswer> {};

TEST_P(TRAVideosManagerFailureTest, FailsWithNoFinalFile) {
    videos.serveFile("clip.mp4", GetParam().answer());
    auto ad = videoAd("ad");
    ASSERT_TRUE(fetch("clip.mp4", ad));
    EXPECT_EQ(ad->failures, 1);
    EXPECT_TRUE(ad->paths.empty());
    EXPECT_FALSE(exists(finalPath("clip.mp4")));
    EXPECT_FALSE(exists(partialPath("clip.mp4")));
    EXPECT_EQ(store()->downloaderForFileName("clip.mp4"), nullptr);
    EXPECT_EQ(store()->getVideosDBCopy().count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    BadAnswers, TRAVideosManagerFailureTest,
    ::testing::Values(
        TRAVideosManagerBadAnswer{"NotFound", [] { return Answer::withStatus(404, "not here"); }},
        TRAVideosManagerBadAnswer{"ServerError", [] { return Answer::withStatus(500, kClipBytes); }},
        TRAVideosManagerBadAnswer{"Redirect", [] { return Answer::redirect("/videos/other.mp4"); }},
        TRAVideosManagerBadAnswer{"Dropped", [] { return Answer::drop(); }},
        TRAVideosManagerBadAnswer{"TruncatedBody", [] { return Answer::truncated(kClipBytes, kClipBytes.size() / 2); }},
        // The whole file sent under a lower length: the client reads a cut file.
        TRAVideosManagerBadAnswer{"LengthBelowTheFile",
                                  [] {
                                      return Answer::ok(kClipBytes).header("Content-Length",
                                                                           std::to_string(kClipBytes.size() - 16));
                                  }},
        TRAVideosManagerBadAnswer{"NotAVideo", [] { return Answer::ok("<html><body>Moved</body></html>"); }},
        TRAVideosManagerBadAnswer{"CutFile",
                                  [] { return Answer::ok(TrilliumVideoAds::mp4File(TrilliumVideoFile::Truncated, 40)); }},
        TRAVideosManagerBadAnswer{"NoVideoTrack",
                                  [] { return Answer::ok(TrilliumVideoAds::mp4File(TrilliumVideoFile::NoVideoTrack, 40)); }},
        TRAVideosManagerBadAnswer{"NoDuration",
                                  [] { return Answer::ok(TrilliumVideoAds::mp4File(TrilliumVideoFile::ZeroDuration, 40)); }},
        TRAVideosManagerBadAnswer{"OverTheCapUnannounced",
                                  [] {
                                      std::string body = kClipBytes;
                                      body.resize(TRAVideoDownloader::kMaximumVideoBytes + 1, '\0');
                                      return Answer::ok(std::move(body)).unframed();
                                  }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TRAVideosManagerTest, OnlyHttpAndHttpsVideosAreFetched) {
    for (const std::string url : {"file:///etc/hostname", "FILE:///etc/hostname.mp4",
                                  "data:video/mp4;base64,AAAAGGZ0eXBpc29t", "ftp://127.0.0.1/videos/clip.mp4",
                                  "trilliumad://videos/clip.mp4", "http:///clip.mp4"}) {
        auto ad = videoAd(url);
        store()->downloadVideoWithUrl(url, ad);
        EXPECT_EQ(ad->failures, 1) << url;  // at once, inside the call
        EXPECT_TRUE(ad->paths.empty()) << url;
    }
    EXPECT_EQ(store()->getVideosDBCopy().count(), 0u);
    EXPECT_TRUE(NSFileManager::defaultManager()->contentsOfDirectoryAtPath(TRAAdSDKUtils::videoDestinationDirectoryPath()).empty());
    EXPECT_TRUE(logCapture().contains("Video URL \"file:///etc/hostname\" is not an http or https URL; the video ad fails."));

    // The scheme is read without regard to case.
    videos.serveFile("clip.mp4", kClipBytes);
    auto upper = videoAd("upper");
    store()->downloadVideoWithUrl("HTTP" + videos.videoUrl("clip.mp4").substr(4), upper);
    ASSERT_TRUE(waitFor([&] { return upper->heard(); }));
    EXPECT_EQ(upper->paths, std::vector<std::string>{finalPath("clip.mp4")});
}

// A video URL with a password, spelled as a URL parser or a browser still
// reads it (white space before it, no scheme, backslashes, no slashes), is
// refused with a line that does not show the password.
TEST_F(TRAVideosManagerTest, AVideoURLIsLoggedWithoutItsPasswordHoweverItIsSpelled) {
    const std::string rest = videos.videoUrl("clip.mp4").substr(std::string("http://").size());
    const std::pair<std::string, std::string> spellings[] = {
        {" http://", " http://"}, {"\thttp://", "\\thttp://"}, {"//", "//"}, {"http:\\\\", "http:\\\\"}, {"http:", "http:"}};
    for (const auto& [before, logged] : spellings) {
        auto ad = videoAd(before);
        store()->downloadVideoWithUrl(before + "user:secret@" + rest, ad);
        EXPECT_EQ(ad->failures, 1) << before;
        EXPECT_TRUE(logCapture().contains("Video URL \"" + logged + "***@" + rest + "\" is not an http or https URL"))
            << before;
    }
    EXPECT_TRUE(videos.fileRequests("clip.mp4").empty());
    expectBoundedLogLines();
}

TEST_F(TRAVideosManagerTest, WithoutANetworkOrSpaceTheAdFailsAtOnce) {
    platform::testing::NetworkConditions::set(NetworkState::None);
    auto offline = videoAd("offline");
    store()->downloadVideoWithUrl(videos.videoUrl("clip.mp4"), offline);
    EXPECT_EQ(offline->failures, 1);
    EXPECT_EQ(store()->getVideosDBCopy().count(), 0u);
    platform::testing::NetworkConditions::set(NetworkState::WiFi);

    NSUserDefaults::standardUserDefaults()->setObject(Value(int64_t{1} << 40), "TRAMinAvailableStorageRequired");
    auto full = videoAd("full");
    store()->downloadVideoWithUrl(videos.videoUrl("clip.mp4"), full);
    EXPECT_EQ(full->failures, 1);
    EXPECT_EQ(store()->getVideosDBCopy().count(), 0u);
    EXPECT_TRUE(videos.fileRequests("clip.mp4").empty());
}

TEST_F(TRAVideosManagerTest, TheAnnouncedLengthMustFitTheVideoFoldersFreeSpaceAndTheCap) {
    using platform::testing::FileSystemConditions;
    const std::string folder = TRAAdSDKUtils::videoDestinationDirectoryPath();
    videos.serveFile("clip.mp4", kClipBytes);
    FileSystemConditions::setFreeSpace(folder, kClipBytes.size());
    auto tight = videoAd("tight");
    ASSERT_TRUE(fetch("clip.mp4", tight));
    EXPECT_EQ(tight->failures, 1);

    FileSystemConditions::setFreeSpace(folder, kClipBytes.size() + 1);
    auto enough = videoAd("enough");
    ASSERT_TRUE(fetch("clip.mp4", enough));
    EXPECT_EQ(enough->paths.size(), 1u);

    // 5,000,000,000 bytes announced: its low 32 bits would pass, and so would the free
    // space; the cap refuses it.
    videos.serveFile("huge.mp4", Answer::ok(kClipBytes).header("Content-Length", "5000000000"));
    FileSystemConditions::setFreeSpace(folder, 6000000000);
    auto huge = videoAd("huge");
    ASSERT_TRUE(fetch("huge.mp4", huge));
    EXPECT_EQ(huge->failures, 1);
    EXPECT_TRUE(logCapture().contains("Video download of " + videos.videoUrl("huge.mp4") +
                                      " failed: the transfer failed (The resource exceeds the maximum size.)."));

    // An unstated length is not weighed.
    FileSystemConditions::setFreeSpace(folder, 1);
    videos.serveFile("unframed.mp4", Answer::ok(kClipBytes).unframed());
    auto unframed = videoAd("unframed");
    ASSERT_TRUE(fetch("unframed.mp4", unframed));
    EXPECT_EQ(unframed->paths.size(), 1u);
    EXPECT_EQ(contents(finalPath("unframed.mp4")), kClipBytes);
}

TEST_F(TRAVideosManagerTest, AWriteThatFailsMidBodyLeavesNoFile) {
    videos.serveFile("clip.mp4", Answer::stall(Answer::ok(kClipBytes)));
    auto ad = videoAd("ad");
    store()->downloadVideoWithUrl(videos.videoUrl("clip.mp4"), ad);
    ASSERT_TRUE(waitFor([&] { return service.server().stalledCount() >= 1; }));
    ASSERT_TRUE(exists(partialPath("clip.mp4")));
    platform::testing::FileSystemConditions::setWritesFail(TRAAdSDKUtils::videoDestinationDirectoryPath(), true);
    service.server().releaseStalled();
    ASSERT_TRUE(waitFor([&] { return ad->heard(); }));
    EXPECT_EQ(ad->failures, 1);
    EXPECT_FALSE(exists(finalPath("clip.mp4")));
    EXPECT_FALSE(exists(partialPath("clip.mp4")));
    EXPECT_EQ(store()->getVideosDBCopy().count(), 0u);
}

TEST_F(TRAVideosManagerTest, AForgottenDownloadLeavesTheNewerOneAlone) {
    videos.serveFile("clip.mp4", std::vector<Answer>{Answer::stall(Answer::ok(kClipBytes)), Answer::ok(kClipBytes)});
    auto old = videoAd("old");
    store()->downloadVideoWithUrl(videos.videoUrl("clip.mp4"), old);
    ASSERT_TRUE(waitFor([&] { return service.server().stalledCount() >= 1; }));
    store()->removeVideo("clip.mp4");
    EXPECT_EQ(old->failures, 1);

    auto fresh = videoAd("fresh");
    ASSERT_TRUE(fetch("clip.mp4", fresh));
    service.server().releaseStalled();
    ASSERT_TRUE(driver().settle(5));
    EXPECT_EQ(fresh->paths.size(), 1u);
    EXPECT_EQ(old->failures, 1);
    EXPECT_TRUE(old->paths.empty());
    EXPECT_EQ(contents(finalPath("clip.mp4")), kClipBytes);
    EXPECT_TRUE(store()->downloaderForFileName("clip.mp4")->videoIsLoaded());
}

TEST_F(TRAVideosManagerTest, TheTableIsStoredUnderItsKeysAndReadBackConsistentWithTheDisk) {
    videos.serveFile("a.mp4", kClipBytes);
    ASSERT_TRUE(fetch("a.mp4", videoAd("a")));

    auto stored = NSUserDefaults::standardUserDefaults()->dataForKey(TRAVideosManager::kVideosDbKey);
    ASSERT_TRUE(stored);
    auto root = platform::PropertyList::valueWithData(*stored);
    ASSERT_TRUE(root);
    const Value& entry = (*root)["$top"]["$dict"]["a.mp4"];
    EXPECT_EQ(entry["$class"], Value("TRAVideoDownloader"));
    EXPECT_EQ(entry["$fields"].keys(),
              (std::vector<std::string>{"TRAVIDEOSMANAGERVideoUrl", "TRAVIDEOSMANAGERDestPath",
                                        "TRAVIDEOSMANAGERFilename", "TRAVIDEOSMANAGERVideoIsLoaded",
                                        "TRAVIDEOSMANAGERDownloading"}));

    // What a killed process leaves: an entry saved while it downloaded, with
    // its partial file, and a moved file whose entry was saved before the move.
    videos.serveFile("b.mp4", Answer::stall(Answer::ok(kClipBytes)));
    videos.serveFile("c.mp4", Answer::stall(Answer::ok(kClipBytes)));
    store()->downloadVideoWithUrl(videos.videoUrl("b.mp4"), videoAd("b"));
    store()->downloadVideoWithUrl(videos.videoUrl("c.mp4"), videoAd("c"));
    ASSERT_TRUE(waitFor([&] { return service.server().stalledCount() >= 2; }));
    store()->saveVideosDBToLocalData();
    ASSERT_TRUE(exists(partialPath("b.mp4")));
    NSFileManager::defaultManager()->createFileAtPath(finalPath("c.mp4"), NSData::dataWithString(kClipBytes));
    restartProcessState();

    auto next = NSObject::alloc<TRAVideosManager>()->init();
    EXPECT_EQ(next->getVideosDBCopy().keys(), (std::vector<std::string>{"a.mp4", "b.mp4", "c.mp4"}));
    EXPECT_TRUE(next->downloaderForFileName("a.mp4")->videoIsLoaded());
    EXPECT_FALSE(next->downloaderForFileName("b.mp4")->downloading());
    EXPECT_FALSE(next->downloaderForFileName("b.mp4")->videoIsLoaded());
    EXPECT_FALSE(exists(partialPath("b.mp4")));
    EXPECT_TRUE(next->downloaderForFileName("c.mp4")->videoIsLoaded());
    EXPECT_EQ(next->downloaderForFileName("c.mp4")->destPath(), finalPath("c.mp4"));
}

// The preferences cannot be read at a start (through the read seam, or chmod
// 000 without root's override): the table this start saves does not replace
// the stored one. Once they read, what it changed is laid over the stored
// table (a video fetched is added, one removed goes), and the stored others
// stay, loaded and not fetched again, then and after a restart.
using TRAVideosManagerUnreadableTest = platform::testing::UnreadableFileTest<TrilliumVideoTest>;

TEST_P(TRAVideosManagerUnreadableTest, ATableSavedWhileThePreferencesCannotBeReadKeepsTheStoredEntries) {
    // The table an earlier start stored, its videos on disk.
    ASSERT_TRUE(NSFileManager::defaultManager()->createDirectoryAtPath(TRAAdSDKUtils::videoDestinationDirectoryPath(), true));
    ValueDictionary table;
    for (const char* name : {"a.mp4", "b.mp4", "gone.mp4"}) {
        auto downloader = NSObject::alloc<TRAVideoDownloader>()->initWithVideoUrl(videos.videoUrl(name), nullptr);
        downloader->setVideoIsLoaded(true);
        downloader->setDestPath(finalPath(name));
        ASSERT_TRUE(NSFileManager::defaultManager()->createFileAtPath(finalPath(name), NSData::dataWithString(kClipBytes)));
        table.set(name, Value(downloader));
    }
    NSUserDefaults::standardUserDefaults()->setObject(
        Value(NSKeyedArchiver::archivedDataWithRootObject(Value(table))), TRAVideosManager::kVideosDbKey);
    const std::string file = home() + "/Library/Preferences/com.paranormal.detector.plist";
    ASSERT_TRUE(platform::testing::setUnreadable(file, GetParam(), true));
    restartProcessState();

    videos.serveFile("c.mp4", kClipBytes);
    ASSERT_TRUE(fetch("c.mp4", videoAd("c")));
    store()->removeVideo("gone.mp4");
    EXPECT_EQ(store()->getVideosDBCopy().keys(), std::vector<std::string>{"c.mp4"});
    ASSERT_TRUE(platform::testing::setUnreadable(file, GetParam(), false));

    auto expectLaidOver = [this](const Ref<TRAVideosManager>& manager) {
        EXPECT_EQ(manager->getVideosDBCopy().keys(), (std::vector<std::string>{"a.mp4", "b.mp4", "c.mp4"}));
        for (const char* name : {"a.mp4", "b.mp4", "c.mp4"}) {
            auto entry = manager->downloaderForFileName(name);
            EXPECT_TRUE(entry && entry->videoIsLoaded()) << name;
        }
        EXPECT_FALSE(exists(finalPath("gone.mp4")));
    };
    expectLaidOver(store());
    auto a = videoAd("a");
    store()->downloadVideoWithUrl(videos.videoUrl("a.mp4"), a);
    EXPECT_EQ(a->paths, std::vector<std::string>{finalPath("a.mp4")});
    EXPECT_TRUE(videos.fileRequests("a.mp4").empty());
    restartProcessState();
    expectLaidOver(NSObject::alloc<TRAVideosManager>()->init());
}

INSTANTIATE_TEST_SUITE_P(Preferences, TRAVideosManagerUnreadableTest,
                         ::testing::Values(platform::testing::Unreadable::ReadsFail,
                                           platform::testing::Unreadable::Chmod000),
                         platform::testing::unreadableTestName);
