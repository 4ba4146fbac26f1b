// Turns a native ad answer ("native_settings" with the address templates,
// "native_ads" with the ads in delivery order) into HLNativeAd records, on
// task queue 0, and hands them to the native load delegate (held strongly
// until then), which hears exactly one outcome: the list (possibly empty),
// or -700 for an empty answer, one the templates reject (no "simp_url" or
// "click_url" string), one whose "native_ads" is not a list or one whose
// addresses would pass the render's bounds (HLRenderBudget: the render stops
// there), or -1 when the task is dropped unrun. An ad object that is no object, holds a key of the
// wrong kind or an address that does not parse is skipped with a log line.
// A missing "clcode" or "event_id" puts nothing in place of its macro.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "halcyon/core/HLNativeAd.h"
#include "halcyon/core/HLNativeAdLoadDelegate.h"
#include "halcyon/core/HLRenderBudget.h"
#include "halcyon/core/HLTask.h"
#include "platform/foundation/Value.h"

class HLTaskRenderNativeAd : public HLTask {
public:
    Ref<HLTaskRenderNativeAd> initWithSdk(const Ref<HLSdk>& sdk, Value adResponse,
                                          Ref<HLNativeAdLoadDelegate> nativeAdLoadDelegate);

    void run() override;

    const Value& json() const { return json_; }
    const Ref<HLNativeAdLoadDelegate>& nativeAdLoadDelegate() const { return nativeAdLoadDelegate_; }

    // The address texts built from the answer's "native_settings": every
    // "{CLCODE}" replaced by the ad's code (and, for the click, every
    // "{EVENT_ID}" by its event identifier), within `budget` (nullopt, the
    // budget spent, past it). The impression and click templates are
    // required: without a string there they raise std::invalid_argument with
    // the reason; the video templates are optional (nullopt).
    static std::optional<std::string> simpURLWithSettings(const Value& settings,
                                                          const std::optional<std::string>& clCode,
                                                          HLRenderBudget& budget);
    static std::optional<std::string> clickURLWithSettings(const Value& settings,
                                                           const std::optional<std::string>& clCode,
                                                           const std::optional<std::string>& eventId,
                                                           HLRenderBudget& budget);
    static std::optional<std::string> videoStartURLWithSettings(const Value& settings,
                                                                const std::optional<std::string>& clCode,
                                                                HLRenderBudget& budget);
    static std::optional<std::string> videoEndURLWithSettings(const Value& settings,
                                                              const std::optional<std::string>& clCode,
                                                              HLRenderBudget& budget);

protected:
    void taskDropped() override;

private:
    void performRender(const Value& json);
    // The ads in answer order, or nullopt (logged) when the answer is rejected.
    std::optional<std::vector<Ref<HLNativeAd>>> renderAds(const Value& json);
    // The ad, or null (logged) when the object is unusable or `budget` is
    // spent.
    Ref<HLNativeAd> renderAd(const Value& object, const Value& settings, size_t index, HLRenderBudget& budget);
    void fail(int32_t code);

    Value json_;
    Ref<HLNativeAdLoadDelegate> nativeAdLoadDelegate_;
};
