// The Tamarind client's URL classifier: which way a URL that a creative
// opens goes (the click-through browsing controller routes by it), and the
// store identifier of a store link. Any thread.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/NSURL.h"
#include "platform/runtime/NSObject.h"

// What actionForURL answers.
enum TMALinkAction : int {
    TMALinkActionNone = 0,     // anything else: handed to the system
    TMALinkActionIntent = 1,   // "tamarindmobile://intent?…"
    TMALinkActionPrivate = 2,  // any other "tamarindmobile" URL
    TMALinkActionWeb = 3,      // an http(s) URL
    TMALinkActionStore = 4,    // an http(s) URL on one of the store's web hosts
};

class TMALinkUtility : public NSObject {
public:
    static Ref<TMALinkUtility> sharedLinkUtility();

    // Schemes and hosts compare case-insensitively; a null URL is 0.
    int actionForURL(const Ref<NSURL>& url) const;
    // For a store link, the text after "id" in its last path component
    // (pattern "id(.+)", unanchored); nullopt, logged, otherwise.
    std::optional<std::string> appStoreIdFromURL(const Ref<NSURL>& url) const;
};
