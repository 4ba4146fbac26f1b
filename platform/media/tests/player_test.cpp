// Players on the virtual clock: status changes, periodic ticks, boundaries at
// the exact end, the end sequence, seeks, rates, seams and observer removal.
#include <atomic>
#include <cmath>

#include "MediaTest.h"
#include "platform/runtime/DispatchQueue.h"

namespace {

using media_test::MediaTest;
using media_test::Recorder;
using media_test::seconds;
using Events = std::vector<std::string>;

constexpr unsigned long kNewInitial = NSKeyValueObservingOptionNew | NSKeyValueObservingOptionInitial;

class PlayerTest : public MediaTest {
protected:
    Ref<Recorder> rec = NSObject::alloc<Recorder>();

    // Periodic ticks ("tick <seconds>") on the main queue.
    Ref<NSObject> addTicks(const Ref<AVPlayer>& player, double interval) {
        Weak<Recorder> weak = rec;
        return player->addPeriodicTimeObserverForInterval(CMTimeMakeWithSeconds(interval, 1000000000), nullptr,
                                                          [weak](CMTime t) {
                                                              if (auto r = weak.lock()) r->add("tick " + seconds(t));
                                                          });
    }
    // A boundary observer on the main queue recording the player's time.
    Ref<NSObject> addBoundaries(const Ref<AVPlayer>& player, std::vector<CMTime> times, std::string tag = "boundary") {
        Weak<Recorder> weak = rec;
        Weak<AVPlayer> weakPlayer = player;
        return player->addBoundaryTimeObserverForTimes(times, nullptr, [weak, weakPlayer, tag] {
            auto r = weak.lock();
            auto p = weakPlayer.lock();
            if (r && p) r->add(tag + " " + seconds(p->currentTime()));
        });
    }
};

TEST_F(PlayerTest, StatusBecomesReadyAtALaterPass) {
    auto item = AVPlayerItem::playerItemWithURL(videoFile("a.mp4", 12.5, 600, CGSizeMake(320, 180)));
    item->addObserver(rec, "status", kNewInitial, nullptr);
    auto player = AVPlayer::playerWithPlayerItem(item);
    player->addObserver(rec, "status", kNewInitial, nullptr);
    EXPECT_EQ(rec->take(), (Events{"status 0", "status 0"}));
    EXPECT_FALSE(CMTIME_IS_VALID(item->duration()));
    EXPECT_EQ(player->currentTime().value, 0);

    driver().drain();
    EXPECT_EQ(rec->take(), (Events{"status 1", "status 1"}));  // the item, then its player
    EXPECT_EQ(item->duration().value, 7500);
    EXPECT_EQ(item->duration().timescale, 600);
    EXPECT_EQ(item->presentationSize(), CGSizeMake(320, 180));
    EXPECT_EQ(player->currentItem(), item);
}

TEST_F(PlayerTest, ItemThatDoesNotOpenFails) {
    std::string path = home() + "/page.mp4";
    ASSERT_TRUE(NSData::dataWithString("<html>not a video</html>").writeToFile(path, true));
    auto item = AVPlayerItem::playerItemWithURL(NSURL::fileURLWithPath(path));
    auto player = AVPlayer::playerWithPlayerItem(item);
    item->addObserver(rec, "status", NSKeyValueObservingOptionNew, nullptr);
    player->play();
    driver().advance(5);
    EXPECT_EQ(rec->take(), (Events{"status 2"}));
    ASSERT_TRUE(item->error());
    EXPECT_EQ(item->error()->code(), -11828);
    EXPECT_EQ(item->error()->localizedDescription(), "Cannot Open");
    EXPECT_EQ(player->status(), AVPlayerStatusUnknown);
    EXPECT_EQ(player->currentTime().value, 0);
}

TEST_F(PlayerTest, PeriodicTicksStartStopAndEndInOrder) {
    auto player = readyPlayer(3);
    recordNotifications(rec);
    addTicks(player, 1.0);
    player->addObserver(rec, "rate", NSKeyValueObservingOptionNew, nullptr);

    player->play();
    EXPECT_EQ(rec->take(), (Events{"rate 1"}));  // at once; the start tick is queued
    driver().drain();
    EXPECT_EQ(rec->take(), (Events{"tick 0.000"}));
    driver().advance(0.5);
    EXPECT_EQ(rec->take(), Events{});
    EXPECT_EQ(seconds(player->currentTime()), "0.500");
    player->pause();  // a stop tick, then nothing while paused
    driver().advance(5);
    player->play();   // a start tick
    driver().drain();
    EXPECT_EQ(rec->take(), (Events{"rate 0", "tick 0.500", "rate 1", "tick 0.500"}));
    driver().advance(2.0);
    EXPECT_EQ(rec->take(), (Events{"tick 1.000", "tick 2.000"}));
    driver().advance(10);
    // The end in one pass: one tick at the end, rate 0, then the notification, once.
    EXPECT_EQ(rec->take(), (Events{"tick 3.000", "rate 0", AVPlayerItemDidPlayToEndTimeNotification}));
    EXPECT_EQ(player->currentTime().value, 1800);
    EXPECT_EQ(player->currentTime().timescale, 600);
}

TEST_F(PlayerTest, BoundariesAtTheExactEndAndOnOtherQueues) {
    // The checkpoint set of a 40 s video: 0.01 s, d/4, d/2, 3d/4 and d at the file's timescale.
    auto player = readyPlayer(40);
    recordNotifications(rec);
    player->addObserver(rec, "rate", NSKeyValueObservingOptionNew, nullptr);
    CMTime d = player->currentItem()->asset()->duration();
    double ds = CMTimeGetSeconds(d);
    std::vector<CMTime> checkpoints = {CMTimeMakeWithSeconds(0.01f, d.timescale),
                                       CMTimeMakeWithSeconds(ds / 4, d.timescale),
                                       CMTimeMakeWithSeconds(ds * 2 / 4, d.timescale),
                                       CMTimeMakeWithSeconds(ds * 3 / 4, d.timescale), d};
    addBoundaries(player, checkpoints);
    addTicks(player, 0.1);

    // The same times on a serial queue of its own, reading the player from there.
    auto queue = dispatch_queue_create("TRA.V.O1", DISPATCH_QUEUE_SERIAL);
    // (The main thread moves on meanwhile, so only the calls are counted.)
    auto onQueue = NSObject::alloc<Recorder>();
    Weak<AVPlayer> weak = player;
    player->addBoundaryTimeObserverForTimes(checkpoints, queue, [onQueue, weak] {
        auto p = weak.lock();
        onQueue->add(std::string(dispatch_queue_get_label(DISPATCH_CURRENT_QUEUE_LABEL)) +
                     (p && CMTIME_IS_NUMERIC(p->currentTime()) ? " numeric" : " ?"));
    });

    player->play();
    driver().advance(45);
    ASSERT_TRUE(driver().settle());
    Events events = rec->take();
    Events boundaries;
    for (const auto& e : events)
        if (e.rfind("boundary", 0) == 0) boundaries.push_back(e);
    EXPECT_EQ(boundaries, (Events{"boundary 0.010", "boundary 10.000", "boundary 20.000", "boundary 30.000",
                                  "boundary 40.000"}));
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(Events(events.end() - 4, events.end()),
              (Events{"boundary 40.000", "tick 40.000", "rate 0", AVPlayerItemDidPlayToEndTimeNotification}));
    EXPECT_EQ(std::count(events.begin(), events.end(), "tick 40.000"), 1);
    EXPECT_EQ(onQueue->take(), Events(5, "TRA.V.O1 numeric"));

    // At the end, play is a no-op: the rate stays 0 and nothing more is posted.
    player->play();
    driver().advance(5);
    EXPECT_EQ(player->rate(), 0);
    EXPECT_EQ(rec->take(), Events{});
}

TEST_F(PlayerTest, SeeksNeverFireBoundaries) {
    auto player = readyPlayer(10);
    recordNotifications(rec);
    addBoundaries(player, {CMTimeMake(5, 1), CMTimeMake(10, 1)});
    addTicks(player, 100);  // only the start, stop and seek ticks
    player->play();
    driver().advance(2);
    player->seekToTime(CMTimeMake(6, 1));
    EXPECT_EQ(seconds(player->currentTime()), "6.000");
    driver().drain();
    EXPECT_EQ(rec->take(), (Events{"tick 0.000", "tick 6.000"}));

    driver().advance(1);
    player->seekToTime(CMTimeMake(4, 1), kCMTimeZero, kCMTimeZero);
    driver().advance(1.5);  // plays through 5 again
    EXPECT_EQ(rec->take(), (Events{"tick 4.000", "boundary 5.000"}));

    // A seek to the end while playing ends the item without its boundary.
    player->seekToTime(CMTimeMake(10, 1));
    driver().drain();
    EXPECT_EQ(rec->take(), (Events{"tick 10.000", "tick 10.000", AVPlayerItemDidPlayToEndTimeNotification}));

    // Beyond the end and before the start clamp.
    player->seekToTime(CMTimeMake(99, 1));
    EXPECT_EQ(seconds(player->currentTime()), "10.000");
    player->seekToTime(CMTimeMake(-3, 1));
    EXPECT_EQ(seconds(player->currentTime()), "0.000");
}

TEST_F(PlayerTest, RateIsTheRequestedRate) {
    auto player = AVPlayer::playerWithURL(videoFile("v.mp4", 10));
    player->addObserver(rec, "rate", NSKeyValueObservingOptionNew, nullptr);
    player->play();  // before the item is ready
    EXPECT_EQ(player->rate(), 1);
    EXPECT_EQ(rec->take(), (Events{"rate 1"}));
    driver().drain();  // ready now; time starts from here
    driver().advance(2);
    EXPECT_EQ(seconds(player->currentTime()), "2.000");
    player->pause();
    driver().advance(3);
    EXPECT_EQ(seconds(player->currentTime()), "2.000");
    player->setRate(2);
    driver().advance(1);
    EXPECT_EQ(seconds(player->currentTime()), "4.000");
    player->setRate(2);  // unchanged: not reported again
    EXPECT_EQ(rec->take(), (Events{"rate 0", "rate 2"}));
    expectLogLine("AVPlayer::setRate: the rate is not a finite number");
    player->setRate(NAN);
    EXPECT_EQ(player->rate(), 2);
}

TEST_F(PlayerTest, ReplayAfterASeekToTheStart) {
    auto player = readyPlayer(2);
    recordNotifications(rec);
    player->play();
    driver().advance(3);
    EXPECT_EQ(rec->take(), (Events{AVPlayerItemDidPlayToEndTimeNotification}));
    player->pause();
    player->seekToTime(kCMTimeZero);
    player->play();
    EXPECT_EQ(player->rate(), 1);
    driver().advance(3);
    EXPECT_EQ(rec->take(), (Events{AVPlayerItemDidPlayToEndTimeNotification}));  // once per arrival
}

TEST_F(PlayerTest, ZeroDurationItemEndsAtOnce) {
    auto player = readyPlayer(0);
    recordNotifications(rec);
    addTicks(player, 1);
    player->addObserver(rec, "rate", NSKeyValueObservingOptionNew, nullptr);
    player->play();
    driver().drain();
    EXPECT_EQ(rec->take(), (Events{"rate 1", "tick 0.000", "tick 0.000", "rate 0",
                                   AVPlayerItemDidPlayToEndTimeNotification}));
}

TEST_F(PlayerTest, RemovedObserversAreNotCalled) {
    auto player = readyPlayer(10);
    auto ticks = addTicks(player, 1);
    auto boundary = addBoundaries(player, {CMTimeMake(2, 1)});
    // A boundary observer that removes itself from its own block.
    Ref<NSObject> selfRemoving;
    int selfRemovingCalls = 0;
    selfRemoving = player->addBoundaryTimeObserverForTimes({CMTimeMake(1, 1), CMTimeMake(3, 1)}, nullptr, [&] {
        ++selfRemovingCalls;
        player->removeTimeObserver(selfRemoving);
    });
    player->play();
    driver().advance(1.5);
    EXPECT_EQ(rec->take(), (Events{"tick 0.000", "tick 1.000"}));
    player->removeTimeObserver(ticks);
    player->removeTimeObserver(boundary);
    player->removeTimeObserver(boundary);  // twice: nothing
    player->removeTimeObserver(nullptr);
    driver().advance(5);
    EXPECT_EQ(rec->take(), Events{});
    EXPECT_EQ(selfRemovingCalls, 1);

    // A token of another player is ignored with a log line.
    auto other = AVPlayer::playerWithPlayerItem(nullptr);
    expectLogLine("AVPlayer::removeTimeObserver: the observer was not added to this player");
    auto foreign = addTicks(other, 1);
    player->removeTimeObserver(foreign);

    expectLogLine("AVPlayer::addPeriodicTimeObserverForInterval: needs a positive interval and a block");
    EXPECT_FALSE(player->addPeriodicTimeObserverForInterval(kCMTimeZero, nullptr, [](CMTime) {}));
    expectLogLine("AVPlayer::addBoundaryTimeObserverForTimes: needs numeric times and a block");
    EXPECT_FALSE(player->addBoundaryTimeObserverForTimes({kCMTimeInvalid}, nullptr, [] {}));
}

TEST_F(PlayerTest, QueuedTicksOfARemovedObserverDoNotRun) {
    auto player = readyPlayer(10);
    auto ticks = addTicks(player, 1);
    player->play();  // queues the start tick
    player->removeTimeObserver(ticks);
    driver().drain();
    EXPECT_EQ(rec->take(), Events{});
}

TEST_F(PlayerTest, StallAndFailureSeams) {
    auto player = readyPlayer(10);
    auto item = player->currentItem();
    recordNotifications(rec);
    player->addObserver(rec, "rate", NSKeyValueObservingOptionNew, nullptr);
    item->addObserver(rec, "status", NSKeyValueObservingOptionNew, nullptr);
    player->play();
    driver().advance(1);
    player->simulateStall();
    EXPECT_EQ(rec->take(), (Events{"rate 1", "rate 0", AVPlayerItemPlaybackStalledNotification}));
    driver().advance(2);
    EXPECT_EQ(seconds(player->currentTime()), "1.000");  // the model never resumes by itself

    player->play();
    driver().advance(1);
    NSNotification failure;
    auto token = NSNotificationCenter::defaultCenter()->addObserverForName(
        AVPlayerItemFailedToPlayToEndTimeNotification, item, nullptr,
        [&](const NSNotification& n) { failure = n; });
    item->simulateFailure(NSError::errorWithDomain(platform::AVFoundationErrorDomain, -11819));
    EXPECT_EQ(rec->take(), (Events{"rate 1", "status 2", AVPlayerItemFailedToPlayToEndTimeNotification}));
    ASSERT_TRUE(failure.userInfo[AVPlayerItemFailedToPlayToEndTimeErrorKey].object<NSError>());
    EXPECT_EQ(failure.userInfo[AVPlayerItemFailedToPlayToEndTimeErrorKey].object<NSError>()->code(), -11819);
    EXPECT_EQ(item->error()->code(), -11819);
    driver().advance(2);
    EXPECT_EQ(seconds(player->currentTime()), "2.000");  // a failed item does not advance

    // Not playing: no failed-to-end notification; the player's own failure seam.
    auto idle = readyPlayer(5);
    idle->currentItem()->simulateFailure(nullptr);
    idle->addObserver(rec, "status", NSKeyValueObservingOptionNew, nullptr);
    idle->simulateFailure(NSError::errorWithDomain(platform::AVFoundationErrorDomain, -11800));
    EXPECT_EQ(rec->take(), (Events{"status 2"}));
    EXPECT_EQ(idle->status(), AVPlayerStatusFailed);
    EXPECT_EQ(idle->error()->code(), -11800);
}

TEST_F(PlayerTest, ReplacingTheItem) {
    auto player = readyPlayer(10);
    player->play();
    driver().advance(4);
    auto first = player->currentItem();
    auto second = AVPlayerItem::playerItemWithURL(videoFile("b.mp4", 6));
    player->replaceCurrentItemWithPlayerItem(second);
    EXPECT_EQ(player->currentItem(), second);
    EXPECT_EQ(seconds(first->currentTime()), "4.000");  // the old item keeps its place
    driver().drain();                                   // the new one becomes ready and plays
    driver().advance(1);
    EXPECT_EQ(seconds(player->currentTime()), "1.000");
    EXPECT_EQ(seconds(first->currentTime()), "4.000");

    // An item that belongs to another player is refused.
    auto other = AVPlayer::playerWithPlayerItem(first);
    EXPECT_EQ(other->currentItem(), first);
    expectLogLine("AVPlayer: the item already belongs to another player");
    player->replaceCurrentItemWithPlayerItem(first);
    EXPECT_EQ(player->currentItem(), second);
}

TEST_F(PlayerTest, ItemSeekWithoutAPlayerAndNullInputs) {
    EXPECT_FALSE(AVPlayerItem::playerItemWithURL(nullptr));
    auto item = AVPlayerItem::playerItemWithURL(videoFile("c.mp4", 8));
    driver().drain();
    item->seekToTime(CMTimeMake(3, 1));
    EXPECT_EQ(seconds(item->currentTime()), "3.000");
    auto player = AVPlayer::playerWithPlayerItem(item);
    player->play();
    driver().advance(1);
    EXPECT_EQ(seconds(item->currentTime()), "4.000");
    EXPECT_EQ(player->currentTime().timescale, 600);

    EXPECT_TRUE(player->respondsToSelector("setMuted:"));
    EXPECT_TRUE(player->respondsToSelector("isMuted"));
    player->setMuted(true);
    EXPECT_TRUE(player->isMuted());

    auto empty = AVPlayer::playerWithURL(nullptr);
    EXPECT_FALSE(empty->currentItem());
    empty->play();
    empty->seekToTime(CMTimeMake(1, 1));
    EXPECT_EQ(CMTimeCompare(empty->currentTime(), kCMTimeZero), 0);
}

}  // namespace
