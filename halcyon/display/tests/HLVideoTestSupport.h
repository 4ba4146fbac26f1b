// The video and reward tests' fixture: the display fixture with video ads
// rendered from the service's answers (its generated 15 s MP4 and mute
// images), shown through the shared interstitial's mode 1 in either
// controller class (slot 134), on the virtual clock; one journal that
// records, in order, what the application hears through every delegate
// (display, video, reward, load), with the values that matter; and readers
// of the completion postbacks and the decoded "vr" and "cr" bodies.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "halcyon/core/HLAdService.h"
#include "halcyon/core/HLPersistentPostbackManager.h"
#include "halcyon/display/HLAdRewardDelegate.h"
#include "halcyon/display/HLAutoLayoutVideoViewController.h"
#include "halcyon/display/HLCloseButton.h"
#include "halcyon/display/HLFrameVideoViewController.h"
#include "halcyon/display/HLIncentivizedInterstitialAd.h"
#include "halcyon/display/HLInterstitialAd.h"
#include "halcyon/display/HLVideoPlayer.h"
#include "halcyon/display/HLVideoView.h"
#include "halcyon/display/tests/HalcyonDisplayTestSupport.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/foundation/NSString.h"
#include "platform/media/AVPlayerItem.h"
#include "platform/ui/UIAlertView.h"

// A value as compact JSON text ("null" for none).
inline std::string hlJsonText(const Value& value) {
    auto data = NSJSONSerialization::dataWithJSONObject(value, NSJSONWritingFragmentsAllowed);
    return data ? data->toString() : std::string("null");
}

// Everything the application hears, as lines: "displayed 7", "began 7",
// "ended 7 95.3 full|partial", "hidden 7", "clicked 7", "succeeded 7 {…}",
// "quota 7 {…}", "rejected 7 {…}", "failed 7 -600", "declined 7",
// "loaded 7", "load failed -300". Main thread only is checked too.
class HLVideoJournal : public NSObject,
                       public HLAdDisplayDelegate,
                       public HLAdVideoPlaybackDelegate,
                       public HLAdRewardDelegate,
                       public HLAdLoadDelegate {
public:
    void adWasDisplayedIn(const Ref<HLAd>& ad, const Ref<UIView>&) override { add("displayed", ad); }
    void adWasHiddenIn(const Ref<HLAd>& ad, const Ref<UIView>&) override {
        add("hidden", ad, onHidden ? onHidden() : std::string());
    }
    void adWasClickedIn(const Ref<HLAd>& ad, const Ref<UIView>&) override { add("clicked", ad); }
    void videoPlaybackBeganInAd(const Ref<HLAd>& ad) override { add("began", ad); }
    void videoPlaybackEndedInAd(const Ref<HLAd>& ad, const Value& percent, bool fullyWatched) override {
        add("ended", ad,
            NSString::stringWithFormat("%g %@", percent.doubleValue(), fullyWatched ? "full" : "partial"));
    }
    void rewardValidationRequestForAdDidSucceedWithResponse(const Ref<HLAd>& ad, const Value& response) override {
        add("succeeded", ad, hlJsonText(response));
    }
    void rewardValidationRequestForAdDidExceedQuotaWithResponse(const Ref<HLAd>& ad, const Value& response) override {
        add("quota", ad, hlJsonText(response));
    }
    void rewardValidationRequestForAdWasRejectedWithResponse(const Ref<HLAd>& ad, const Value& response) override {
        add("rejected", ad, hlJsonText(response));
    }
    void rewardValidationRequestForAdDidFailWithError(const Ref<HLAd>& ad, int32_t code) override {
        add("failed", ad, std::to_string(code));
    }
    void userDeclinedToViewAd(const Ref<HLAd>& ad) override {
        if (declines) add("declined", ad);
    }
    bool respondsToSelector(std::string_view selector) const override {
        if (selector == kHLRewardDeclinedSelector) return declines;
        return selector.starts_with("rewardValidationRequestForAd:") || NSObjectProtocol::respondsToSelector(selector);
    }
    void adServiceDidLoadAd(const Ref<HLAdService>&, const Ref<HLAd>& ad) override { add("loaded", ad); }
    void adServiceDidFailToLoadAdWithError(const Ref<HLAdService>&, int32_t code) override {
        lines.push_back("load failed " + std::to_string(code));
    }

    // Lines whose first word is `event`.
    size_t count(const std::string& event) const {
        size_t n = 0;
        for (const auto& line : lines) n += line.rfind(event + " ", 0) == 0;
        return n;
    }

    std::vector<std::string> lines;
    bool onlyMainThread = true;
    bool declines = true;  // implements userDeclinedToViewAd
    std::function<std::string()> onHidden;  // a note added to each "hidden" line

private:
    void add(const std::string& event, const Ref<HLAd>& ad, const std::string& detail = {}) {
        onlyMainThread = onlyMainThread && NSThread::isMainThread();
        std::string line = event + " " + (ad ? ad->adIdNumber().stringValue() : std::string("(null)"));
        if (!detail.empty()) line += " " + detail;
        lines.push_back(line);
    }
};

class HLVideoTest : public HalcyonDisplayTest {
protected:
    void SetUp() override {
        HalcyonDisplayTest::SetUp();
        if (::testing::Test::HasFatalFailure()) return;
        interstitial = HLInterstitialAd::shared();
        interstitial->setAdDisplayDelegate(events);
        interstitial->setAdVideoPlaybackDelegate(events);
    }

    // A video ad of the service (the generated clip, mute images, a
    // completion URL); `members` are extra answer members ("\"k\": v").
    Ref<HLAd> videoAd(int64_t id, const std::string& members = {}, const std::string& type = "REGULAR") {
        simulator::HalcyonAd ad = simulator::HalcyonAd::videoAd();
        ad.adId = id;
        ad.size = "INTER";
        ad.adType = type;
        ad.videoEndUrl = "{BASE}postback/video_end?clcode={CLCODE}&p={PLACEMENT}";
        if (!members.empty()) ad.extraMembersJson = members;
        return renderedAd(ad);
    }

    // Picks the class through slot 134 and shows the ad over the window;
    // the presentation's 0.3 s transition has passed on return.
    Ref<HLVideoViewController> present(const Ref<HLAd>& ad, bool autoLayout = true,
                                       const std::optional<std::string>& placement = std::string("level-1")) {
        setSlot(134, Value(autoLayout));
        interstitial->showOver(window(), placement, Ref<NSObject>(ad));
        driver().advance(0.3);
        return shown();
    }
    Ref<HLVideoViewController> shown() {
        return std::dynamic_pointer_cast<HLVideoViewController>(interstitial->currentInterstitialController());
    }
    // Lets the clip's probe finish (real time) and the item turn ready.
    void untilPlaying(const Ref<HLVideoViewController>& controller) {
        Ref<AVPlayerItem> item = controller->videoPlayer() ? controller->videoPlayer()->playerItem() : nullptr;
        driver().runUntil([&] { return !item || item->status() != AVPlayerItemStatusUnknown; }, 10);
    }
    // The player stopped at `seconds` of the clip.
    void seek(const Ref<HLVideoViewController>& controller, double seconds) {
        controller->avPlayer()->pause();
        controller->avPlayer()->seekToTime(CMTimeMakeWithSeconds(seconds, 600));
        driver().drain();
    }
    // The "pv" of each completion postback received, in order.
    std::vector<std::string> completionPercents() {
        EXPECT_TRUE(settle());
        std::vector<std::string> percents;
        for (const auto& postback : service.postbacksTo("video_end")) percents.push_back(postback.field("pv").value_or("?"));
        return percents;
    }
    size_t queuedPostbacks() { return sdk->persistentPostbackManager()->postbackQueue().size(); }

    Ref<HLInterstitialAd> interstitial;
    Ref<HLVideoJournal> events = NSObject::alloc<HLVideoJournal>();
};

// The rewarded tests' fixture: the API reached over the service's trusted
// https listener (as "vr" and "cr" always are), the shared rewarded
// interstitial with the journal as its display and video delegates.
class HLRewardedTest : public HLVideoTest {
protected:
    void SetUp() override {
        HLVideoTest::SetUp();
        if (::testing::Test::HasFatalFailure()) return;
        trustService();
        setSlotString(kHLSlotApiEndpoint, service.secureApiUrl());
        rewarded = HLIncentivizedInterstitialAd::shared();
        rewarded->setAdDisplayDelegate(events);
        rewarded->setAdVideoPlaybackDelegate(events);
    }
    // The service answers `ad` from now on; preloads until it is ready.
    void preloadRewarded(simulator::HalcyonAd ad) {
        service.setAd(std::move(ad));
        rewarded->preloadAndNotify(events);
        for (int i = 0; i < 10 && !rewarded->isReadyForDisplay(); ++i) {
            ASSERT_TRUE(settle());
            driver().advance(1);
        }
        ASSERT_TRUE(rewarded->isReadyForDisplay());
    }

    Ref<HLIncentivizedInterstitialAd> rewarded;
};
