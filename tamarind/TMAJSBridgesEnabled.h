// Which script bridges a creative is given: "mraid", "tamarind" and the
// viewability bridge. All off by default.
#pragma once

#include "platform/runtime/NSObject.h"

class TMAJSBridgesEnabled : public NSObject {
public:
    static Ref<TMAJSBridgesEnabled> defaultJSBridgesEnabled() { return NSObject::alloc<TMAJSBridgesEnabled>(); }

    bool mraid() const { return mraid_; }
    void setMraid(bool on) { mraid_ = on; }
    bool tamarind() const { return tamarind_; }
    void setTamarind(bool on) { tamarind_ = on; }
    bool viewability() const { return viewability_; }
    void setViewability(bool on) { viewability_ = on; }

private:
    bool mraid_ = false;
    bool tamarind_ = false;
    bool viewability_ = false;
};
