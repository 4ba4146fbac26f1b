// The video completion postback across a kill: a forked child starts the
// client, shows a video ad in the Auto Layout controller, closes it 3 s in
// and is killed with SIGKILL right after (its postback queue held, so no
// request leaves). The next process, on the same home folder, sends the
// completion postback with the percent watched, once. The service runs in
// the parent before the fork, so that it outlives the child.
#include <string>

#include "halcyon/core/HLTaskManager.h"
#include "halcyon/core/HLTaskRenderIOSAd.h"
#include "halcyon/core/tests/HLKillRestartTestSupport.h"
#include "halcyon/core/tests/HalcyonTestSupport.h"
#include "halcyon/display/HLInterstitialAd.h"
#include "halcyon/display/HLVideoPlayer.h"
#include "halcyon/display/HLVideoViewController.h"
#include "halcyon/display/HalcyonDisplayClasses.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/media/AVPlayerItem.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"

namespace {

constexpr const char* kHLVideoKillTestKey = "VIDEOKILL-KEY";

class HLVideoKillRestartTest : public HLKillRestartTest {
protected:
    // The child: shows the ad, closes it early and tells the parent once
    // the completion postback is stored; then runs on until it is killed.
    [[noreturn]] void closeEarlyUntilKilled(int ackFd) {
        Ref<HLSdk> sdk = launch(kHLVideoKillTestKey, registerHalcyonDisplayClasses);
        char ack = driver.settle(10) && sdk->isEnabledAndInitialized() ? 1 : 0;
        Ref<UIWindow> window = UIWindow::alloc();
        window->initWithFrame(UIScreen::mainScreen()->bounds());
        window->setRootViewController(UIViewController::alloc()->init());
        window->makeKeyAndVisible();

        simulator::HalcyonAd answer = simulator::HalcyonAd::videoAd();
        answer.adId = 70;
        answer.size = "INTER";
        answer.videoEndUrl = "{BASE}postback/video_end?clcode={CLCODE}&p={PLACEMENT}";
        auto rendered = std::make_shared<HLRecordingLoadDelegate>("render");
        auto task = NSObject::alloc<HLTaskRenderIOSAd>()->initWithSdk(sdk);
        task->setAdResponse(*NSJSONSerialization::JSONObjectWithData(
            NSData::dataWithString(service.adAnswer(answer, simulator::RecordedRequest{}))));
        task->setDelegate(rendered);
        sdk->taskManager()->execute(task, 0);
        driver.settle(10);
        Ref<HLAd> ad = rendered->outcomes().empty() ? nullptr : rendered->only().ad;

        // Nothing leaves the postback queue from here on.
        sdk->taskManager()->postbackQueue()->addOperationWithBlock([] {
            for (;;) pause();
        });
        auto interstitial = NSObject::alloc<HLInterstitialAd>()->initWithSdk(sdk);
        interstitial->showOver(window, std::string("kill"), Ref<NSObject>(ad));
        driver.advance(0.3);
        auto controller = std::dynamic_pointer_cast<HLVideoViewController>(interstitial->currentInterstitialController());
        if (!controller) ack = 0;
        if (controller) {
            auto item = controller->videoPlayer()->playerItem();
            driver.runUntil([&] { return item->status() != AVPlayerItemStatusUnknown; }, 10);
            controller->avPlayer()->pause();
            controller->avPlayer()->seekToTime(CMTimeMake(1800, 600));  // 3 s of 15
            controller->dismiss();
        }
        runUntilKilled(ackFd, ack);
    }
};

TEST_F(HLVideoKillRestartTest, ACompletionPostbackStoredAtAnEarlyCloseIsSentByTheNextStart) {
    const char ack = forkAndKill([&](int ackFd) { closeEarlyUntilKilled(ackFd); });
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(ack, 1) << "the child could not show the ad";
    EXPECT_TRUE(service.postbacksTo("video_end").empty());

    Ref<HLSdk> sdk = launch(kHLVideoKillTestKey, registerHalcyonDisplayClasses);
    ASSERT_TRUE(driver.settle(10));
    auto postbacks = service.postbacksTo("video_end");
    ASSERT_EQ(postbacks.size(), 1u);
    EXPECT_EQ(postbacks[0].field("pv"), "20");
    EXPECT_EQ(postbacks[0].field("in_prog"), "false");
    EXPECT_EQ(postbacks[0].field("p"), "kill");
    EXPECT_EQ(postbacks[0].field("clcode"), "cl-1");
}

}  // namespace
