// The video settings of one full-screen ad: where the video is (remote and
// local), its skip, close and sound rules, what follows it, and the tracking
// URLs its screen fires. An ad is a video ad exactly when it holds one. It
// arrives as JSON inside the ad page and is archived with the cached ad.
// Object fields and the durations are read from the video screen's queues
// while the main thread writes them, so each access is whole.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/NSCoder.h"
#include "platform/runtime/NSObject.h"

class TRAAdVideoPreferences : public NSObject, public NSCoding {
public:
    Ref<TRAAdVideoPreferences> init() { return self<TRAAdVideoPreferences>(); }

    // A record filled from the JSON text; null when the text does not parse
    // or its top level is not an object. String fields take string values
    // only; "closeable" and "skippable" take any value's boolean reading,
    // "skippableAfter" its integer value.
    static Ref<TRAAdVideoPreferences> preferencesWithJsonString(std::string_view json);

    using Text = std::optional<std::string>;

    double videoDuration() const { return get(videoDuration_); }
    void setVideoDuration(double seconds) { set(videoDuration_, seconds); }
    bool isSkippable() const { return isSkippable_; }
    void setIsSkippable(bool v) { isSkippable_ = v; }
    bool isCloseable() const { return isCloseable_; }
    void setIsCloseable(bool v) { isCloseable_ = v; }
    double skippableAfter() const { return get(skippableAfter_); }
    void setSkippableAfter(double seconds) { set(skippableAfter_, seconds); }
    bool isSoundOn() const { return isSoundOn_; }
    void setIsSoundOn(bool v) { isSoundOn_ = v; }

    Text videoUrl() const { return get(videoUrl_); }
    void setVideoUrl(Text v) { set(videoUrl_, std::move(v)); }
    Text videoPath() const { return get(videoPath_); }
    void setVideoPath(Text v) { set(videoPath_, std::move(v)); }
    Text videoProgressUrl() const { return get(videoProgressUrl_); }
    void setVideoProgressUrl(Text v) { set(videoProgressUrl_, std::move(v)); }
    Text videoRewardedUrl() const { return get(videoRewardedUrl_); }
    void setVideoRewardedUrl(Text v) { set(videoRewardedUrl_, std::move(v)); }
    Text videoClosedUrl() const { return get(videoClosedUrl_); }
    void setVideoClosedUrl(Text v) { set(videoClosedUrl_, std::move(v)); }
    Text videoSkippedUrl() const { return get(videoSkippedUrl_); }
    void setVideoSkippedUrl(Text v) { set(videoSkippedUrl_, std::move(v)); }
    Text videoSoundUrl() const { return get(videoSoundUrl_); }
    void setVideoSoundUrl(Text v) { set(videoSoundUrl_, std::move(v)); }
    Text videoPostRollImpressionUrl() const { return get(videoPostRollImpressionUrl_); }
    void setVideoPostRollImpressionUrl(Text v) { set(videoPostRollImpressionUrl_, std::move(v)); }
    Text videoPostRollClosedUrl() const { return get(videoPostRollClosedUrl_); }
    void setVideoPostRollClosedUrl(Text v) { set(videoPostRollClosedUrl_, std::move(v)); }
    Text videoPausedUrl() const { return get(videoPausedUrl_); }
    void setVideoPausedUrl(Text v) { set(videoPausedUrl_, std::move(v)); }
    Text videoResumedUrl() const { return get(videoResumedUrl_); }
    void setVideoResumedUrl(Text v) { set(videoResumedUrl_, std::move(v)); }
    Text postRoll() const { return get(postRoll_); }
    void setPostRoll(Text v) { set(postRoll_, std::move(v)); }

    void encodeWithCoder(NSCoder& coder) const override;
    void initWithCoder(const NSCoder& coder) override;

private:
    Text get(const Text& field) const;
    void set(Text& field, Text value);
    double get(const double& field) const;
    void set(double& field, double value);
    // The string fields with their JSON and archive keys, in declared order.
    struct StringField {
        Text TRAAdVideoPreferences::*field;
        const char* json;     // null: never from the JSON
        const char* archive;
    };
    static const StringField kStringFields[];

    mutable std::mutex mutex_;
    double videoDuration_ = 0;
    std::atomic<bool> isSkippable_{false};
    std::atomic<bool> isCloseable_{false};
    double skippableAfter_ = 0;
    std::atomic<bool> isSoundOn_{false};
    Text videoUrl_, videoPath_, videoProgressUrl_, videoRewardedUrl_, videoClosedUrl_, videoSkippedUrl_,
        videoSoundUrl_, videoPostRollImpressionUrl_, videoPostRollClosedUrl_, videoPausedUrl_, videoResumedUrl_,
        postRoll_;
};
