#include "halcyon/core/HLAd.h"

#include "halcyon/core/HLStringUtils.h"
#include "halcyon/core/HLUtils.h"
#include "halcyon/core/HLValueUtils.h"
#include "platform/foundation/NSString.h"
#include "platform/runtime/Log.h"

namespace {
// Both null (or Null), the same object, or equal by the field's own rule.
bool hlAdObjectsEqual(const Ref<NSObject>& a, const Ref<NSObject>& b) {
    if (a == b) return true;
    return a && b && a->isEqual(*b);
}
bool hlAdValuesEqual(const Value& a, const Value& b) {
    if (a.isNull() || b.isNull()) return a.isNull() && b.isNull();
    return a.isEqual(b);
}
template <class T>
uint32_t hlAdHash(const Ref<T>& object) {
    return object ? static_cast<uint32_t>(object->hash()) : 0;
}
uint32_t hlAdHash(const Value& value) { return value.isNull() ? 0 : static_cast<uint32_t>(value.hash()); }
uint32_t hlAdHash(const std::optional<std::string>& text) {
    return text ? static_cast<uint32_t>(NSString::hash(*text)) : 0;
}
}  // namespace

Ref<NSURL> HLAd::parameterizedVideoCompletionURL(uint32_t percentViewed, bool inProgress,
                                                 const std::optional<std::string>& placement,
                                                 uint32_t replayCount) const {
    if (!videoCompletionURL_) return nullptr;
    Ref<NSURL> placed = HLUtils::replacePlacementMacroInURL(videoCompletionURL_, placement);
    if (!placed) return nullptr;
    std::string text = NSString::stringByReplacingPercentEscapesUsingEncoding(placed->absoluteString())
                           .value_or(placed->absoluteString());
    text += NSString::stringWithFormat("&%@=%ld", "pv", static_cast<long>(percentViewed <= 100 ? percentViewed : 0));
    text += NSString::stringWithFormat("&%@=%@", "in_prog", inProgress ? "true" : "false");
    if (replayCount != 0) text += NSString::stringWithFormat("&%@=%ld", "rc", static_cast<long>(replayCount));
    text += NSString::stringWithFormat("&vid_ts=%@", Value(HLUtils::hl_unixTimestampInMilliseconds(NSDate::date())));
    return NSURL::URLWithString(HLUtils::hl_stringByAddingPercentEscapesUsingUTF8Encoding(text));
}

bool HLAd::isEqual(const NSObject& other) const {
    if (this == &other) return true;
    if (typeid(other) != typeid(*this)) return false;
    return isEqualToAd(static_cast<const HLAd&>(other));
}

bool HLAd::isEqualToAd(const Ref<HLAd>& other) const { return other && isEqualToAd(*other); }

bool HLAd::isEqualToAd(const HLAd& o) const {
    return hlAdObjectsEqual(size_, o.size_) && hlAdObjectsEqual(type_, o.type_) &&
           hlAdValuesEqual(adIdNumber_, o.adIdNumber_) && videoFilename_ == o.videoFilename_ &&
           hlAdValuesEqual(countdownLength_, o.countdownLength_) &&
           hlAdValuesEqual(videoCloseDelay_, o.videoCloseDelay_) && hlAdValuesEqual(closeDelay_, o.closeDelay_) &&
           clcode_ == o.clcode_ && dismissOnSkip_ == o.dismissOnSkip_ &&
           hlAdObjectsEqual(videoCompletionURL_, o.videoCompletionURL_) &&
           hlAdObjectsEqual(clickTrackingURL_, o.clickTrackingURL_) &&
           hlAdObjectsEqual(clickDestinationURL_, o.clickDestinationURL_) &&
           videoClickableDuringPlayback_ == o.videoClickableDuringPlayback_ && htmlSource_ == o.htmlSource_ &&
           presentationMode_ == o.presentationMode_ && transitionStyle_ == o.transitionStyle_ &&
           closeButtonStyle_ == o.closeButtonStyle_ && muteImageFilename_ == o.muteImageFilename_ &&
           unmuteImageFilename_ == o.unmuteImageFilename_ &&
           hlAdValuesEqual(storeKitParameters_, o.storeKitParameters_) &&
           videoButtonHTMLSource_ == o.videoButtonHTMLSource_ &&
           hlAdObjectsEqual(videoButtonProperties_, o.videoButtonProperties_);
}

size_t HLAd::hash() const {
    uint32_t h = hlAdHash(size_);
    for (uint32_t item :
         {hlAdHash(type_), hlAdHash(adIdNumber_), hlAdHash(videoFilename_), hlAdHash(countdownLength_),
          hlAdHash(videoCloseDelay_), hlAdHash(closeDelay_), hlAdHash(clcode_), static_cast<uint32_t>(dismissOnSkip_),
          hlAdHash(videoCompletionURL_), hlAdHash(clickTrackingURL_),
          static_cast<uint32_t>(videoClickableDuringPlayback_), hlAdHash(clickDestinationURL_), hlAdHash(htmlSource_),
          presentationMode_, transitionStyle_, closeButtonStyle_, hlAdHash(muteImageFilename_),
          hlAdHash(unmuteImageFilename_), hlAdHash(storeKitParameters_), hlAdHash(videoButtonHTMLSource_),
          hlAdHash(videoButtonProperties_)})
        h = h * 31u + item;
    return h;
}

Ref<HLAd> HLAd::copy() const {
    auto ad = NSObject::alloc<HLAd>()->init();
    ad->size_ = size_;
    ad->type_ = type_;
    ad->adIdNumber_ = adIdNumber_;
    ad->videoFilename_ = videoFilename_;
    ad->countdownLength_ = countdownLength_;
    ad->clcode_ = clcode_;
    ad->dismissOnSkip_ = dismissOnSkip_;
    ad->videoCompletionURL_ = videoCompletionURL_;
    ad->clickTrackingURL_ = clickTrackingURL_;
    ad->clickDestinationURL_ = clickDestinationURL_;
    ad->videoClickableDuringPlayback_ = videoClickableDuringPlayback_;
    ad->htmlSource_ = htmlSource_;
    ad->presentationMode_ = presentationMode_;
    ad->transitionStyle_ = transitionStyle_;
    ad->closeButtonStyle_ = closeButtonStyle_;
    ad->videoCloseDelay_ = videoCloseDelay_;
    ad->closeDelay_ = closeDelay_;
    ad->muteImageFilename_ = muteImageFilename_;
    ad->unmuteImageFilename_ = unmuteImageFilename_;
    ad->storeKitParameters_ = storeKitParameters_;
    ad->videoButtonHTMLSource_ = videoButtonHTMLSource_;
    ad->videoButtonProperties_ = videoButtonProperties_ ? videoButtonProperties_->copy() : nullptr;
    return ad;
}

std::string HLAd::description() const {
    return NSString::stringWithFormat(
        "Halcyon Ad #%@, %@/%@",
        adIdNumber_.isNull() ? std::optional<std::string>() : platform::shortenedForLog(adIdNumber_.stringValue()),
        type_ ? type_->label() : std::optional<std::string>(), size_ ? size_->label() : std::optional<std::string>());
}
