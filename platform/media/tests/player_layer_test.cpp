// The player layer: readiness for display a pass after the item is ready (video
// only) and the picture rectangle under each video gravity.
#include "MediaTest.h"
#include "platform/media/AVPlayerLayer.h"

namespace {

using media_test::MediaTest;
using media_test::Recorder;
using Events = std::vector<std::string>;

class PlayerLayerTest : public MediaTest {
protected:
    Ref<Recorder> rec = NSObject::alloc<Recorder>();
};

TEST_F(PlayerLayerTest, ReadyForDisplayThePassAfterTheItem) {
    auto player = AVPlayer::playerWithURL(videoFile("v.mp4", 5, 600, CGSizeMake(1280, 720)));
    auto layer = AVPlayerLayer::playerLayerWithPlayer(player);
    layer->addObserver(rec, "readyForDisplay", NSKeyValueObservingOptionNew | NSKeyValueObservingOptionInitial,
                       nullptr);
    EXPECT_EQ(rec->take(), (Events{"readyForDisplay 0"}));
    driver().drain();
    EXPECT_EQ(player->currentItem()->status(), AVPlayerItemStatusReadyToPlay);
    EXPECT_TRUE(layer->isReadyForDisplay());
    EXPECT_EQ(rec->take(), (Events{"readyForDisplay 1"}));

    // A new item: not ready until a pass after it is.
    player->replaceCurrentItemWithPlayerItem(AVPlayerItem::playerItemWithURL(videoFile("w.mp4", 2)));
    EXPECT_FALSE(layer->isReadyForDisplay());
    driver().drain();
    EXPECT_TRUE(layer->isReadyForDisplay());
    layer->setPlayer(nullptr);
    EXPECT_FALSE(layer->isReadyForDisplay());
    EXPECT_EQ(rec->take(), (Events{"readyForDisplay 0", "readyForDisplay 1", "readyForDisplay 0"}));
}

TEST_F(PlayerLayerTest, ReadinessComesOnePassLater) {
    auto item = AVPlayerItem::playerItemWithURL(videoFile("v.mp4", 5));
    auto player = AVPlayer::playerWithPlayerItem(item);
    driver().drain();
    // A layer made for an item that is already ready shows at the next pass, not inside the call.
    auto layer = AVPlayerLayer::playerLayerWithPlayer(player);
    EXPECT_FALSE(layer->isReadyForDisplay());
    driver().drain();
    EXPECT_TRUE(layer->isReadyForDisplay());
}

TEST_F(PlayerLayerTest, NeverReadyForAudioOnlyOrFailedItems) {
    auto audio = AVPlayerLayer::playerLayerWithPlayer(
        AVPlayer::playerWithURL(videoFile("a.mp4", 5, 44100, CGSizeZero, true)));
    auto failed = AVPlayerLayer::playerLayerWithPlayer(
        AVPlayer::playerWithURL(NSURL::fileURLWithPath(home() + "/missing.mp4")));
    driver().advance(1);
    EXPECT_FALSE(audio->isReadyForDisplay());
    EXPECT_FALSE(failed->isReadyForDisplay());
    EXPECT_EQ(audio->videoRect(), CGRectZero);
}

TEST_F(PlayerLayerTest, VideoRectByGravity) {
    auto layer = AVPlayerLayer::playerLayerWithPlayer(
        AVPlayer::playerWithURL(videoFile("v.mp4", 5, 600, CGSizeMake(1280, 720))));
    layer->setFrame(CGRectMake(0, 0, 320, 568));
    EXPECT_EQ(layer->videoRect(), CGRectZero);  // nothing to show before the item is ready
    driver().drain();
    EXPECT_EQ(layer->videoGravity(), AVLayerVideoGravityResizeAspect);
    EXPECT_EQ(layer->videoRect(), CGRectMake(0, 194, 320, 180));  // letterboxed
    layer->setVideoGravity(AVLayerVideoGravityResizeAspectFill);
    CGRect fill = layer->videoRect();
    EXPECT_FLOAT_EQ(fill.size.height, 568);
    EXPECT_NEAR(fill.size.width, 1009.78f, 0.01f);
    EXPECT_NEAR(fill.origin.x, -344.89f, 0.01f);
    layer->setVideoGravity(AVLayerVideoGravityResize);
    EXPECT_EQ(layer->videoRect(), CGRectMake(0, 0, 320, 568));
    expectLogLine("AVPlayerLayer::setVideoGravity: unknown gravity sideways");
    layer->setVideoGravity("sideways");
    EXPECT_EQ(layer->videoGravity(), AVLayerVideoGravityResize);

    layer->setFrame(CGRectMake(0, 0, 600, 320));  // wider than the picture: pillarboxed
    layer->setVideoGravity(AVLayerVideoGravityResizeAspect);
    CGRect fit = layer->videoRect();
    EXPECT_FLOAT_EQ(fit.size.height, 320);
    EXPECT_NEAR(fit.size.width, 568.89f, 0.01f);
    EXPECT_NEAR(fit.origin.x, 15.56f, 0.01f);
    EXPECT_EQ(fit.origin.y, 0);
}

}  // namespace
