// The tracking of one video ad screen: the impressions of the ad (each final
// form sent once), the video events (every URL extended with "&offset=" and,
// unless it carries its own, "&cp=" with the position), the checkpoints at
// 0, 25, 50, 75 and 100 % of the video (each once per playthrough), the
// reward of a rewarded video (once per screen, by the reward observer or the
// close) and the failure report (analytics category 10).
//
// Threads: everything runs on the main thread but the two boundary observers'
// blocks, which run on serial queues labelled "TRA.V.O1" (checkpoints) and
// "TRA.V.O2" (reward), a new queue at each start. A block only takes the
// player's time and hands it, through a mailbox guarded by its own mutex, to
// the main queue, where the lists, the reward flag and didCompleteVideo are
// handled. A crossing counts at the boundary it crossed: a queue that ran
// late measures a time past it, which would otherwise miss its checkpoint.
// Removing an observer first lets the crossings already measured be
// handled; stopping (the close) drops them. The screen owns the tracking;
// the ad, its delegate and the player are held weakly.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Trillium/TRAAd.h"
#include "Trillium/TRAViewControllerDelegate.h"
#include "platform/media/AVPlayer.h"
#include "platform/runtime/DispatchQueue.h"

class TRAVideoTracking : public NSObject {
public:
    static constexpr const char* kCheckpointQueueLabel = "TRA.V.O1";
    static constexpr const char* kRewardQueueLabel = "TRA.V.O2";
    static constexpr const char* kMissingAssetsReason = "VIDEO_ERROR_MISSING_ASSETS";

    Ref<TRAVideoTracking> initWithAd(const Ref<TRAAd>& ad, const Ref<TRAViewControllerDelegate>& delegate,
                                     const std::optional<std::string>& adTag);
    // The player whose position the events and observers measure.
    void setPlayer(const Ref<AVPlayer>& player) { player_ = player; }

    // The position as a whole percentage of the current item's asset
    // duration; 0 without a player or a finite positive duration.
    int32_t currentPercentage() const;

    // Sends the URL with "&offset=<offset>" and, when `isCPIncluded` is
    // false, "&cp=<position %>"; nothing for an absent URL.
    void sendVideoEvent(const std::optional<std::string>& url, bool isCPIncluded);
    // Each impression URL with the tag, the offset and, for an ad not shown,
    // "&isShown=false&reason=VIDEO_ERROR_MISSING_ASSETS"; each final form once.
    void sendImpressionWithNonImpression(bool nonImpression);
    // didCompleteVideo to the delegate when it responds to it.
    void sendDidCompleteVideo();
    // Analytics category 10 with the error as details and the value, and the
    // d parameters of the ad's first click-tracking URL (two-click mode) or
    // first impression URL (none when that list is absent or empty).
    void sendFailureReport(const std::string& error, const std::string& value);
    // The close's grant of a rewarded ad: didCompleteVideo once, no event.
    void grantRewardOnClose();

    // Starts the checkpoint observer: boundaries at 0.01 s, d/4, d/2, 3d/4 and
    // d; every checkpoint may be reached again.
    void activePlayerBoundryObserver();
    // Starts the reward observer of a rewarded ad at the granted percentage.
    void activePlayerRewardedObserver();
    void removeBoundryObserver();
    void removeRewardedObserver();
    bool hasBoundryObserver() const { return checkpoints_.token != nullptr; }
    bool hasRewardedObserver() const { return reward_.token != nullptr; }
    // The screen closed: both observers end and measured crossings are dropped.
    void stop();

    // A checkpoint crossing measured at `seconds` of a video of `duration`
    // seconds: sends the checkpoint within one percent of it, once per
    // playthrough. A reward crossing likewise grants the reward.
    void checkpointCrossed(double seconds, double duration);
    void rewardCrossed(double seconds, double duration);
    // A replay: every checkpoint may be sent again.
    void clearMilestones() { milestonesSent_.clear(); }

    const std::set<std::string>& impressionsSentSet() const { return impressionsSentSet_; }
    const std::set<std::string>& milestonesSent() const { return milestonesSent_; }
    const std::vector<int32_t>& progressTempArray() const { return progressTempArray_; }
    bool isRewardedEventSent() const { return isRewardedEventSent_; }

private:
    // Times measured on an observer's queue, waiting for the main thread.
    struct Mailbox {
        std::mutex mutex;            // guards `seconds`
        std::vector<double> seconds;
    };
    struct Observer {
        Ref<NSObject> token;
        dispatch_queue_t queue;
        std::shared_ptr<Mailbox> mailbox;
        Ref<AVPlayer> player;        // the player the token belongs to
        double duration = 0;
        std::vector<double> uncrossed;  // boundaries no crossing has counted at yet, in seconds, in order
    };
    Observer start(const char* label, const std::vector<double>& times, double duration, bool reward);
    // Handles what the observer's mailbox holds (main thread).
    void drain(Observer& observer, bool reward);
    void remove(Observer& observer, bool reward);
    static double seconds(const CMTime& time);
    static int32_t percentage(double seconds, double duration);
    double assetDuration(const Ref<AVPlayer>& player) const;

    Weak<TRAAd> ad_;
    Weak<TRAViewControllerDelegate> delegate_;
    std::optional<std::string> adTag_;
    Weak<AVPlayer> player_;
    std::set<std::string> impressionsSentSet_;
    std::set<std::string> milestonesSent_;
    std::vector<int32_t> progressTempArray_;
    bool isRewardedEventSent_ = false;
    Observer checkpoints_;
    Observer reward_;
};
