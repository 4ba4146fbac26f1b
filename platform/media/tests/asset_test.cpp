// Assets probed from generated files: duration, tracks, asynchronous key
// loading and the -11828 failure for anything that is not a local ISO-BMFF file.
#include <atomic>
#include <thread>

#include "MediaTest.h"
#include "platform/media/AVAsset.h"
#include "platform/runtime/NSThread.h"

namespace {

using media_test::MediaTest;

class AssetTest : public MediaTest {};

TEST_F(AssetTest, NullURLGivesNoAsset) {
    EXPECT_FALSE(AVAsset::assetWithURL(nullptr));
    EXPECT_FALSE(AVURLAsset::URLAssetWithURL(nullptr, Value()));
}

TEST_F(AssetTest, ProbedValuesOfAValidFile) {
    auto asset = AVAsset::assetWithURL(videoFile("v.mp4", 12.5, 600, CGSizeMake(1280, 720), true));
    ASSERT_TRUE(asset);
    EXPECT_TRUE(asset->isKindOfClass<AVURLAsset>());
    // Asked before loading: probed synchronously.
    CMTime d = asset->duration();
    EXPECT_EQ(d.value, 7500);
    EXPECT_EQ(d.timescale, 600);
    EXPECT_EQ(CMTimeGetSeconds(d), 12.5);
    ASSERT_EQ(asset->tracks().size(), 2u);
    auto video = asset->tracksWithMediaType(AVMediaTypeVideo);
    ASSERT_EQ(video.size(), 1u);
    EXPECT_EQ(video[0]->trackID(), 1);
    EXPECT_EQ(video[0]->mediaType(), "vide");
    EXPECT_EQ(video[0]->naturalSize(), CGSizeMake(1280, 720));
    auto audio = asset->tracksWithMediaType(AVMediaTypeAudio);
    ASSERT_EQ(audio.size(), 1u);
    EXPECT_EQ(audio[0]->naturalSize(), CGSizeZero);
    EXPECT_TRUE(asset->isPlayable());

    auto audioOnly = AVAsset::assetWithURL(videoFile("a.mp4", 3, 44100, CGSizeZero, true));
    EXPECT_TRUE(audioOnly->tracksWithMediaType(AVMediaTypeVideo).empty());
    EXPECT_EQ(audioOnly->duration().timescale, 44100);
}

TEST_F(AssetTest, LoadingRunsTheCompletionOnceOnAWorker) {
    auto asset = AVAsset::assetWithURL(videoFile("v.mp4", 4));
    Ref<NSError> error;
    EXPECT_EQ(asset->statusOfValueForKey("tracks", &error), AVKeyValueStatusUnknown);
    std::atomic<int> calls{0};
    std::atomic<bool> onMain{true};
    std::atomic<int> statusInside{-1};
    asset->loadValuesAsynchronouslyForKeys({"tracks", "duration", "playable"}, [&] {
        onMain = NSThread::isMainThread();
        statusInside = asset->statusOfValueForKey("tracks", nullptr);
        ++calls;
    });
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(onMain);
    EXPECT_EQ(statusInside, AVKeyValueStatusLoaded);
    EXPECT_EQ(asset->statusOfValueForKey("duration", &error), AVKeyValueStatusLoaded);
    EXPECT_FALSE(error);
}

TEST_F(AssetTest, ThingsThatDoNotOpenFailWithCannotOpen) {
    std::string page = home() + "/page.mp4";
    ASSERT_TRUE(NSData::dataWithString("<html><body>404</body></html>").writeToFile(page, true));
    std::string truncated = home() + "/cut.mp4";
    auto bytes = platform::testing::testMp4Bytes(5, 600, 64, 64, true);
    bytes.resize(bytes.size() - 3);
    ASSERT_TRUE(NSData(bytes).writeToFile(truncated, true));

    for (const auto& url : {NSURL::fileURLWithPath(page), NSURL::fileURLWithPath(truncated),
                            NSURL::fileURLWithPath(home() + "/missing.mp4"),
                            NSURL::URLWithString("https://example.com/video.mp4"), NSURL::fileURLWithPath(home())}) {
        SCOPED_TRACE(url->absoluteString());
        auto asset = AVAsset::assetWithURL(url);
        std::atomic<bool> done{false};
        asset->loadValuesAsynchronouslyForKeys({"tracks"}, [&] { done = true; });
        ASSERT_TRUE(driver().settle());
        EXPECT_TRUE(done);
        Ref<NSError> error;
        EXPECT_EQ(asset->statusOfValueForKey("tracks", &error), AVKeyValueStatusFailed);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain(), platform::AVFoundationErrorDomain);
        EXPECT_EQ(error->code(), -11828);
        EXPECT_EQ(error->localizedDescription(), "Cannot Open");
        EXPECT_FALSE(CMTIME_IS_VALID(asset->duration()));
        EXPECT_TRUE(asset->tracks().empty());
        EXPECT_FALSE(asset->isPlayable());
    }
}

TEST_F(AssetTest, UnsupportedKeysFail) {
    auto asset = AVAsset::assetWithURL(videoFile("v.mp4", 4));
    EXPECT_EQ(asset->statusOfValueForKey("lyrics", nullptr), AVKeyValueStatusUnknown);
    asset->loadValuesAsynchronouslyForKeys({"lyrics"}, nullptr);  // a null completion is fine
    ASSERT_TRUE(driver().settle());
    Ref<NSError> error;
    EXPECT_EQ(asset->statusOfValueForKey("lyrics", &error), AVKeyValueStatusFailed);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), -11800);
}

TEST_F(AssetTest, ConcurrentProbesAgree) {
    auto asset = AVAsset::assetWithURL(videoFile("v.mp4", 9, 90000));
    std::atomic<int> completions{0};
    for (int i = 0; i < 8; ++i)
        asset->loadValuesAsynchronouslyForKeys({"duration"}, [&] {
            EXPECT_EQ(asset->duration().value, 810000);
            ++completions;
        });
    EXPECT_EQ(asset->duration().timescale, 90000);
    ASSERT_TRUE(driver().settle());
    EXPECT_EQ(completions, 8);
}

}  // namespace
