// Fixture and helpers shared by the media tests: test files in the home
// folder and a recorder of observation callbacks and notifications.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSString.h"
#include "platform/media/AVPlayer.h"
#include "platform/media/TestMp4.h"
#include "platform/testing/PlatformTest.h"

namespace media_test {

// Collects observation changes ("<key> <new>") and other events in order, from any thread.
class Recorder : public NSObject {
public:
    void observeValueForKeyPath(const std::string& keyPath, Ref<NSObject>, const Value& change, void*) override {
        add(keyPath + " " + change["new"].stringValue());
    }
    void add(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    std::vector<std::string> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(events_, {});
    }

private:
    std::mutex mutex_;
    std::vector<std::string> events_;
};

inline std::string seconds(const CMTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", CMTimeGetSeconds(t));
    return text;
}

class MediaTest : public platform::testing::PlatformTest {
protected:
    // A generated MP4 in the home folder.
    Ref<NSURL> videoFile(const std::string& name, double seconds, int32_t timescale = 600,
                         CGSize size = CGSizeMake(640, 360), bool audio = true) {
        std::string path = home() + "/" + name;
        EXPECT_TRUE(platform::testing::writeTestMp4(path, seconds, timescale, size, audio));
        return NSURL::fileURLWithPath(path);
    }

    // A player whose item is ready, with its status observed into `recorder`.
    Ref<AVPlayer> readyPlayer(double secs, int32_t timescale = 600) {
        auto player = AVPlayer::playerWithURL(videoFile("video.mp4", secs, timescale));
        driver().drain();
        EXPECT_EQ(player->status(), AVPlayerStatusReadyToPlay);
        return player;
    }

    // Records the item's end, failure and stall notifications.
    void recordNotifications(const Ref<Recorder>& recorder) {
        auto center = NSNotificationCenter::defaultCenter();
        for (const char* name : {AVPlayerItemDidPlayToEndTimeNotification, AVPlayerItemFailedToPlayToEndTimeNotification,
                                 AVPlayerItemPlaybackStalledNotification}) {
            std::string n = name;
            tokens_.push_back(center->addObserverForName(n, nullptr, nullptr, [recorder, n](const NSNotification&) {
                recorder->add(n);
            }));
        }
    }

    std::vector<Ref<NSObject>> tokens_;
};

}  // namespace media_test
