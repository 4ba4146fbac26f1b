// One native ad (public): the parts a host application lays out itself
// (title, texts, icon, main image, optional video, star rating) and the
// addresses it must hit when it shows the ad, plays its video or is tapped.
// The render task fills it once; precaching then points the use addresses
// (iconURL, imageURL, videoURL) at local copies: a use address equal to its
// source address means "not cached", nothing else records it.
//
// Any thread: the use addresses are guarded (precaching on a task queue may
// change them while the application reads); the rest is set before the ad is
// handed out and only read afterwards. Holds its SDK weakly: once the SDK is
// gone, and on a copy, launchClickTarget does nothing.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/NSURL.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class HLAdSize;
class HLAdSpec;
class HLAdType;
class HLSdk;

class HLNativeAd : public NSObject {
public:
    Ref<HLNativeAd> init() { return self<HLNativeAd>(); }

    // A new size and a new type labelled "NATIVE", and the spec of both: the
    // key under which native ads are preloaded.
    static Ref<HLAdSize> sizeNative();
    static Ref<HLAdType> typeNative();
    static Ref<HLAdSpec> specNative();

    Ref<HLSdk> parentSdk() const { return parentSdk_.lock(); }
    void setParentSdk(const Ref<HLSdk>& sdk) { parentSdk_ = sdk; }
    // A number, or Null.
    const Value& adIdNumber() const { return adIdNumber_; }
    void setAdIdNumber(Value number) { adIdNumber_ = std::move(number); }
    const std::optional<std::string>& title() const { return title_; }
    void setTitle(std::optional<std::string> text) { title_ = std::move(text); }
    const std::optional<std::string>& descriptionText() const { return descriptionText_; }
    void setDescriptionText(std::optional<std::string> text) { descriptionText_ = std::move(text); }
    // Never filled by the loading path.
    const std::optional<std::string>& captionText() const { return captionText_; }
    void setCaptionText(std::optional<std::string> text) { captionText_ = std::move(text); }
    const std::optional<std::string>& ctaText() const { return ctaText_; }
    void setCtaText(std::optional<std::string> text) { ctaText_ = std::move(text); }
    const Ref<NSURL>& sourceIconURL() const { return sourceIconURL_; }
    void setSourceIconURL(Ref<NSURL> url) { sourceIconURL_ = std::move(url); }
    const Ref<NSURL>& sourceImageURL() const { return sourceImageURL_; }
    void setSourceImageURL(Ref<NSURL> url) { sourceImageURL_ = std::move(url); }
    const Ref<NSURL>& sourceVideoURL() const { return sourceVideoURL_; }
    void setSourceVideoURL(Ref<NSURL> url) { sourceVideoURL_ = std::move(url); }
    // A number, or Null when the answer gave none.
    const Value& starRating() const { return starRating_; }
    void setStarRating(Value rating) { starRating_ = std::move(rating); }

    // The addresses to use: the source ones until precaching caches them.
    Ref<NSURL> iconURL() const;
    void setIconURL(Ref<NSURL> url);
    Ref<NSURL> imageURL() const;
    void setImageURL(Ref<NSURL> url);
    Ref<NSURL> videoURL() const;
    void setVideoURL(Ref<NSURL> url);

    const Ref<NSURL>& impressionTrackingURL() const { return impressionTrackingURL_; }
    void setImpressionTrackingURL(Ref<NSURL> url) { impressionTrackingURL_ = std::move(url); }
    const Ref<NSURL>& clickURL() const { return clickURL_; }
    void setClickURL(Ref<NSURL> url) { clickURL_ = std::move(url); }
    const Ref<NSURL>& videoStartTrackingURL() const { return videoStartTrackingURL_; }
    void setVideoStartTrackingURL(Ref<NSURL> url) { videoStartTrackingURL_ = std::move(url); }
    const Ref<NSURL>& videoEndTrackingURL() const { return videoEndTrackingURL_; }
    void setVideoEndTrackingURL(Ref<NSURL> url) { videoEndTrackingURL_ = std::move(url); }
    const std::optional<std::string>& clCode() const { return clCode_; }
    void setClCode(std::optional<std::string> code) { clCode_ = std::move(code); }

    // Icon and main image both set and both different from their sources
    // (an ad without a main image is never image-precached).
    bool isImagePrecached() const;
    // The video set and different from its source.
    bool isVideoPrecached() const;

    // The video-end address + "&pv=<percent>&fp=<true|false>", unescaped, the
    // ampersand added even without a query; null without a video-end
    // address. A percent above 100 is sent as 0, after a system-log line.
    Ref<NSURL> videoEndTrackingURL(uint64_t percentViewed, bool firstPlay) const;

    // On the caller's thread: the click address goes to the parent SDK's
    // persisted postback queue, then it is opened. Nothing happens without a
    // parent SDK (a copy, or the SDK gone) or without a click address.
    void launchClickTarget();

    // Every content and tracking property (the star rating a copy of the
    // number); no parent SDK.
    Ref<HLNativeAd> copy() const;

    // "HLNativeAd <id = …, title = …>".
    std::string description() const override;

private:
    Weak<HLSdk> parentSdk_;
    Value adIdNumber_;
    std::optional<std::string> title_;
    std::optional<std::string> descriptionText_;
    std::optional<std::string> captionText_;
    std::optional<std::string> ctaText_;
    Ref<NSURL> sourceIconURL_;
    Ref<NSURL> sourceImageURL_;
    Ref<NSURL> sourceVideoURL_;
    Value starRating_;
    mutable std::mutex useAddressMutex_;  // guards the three use addresses below
    Ref<NSURL> iconURL_;
    Ref<NSURL> imageURL_;
    Ref<NSURL> videoURL_;
    Ref<NSURL> impressionTrackingURL_;
    Ref<NSURL> clickURL_;
    Ref<NSURL> videoStartTrackingURL_;
    Ref<NSURL> videoEndTrackingURL_;
    std::optional<std::string> clCode_;
};
