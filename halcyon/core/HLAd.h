// One Halcyon ad as the render task built it from an ad answer: the page to
// show (its cached resources pointing at local files), the cached video and
// mute images, the delays and buttons of the full-screen presentation, and
// the URLs for click tracking, click-through and video completion. Filled
// once by the render task and not changed afterwards, so the ad service,
// the preload queues and the display side share it between threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "halcyon/core/HLAdSize.h"
#include "halcyon/core/HLAdType.h"
#include "halcyon/core/HLVideoButtonProperties.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class HLAd : public NSObject {
public:
    // Close button style, presentation mode and transition style 2 ("not
    // set"); everything else null, false or 0.
    Ref<HLAd> init() { return self<HLAd>(); }

    const Ref<HLAdSize>& size() const { return size_; }
    const Ref<HLAdSize>& adSize() const { return size_; }
    void setSize(Ref<HLAdSize> size) { size_ = std::move(size); }
    const Ref<HLAdType>& type() const { return type_; }
    const Ref<HLAdType>& adType() const { return type_; }
    void setType(Ref<HLAdType> type) { type_ = std::move(type); }
    // The server's id (a number; Null when the answer had none).
    const Value& adIdNumber() const { return adIdNumber_; }
    void setAdIdNumber(Value id) { adIdNumber_ = std::move(id); }
    // The cached video's name in the file cache.
    const std::optional<std::string>& videoFilename() const { return videoFilename_; }
    void setVideoFilename(std::optional<std::string> name) { videoFilename_ = std::move(name); }
    const Value& countdownLength() const { return countdownLength_; }
    void setCountdownLength(Value length) { countdownLength_ = std::move(length); }
    // Substituted for "{CLCODE}" in the ad's URLs; "" when the answer had none.
    const std::optional<std::string>& clcode() const { return clcode_; }
    void setClcode(std::optional<std::string> clcode) { clcode_ = std::move(clcode); }
    bool dismissOnSkip() const { return dismissOnSkip_; }
    void setDismissOnSkip(bool dismiss) { dismissOnSkip_ = dismiss; }
    const Ref<platform::NSURL>& videoCompletionURL() const { return videoCompletionURL_; }
    void setVideoCompletionURL(Ref<platform::NSURL> url) { videoCompletionURL_ = std::move(url); }
    const Ref<platform::NSURL>& clickTrackingURL() const { return clickTrackingURL_; }
    void setClickTrackingURL(Ref<platform::NSURL> url) { clickTrackingURL_ = std::move(url); }
    const Ref<platform::NSURL>& clickDestinationURL() const { return clickDestinationURL_; }
    void setClickDestinationURL(Ref<platform::NSURL> url) { clickDestinationURL_ = std::move(url); }
    bool videoClickableDuringPlayback() const { return videoClickableDuringPlayback_; }
    void setVideoClickableDuringPlayback(bool clickable) { videoClickableDuringPlayback_ = clickable; }
    const std::optional<std::string>& htmlSource() const { return htmlSource_; }
    void setHtmlSource(std::optional<std::string> html) { htmlSource_ = std::move(html); }
    // 0 dialog over the window, 1 full-screen view controller, 2 not set.
    uint32_t presentationMode() const { return presentationMode_; }
    void setPresentationMode(uint32_t mode) { presentationMode_ = mode; }
    uint32_t transitionStyle() const { return transitionStyle_; }
    void setTransitionStyle(uint32_t style) { transitionStyle_ = style; }
    uint32_t closeButtonStyle() const { return closeButtonStyle_; }
    void setCloseButtonStyle(uint32_t style) { closeButtonStyle_ = style; }
    // Seconds, as numbers.
    const Value& videoCloseDelay() const { return videoCloseDelay_; }
    void setVideoCloseDelay(Value delay) { videoCloseDelay_ = std::move(delay); }
    const Value& closeDelay() const { return closeDelay_; }
    void setCloseDelay(Value delay) { closeDelay_ = std::move(delay); }
    const std::optional<std::string>& muteImageFilename() const { return muteImageFilename_; }
    void setMuteImageFilename(std::optional<std::string> name) { muteImageFilename_ = std::move(name); }
    const std::optional<std::string>& unmuteImageFilename() const { return unmuteImageFilename_; }
    void setUnmuteImageFilename(std::optional<std::string> name) { unmuteImageFilename_ = std::move(name); }
    // The store page's product parameters (a dictionary), or Null.
    const Value& storeKitParameters() const { return storeKitParameters_; }
    void setStoreKitParameters(Value parameters) { storeKitParameters_ = std::move(parameters); }
    const std::optional<std::string>& videoButtonHTMLSource() const { return videoButtonHTMLSource_; }
    void setVideoButtonHTMLSource(std::optional<std::string> html) { videoButtonHTMLSource_ = std::move(html); }
    const Ref<HLVideoButtonProperties>& videoButtonProperties() const { return videoButtonProperties_; }
    void setVideoButtonProperties(Ref<HLVideoButtonProperties> properties) {
        videoButtonProperties_ = std::move(properties);
    }

    // A non-empty video file name.
    bool isVideoAd() const { return videoFilename_ && !videoFilename_->empty(); }
    // At least one store parameter.
    bool opensInStoreKit() const { return storeKitParameters_.isDictionary() && storeKitParameters_.count() > 0; }

    // The completion URL with the viewing results appended: its escapes
    // removed, "&pv=" (0 unless 0…100), "&in_prog=" ("true"/"false"), "&rc="
    // (only when not 0) and "&vid_ts=" (now in milliseconds since 1970)
    // appended, the whole escaped again. Null without a completion URL or
    // when the result does not parse.
    Ref<platform::NSURL> parameterizedVideoCompletionURL(uint32_t percentViewed, bool inProgress,
                                                         const std::optional<std::string>& placement,
                                                         uint32_t replayCount = 0) const;

    // Every field the same object or equal (the button properties by value).
    bool isEqual(const NSObject& other) const override;
    bool isEqualToAd(const Ref<HLAd>& other) const;
    bool isEqualToAd(const HLAd& other) const;
    size_t hash() const override;
    // The same objects in every field; the button properties copied.
    Ref<HLAd> copy() const;
    // "Halcyon Ad #<id>, <type>/<size>".
    std::string description() const override;

private:
    Ref<HLAdSize> size_;
    Ref<HLAdType> type_;
    Value adIdNumber_;
    std::optional<std::string> videoFilename_;
    Value countdownLength_;
    std::optional<std::string> clcode_;
    bool dismissOnSkip_ = false;
    Ref<platform::NSURL> videoCompletionURL_;
    Ref<platform::NSURL> clickTrackingURL_;
    Ref<platform::NSURL> clickDestinationURL_;
    bool videoClickableDuringPlayback_ = false;
    std::optional<std::string> htmlSource_;
    uint32_t presentationMode_ = 2;
    uint32_t transitionStyle_ = 2;
    uint32_t closeButtonStyle_ = 2;
    Value videoCloseDelay_;
    Value closeDelay_;
    std::optional<std::string> muteImageFilename_;
    std::optional<std::string> unmuteImageFilename_;
    Value storeKitParameters_;
    std::optional<std::string> videoButtonHTMLSource_;
    Ref<HLVideoButtonProperties> videoButtonProperties_;
};
