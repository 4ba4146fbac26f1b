// Fakes and helpers of the native ad tests: a delegate that records what a
// native load and a native precache report (a journal of lines, any thread),
// and a fixture that renders the service's own "nad" answers straight into
// a delegate, as a fetched answer would be.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "halcyon/core/HLNativeAd.h"
#include "halcyon/core/HLNativeAdLoadDelegate.h"
#include "halcyon/core/HLTaskManager.h"
#include "halcyon/core/HLTaskRenderNativeAd.h"
#include "halcyon/core/tests/HalcyonTestSupport.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/runtime/NSThread.h"

// Journal lines: "loaded <id>,<id>", "failed <code>", "images <id>",
// "video <id>", "images failed <id> <code>", "video failed <id> <code>".
class HLRecordingNativeDelegate : public NSObject, public HLNativeAdLoadDelegate, public HLNativeAdPrecacheDelegate {
public:
    void nativeAdServiceDidLoadAds(const Ref<HLNativeAdService>&, const std::vector<Ref<HLNativeAd>>& ads) override {
        std::string line = "loaded ";
        for (size_t i = 0; i < ads.size(); ++i) line += (i ? "," : "") + id(ads[i]);
        std::scoped_lock lock(mutex_);
        loaded_ = ads;
        record(line);
    }
    void nativeAdServiceDidFailToLoadAdsWithError(const Ref<HLNativeAdService>&, int32_t code) override {
        std::scoped_lock lock(mutex_);
        record("failed " + std::to_string(code));
    }
    void nativeAdServiceDidPrecacheImagesForAd(const Ref<HLNativeAdService>&, const Ref<HLNativeAd>& ad) override {
        std::scoped_lock lock(mutex_);
        record("images " + id(ad));
    }
    void nativeAdServiceDidPrecacheVideoForAd(const Ref<HLNativeAdService>&, const Ref<HLNativeAd>& ad) override {
        std::scoped_lock lock(mutex_);
        record("video " + id(ad));
    }
    void nativeAdServiceDidFailToPrecacheImagesForAdWithError(const Ref<HLNativeAdService>&, const Ref<HLNativeAd>& ad,
                                                              int32_t code) override {
        std::scoped_lock lock(mutex_);
        record("images failed " + id(ad) + " " + std::to_string(code));
    }
    void nativeAdServiceDidFailToPrecacheVideoForAdWithError(const Ref<HLNativeAdService>&, const Ref<HLNativeAd>& ad,
                                                             int32_t code) override {
        std::scoped_lock lock(mutex_);
        record("video failed " + id(ad) + " " + std::to_string(code));
    }
    PLATFORM_RESPONDS_TO(kHLSelDidLoadAds, kHLSelDidFailToLoadAds, kHLSelDidPrecacheImages, kHLSelDidPrecacheVideo,
                         kHLSelDidFailToPrecacheImages, kHLSelDidFailToPrecacheVideo)

    std::vector<std::string> journal() const {
        std::scoped_lock lock(mutex_);
        return journal_;
    }
    std::vector<Ref<HLNativeAd>> loaded() const {
        std::scoped_lock lock(mutex_);
        return loaded_;
    }
    // Whether every report came on the main thread.
    bool allOnMainThread() const {
        std::scoped_lock lock(mutex_);
        return onMain_;
    }

private:
    static std::string id(const Ref<HLNativeAd>& ad) { return ad ? ad->adIdNumber().stringValue() : "(null)"; }
    void record(std::string line) {
        journal_.push_back(std::move(line));
        onMain_ = onMain_ && NSThread::isMainThread();
    }
    mutable std::mutex mutex_;  // guards the fields below
    std::vector<std::string> journal_;
    std::vector<Ref<HLNativeAd>> loaded_;
    bool onMain_ = true;
};

class HalcyonNativeTest : public HalcyonTest {
protected:
    // The service's "nad" answer text for `answer`, as a request for
    // `slotCount` ads would get it.
    std::string answerText(const simulator::HalcyonNativeAnswer& answer, int slotCount = 1) {
        simulator::RecordedRequest request;
        request.path = simulator::HalcyonService::kNativeAdPath;
        request.query = "slot_count=" + std::to_string(slotCount);
        return service.nativeAnswerJson(answer, request);
    }
    // Renders `text` (JSON) on queue 0 into `delegate` and waits.
    void renderInto(const Ref<HLSdk>& sdk, const std::string& text, const Ref<HLNativeAdLoadDelegate>& delegate) {
        auto parsed = NSJSONSerialization::JSONObjectWithData(NSData::dataWithString(text));
        auto task = NSObject::alloc<HLTaskRenderNativeAd>()->initWithSdk(sdk, parsed ? *parsed : Value(), delegate);
        sdk->taskManager()->execute(task, 0);
        EXPECT_TRUE(settle());
    }
    // The ads `text` renders into.
    std::vector<Ref<HLNativeAd>> rendered(const Ref<HLSdk>& sdk, const std::string& text) {
        auto delegate = std::make_shared<HLRecordingNativeDelegate>();
        renderInto(sdk, text, delegate);
        return delegate->loaded();
    }
};
