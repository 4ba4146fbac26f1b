#include "Trillium/TRAAdVideoPreferences.h"

#include "Trillium/TRALog.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/runtime/SaturatingCast.h"

const TRAAdVideoPreferences::StringField TRAAdVideoPreferences::kStringFields[] = {
    {&TRAAdVideoPreferences::videoUrl_, "videoUrl", "TRAVideoPrefVideoUrl"},
    {&TRAAdVideoPreferences::videoPath_, nullptr, "TRAVideoPrefVideoPath"},
    {&TRAAdVideoPreferences::videoProgressUrl_, "videoProgressUrl", "TRAVideoPrefVideoProgressUrl"},
    {&TRAAdVideoPreferences::videoRewardedUrl_, "videoRewardedUrl", "TRAVideoPrefVideoRewardedUrl"},
    {&TRAAdVideoPreferences::videoClosedUrl_, "videoClosedUrl", "TRAVideoPrefVideoClosedUrl"},
    {&TRAAdVideoPreferences::videoSkippedUrl_, "videoSkippedUrl", "TRAVideoPrefVideoSkippedUrl"},
    {&TRAAdVideoPreferences::videoSoundUrl_, "videoSoundUrl", "TRAVideoPrefVideoSoundUrl"},
    {&TRAAdVideoPreferences::videoPostRollImpressionUrl_, "videoPostRollImpressionUrl",
     "TRAVideoPrefVideoPostRollImpressionUrl"},
    {&TRAAdVideoPreferences::videoPostRollClosedUrl_, "videoPostRollClosedUrl", "TRAVideoPrefVideoPostRollClosedUrl"},
    {&TRAAdVideoPreferences::videoPausedUrl_, "videoPausedUrl", "TRAVideoPrefVideoPausedUrl"},
    {&TRAAdVideoPreferences::videoResumedUrl_, "videoResumedUrl", "TRAVideoPrefVideoResumedUrl"},
    {&TRAAdVideoPreferences::postRoll_, "postRoll", "TRAVideoPrefPostRoll"},
};

Ref<TRAAdVideoPreferences> TRAAdVideoPreferences::preferencesWithJsonString(std::string_view json) {
    std::optional<Value> parsed = NSJSONSerialization::JSONObjectWithData(NSString::dataUsingEncoding(json));
    if (!parsed || !parsed->isDictionary()) {
        TRALog::error("Video settings of the ad are not a JSON object; the ad is shown without video.");
        return nullptr;
    }
    auto preferences = NSObject::alloc<TRAAdVideoPreferences>()->init();
    for (const StringField& f : kStringFields) {
        if (!f.json || !parsed->contains(f.json)) continue;
        const Value& value = (*parsed)[f.json];
        if (value.isString()) preferences->set(preferences.get()->*f.field, *value.string());
        else TRALog::errorf("Video setting \"%@\" is not a string; ignored.", f.json);
    }
    if (parsed->contains("closeable")) preferences->setIsCloseable((*parsed)["closeable"].boolValue());
    if (parsed->contains("skippable")) preferences->setIsSkippable((*parsed)["skippable"].boolValue());
    if (parsed->contains("skippableAfter"))
        preferences->setSkippableAfter(static_cast<double>((*parsed)["skippableAfter"].integerValue()));
    return preferences;
}

double TRAAdVideoPreferences::get(const double& field) const {
    std::scoped_lock lock(mutex_);
    return field;
}
void TRAAdVideoPreferences::set(double& field, double value) {
    std::scoped_lock lock(mutex_);
    field = value;
}

TRAAdVideoPreferences::Text TRAAdVideoPreferences::get(const Text& field) const {
    std::scoped_lock lock(mutex_);
    return field;
}
void TRAAdVideoPreferences::set(Text& field, Text value) {
    std::scoped_lock lock(mutex_);
    field = std::move(value);
}

void TRAAdVideoPreferences::encodeWithCoder(NSCoder& coder) const {
    coder.encodeInteger(platform::saturatingCast<int64_t>(videoDuration()), "TRAVideoPrefVideoDuration");
    coder.encodeBool(isSkippable(), "TRAVideoPrefIsSkippable");
    coder.encodeBool(isCloseable(), "TRAVideoPrefIsCloseable");
    coder.encodeInteger(platform::saturatingCast<int64_t>(skippableAfter()), "TRAVideoPrefSkippableAfter");
    coder.encodeBool(isSoundOn(), "TRAVideoPrefIsSoundOn");
    for (const StringField& f : kStringFields) coder.encodeObject(Value(get(this->*f.field)), f.archive);
}

void TRAAdVideoPreferences::initWithCoder(const NSCoder& coder) {
    setVideoDuration(static_cast<double>(coder.decodeIntegerForKey("TRAVideoPrefVideoDuration")));
    setIsSkippable(coder.decodeBoolForKey("TRAVideoPrefIsSkippable"));
    setIsCloseable(coder.decodeBoolForKey("TRAVideoPrefIsCloseable"));
    setSkippableAfter(static_cast<double>(coder.decodeIntegerForKey("TRAVideoPrefSkippableAfter")));
    setIsSoundOn(coder.decodeBoolForKey("TRAVideoPrefIsSoundOn"));
    for (const StringField& f : kStringFields) {
        Value value = coder.decodeObjectForKey(f.archive);
        set(this->*f.field, value.isString() ? Text(*value.string()) : std::nullopt);
    }
}
