// The publisher's settings, handed to HLSdk at creation (public): verbose
// logging, which ad sizes and types to preload, muting. The settings table
// takes its publisher overrides from them once, while the SDK is created;
// later changes have no effect.
#pragma once

#include <string>

#include "platform/runtime/NSObject.h"

class HLSdkSettings : public NSObject {
public:
    Ref<HLSdkSettings> init() { return self<HLSdkSettings>(); }

    bool isVerboseLogging() const { return verboseLogging_; }
    void setIsVerboseLogging(bool on) { verboseLogging_ = on; }
    // Comma-separated size labels, or "NONE".
    const std::string& autoPreloadAdSizes() const { return autoPreloadAdSizes_; }
    void setAutoPreloadAdSizes(std::string sizes) { autoPreloadAdSizes_ = std::move(sizes); }
    // Comma-separated type labels, or "NONE".
    const std::string& autoPreloadAdTypes() const { return autoPreloadAdTypes_; }
    void setAutoPreloadAdTypes(std::string types) { autoPreloadAdTypes_ = std::move(types); }
    bool muted() const { return muted_; }
    void setMuted(bool muted) { muted_ = muted; }

    // "VIDEOA,REGULAR,NATIVE": the incentivized, regular and native labels.
    static std::string defaultAutoPreloadAdTypes();

private:
    bool verboseLogging_ = false;
    std::string autoPreloadAdSizes_ = "INTER";
    std::string autoPreloadAdTypes_ = defaultAutoPreloadAdTypes();
    bool muted_ = false;
};
