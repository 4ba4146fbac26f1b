// The render task the ad request queues: reads the ad answer's keys (a key
// of another JSON kind than expected counts as absent, with a warning),
// caches the video (failure -200 when it cannot), rewrites the page so that
// its resources under slot 31's prefixes point at cached copies, resolves
// "{CLCODE}" in the ad's URLs and hands the HLAd to the delegate; a page
// shorter than 3 characters fails with -1. Task queue 0.
#pragma once

#include <optional>
#include <string>

#include "halcyon/core/HLTaskRenderAd.h"

class HLTaskRenderIOSAd : public HLTaskRenderAd {
public:
    Ref<HLTaskRenderIOSAd> initWithSdk(const Ref<HLSdk>& sdk) {
        HLTaskRenderAd::initWithSdk(sdk);
        return self<HLTaskRenderIOSAd>();
    }

    // The page with every resource URL under an allowed prefix (up to the
    // first delimiter of slot 62 or '"') replaced by its cached copy's
    // "file://" URL, each matched range alone. Unchanged when caching is off
    // (slot 30), and returned exactly as given when a prefix is followed by
    // no delimiter.
    std::string cacheNonVideoResources(const std::string& page);
    // The local URL of the resource (downloaded when not cached yet), or
    // nullopt: the page keeps the remote URL.
    std::optional<std::string> cacheHTMLResource(const std::string& url, const std::string& prefix);
    // 1 for text holding "view_controller" or "activity" (any case), 0 for
    // "dialog", else 1 for a video ad and 0 for the rest.
    static uint32_t presentationModeFromString(const std::optional<std::string>& text, const Ref<HLAd>& ad);
    // Absent (Null): 1 for an ad with a video file name, else 0; otherwise 1
    // only for the integer value 1.
    static uint32_t closeButtonStyleFromNumber(const Value& number, const Ref<HLAd>& ad);

protected:
    void processAd(const Value& response) override;
};
