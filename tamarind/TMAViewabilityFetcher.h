// Downloads the viewability measurement script the configuration offers and
// keeps it in the user defaults ("TamarindAd:ViewabilityJSKey", its version
// under "TamarindAd:ViewabilityVersionKey") for the viewability bridge. A
// failed or bad download (not 200, not UTF-8, empty or too large) is logged
// and the stored script stays. The fetcher keeps itself alive until its
// download ends. Main thread.
#pragma once

#include <optional>
#include <string>

#include "platform/runtime/NSObject.h"

class TMAdConfiguration;

class TMAViewabilityFetcher : public NSObject {
public:
    Ref<TMAViewabilityFetcher> init() { return self<TMAViewabilityFetcher>(); }

    // Downloads the offered script unless the stored one has the offered
    // version; does nothing when no script is offered.
    void loadViewabilityWithConfig(const Ref<TMAdConfiguration>& configuration);

    static std::optional<std::string> storedScript();
    static std::optional<std::string> storedVersion();
};
