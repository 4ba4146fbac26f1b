// One fuzz input for the ad answer path: the bytes are read as the HTTP
// client reads an ad server's body (a JSON object, else the request fails),
// the answer's "settings" are applied, and the render task turns it into an
// ad, whose model is then exercised (description, equality, hash, copy,
// completion URL, spec). With the network off every download fails at once;
// a few resources sit in the cache already, so both paths are taken. The
// delegate must hear exactly one outcome, and nothing may be written outside
// the cache folder. The settings are reset after each input. Used by the
// libFuzzer target and by the unit run's short pass.
#pragma once

#include <cstdlib>
#include <string>
#include <string_view>

#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLAdLoadDelegate.h"
#include "halcyon/core/HLAdSpec.h"
#include "halcyon/core/HLConnectionUtils.h"
#include "halcyon/core/HLConstants.h"
#include "halcyon/core/HLFileManager.h"
#include "halcyon/core/HLInternalSdkSettings.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLSettingsManager.h"
#include "halcyon/core/HLTaskRenderIOSAd.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/net/NetworkConditions.h"

class HLAdAnswerFuzzHarness {
public:
    // The prefix resources are allowed under (nothing listens there).
    static constexpr const char* kResourcePrefix = "http://127.0.0.1:9/res/";

    // Settings pointing the client at nothing reachable.
    static Ref<HLInternalSdkSettings> settings() {
        auto settings = NSObject::alloc<HLInternalSdkSettings>()->init();
        settings->putString("http://127.0.0.1:9/api/", kHLSlotApiEndpoint);
        settings->putString("http://127.0.0.1:9/ads/", kHLSlotAdServerEndpoint);
        settings->putString(kResourcePrefix, kHLSlotResourceCachePrefix);
        settings->putBool(false, 26);
        return settings;
    }

    // Needs the platform started and `sdk` made with settings().
    HLAdAnswerFuzzHarness(Ref<HLSdk> sdk, Ref<HLInternalSdkSettings> settings)
        : sdk_(std::move(sdk)), settings_(std::move(settings)) {
        platform::testing::NetworkConditions::set(platform::NetworkState::None);
        for (const char* name : {"ad.js", "banner.png", "video.mp4"})
            sdk_->fileManager()->cacheResourceWithData(NSData::dataWithString("cached"), name);
    }

    // The outcomes the last input gave (always 1 unless the client is at fault).
    size_t run(std::string_view bytes) {
        Ref<NSError> error;
        std::optional<Value> parsed =
            NSJSONSerialization::JSONObjectWithData(NSData::dataWithString(bytes), 0, &error);
        auto delegate = std::make_shared<HLFuzzLoadDelegate>();
        if (parsed && parsed->isDictionary()) {
            HLConnectionUtils::updateSettingsFor(sdk_, *parsed);
            auto task = NSObject::alloc<HLTaskRenderIOSAd>()->initWithSdk(sdk_);
            task->setAdResponse(*parsed);
            task->setDelegate(delegate);
            task->run();
            if (Ref<HLAd> ad = delegate->ad) exercise(ad);
        } else {
            delegate->outcomes = 1;  // the request fails before any render
        }
        const Ref<HLSettingsManager>& table = sdk_->settingsManager();
        table->clearAll();
        table->loadFromUserSettings(settings_);
        return delegate->outcomes;
    }

private:
    class HLFuzzLoadDelegate : public NSObject, public HLAdLoadDelegate {
    public:
        void adServiceDidLoadAd(const Ref<HLAdService>&, const Ref<HLAd>& loaded) override {
            ++outcomes;
            ad = loaded;
        }
        void adServiceDidFailToLoadAdWithError(const Ref<HLAdService>&, int32_t) override { ++outcomes; }
        size_t outcomes = 0;
        Ref<HLAd> ad;
    };

    static void exercise(const Ref<HLAd>& ad) {
        Ref<HLAd> copy = ad->copy();
        if (!copy->isEqual(*ad) || copy->hash() != ad->hash()) std::abort();
        (void)ad->description();
        (void)ad->parameterizedVideoCompletionURL(50, true, std::string("fuzz {PLACEMENT} %"), 3);
        (void)HLAdSpec::specFromAd(ad)->description();
        (void)ad->isVideoAd();
        (void)ad->opensInStoreKit();
    }

    Ref<HLSdk> sdk_;
    Ref<HLInternalSdkSettings> settings_;
};
