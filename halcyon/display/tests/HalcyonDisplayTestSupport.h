// The Halcyon display tests' fixture: the core's fixture (the Halcyon service
// on loopback, settings pointing at it, a recording log listener) with the
// display classes registered, a started client that is also the Info.plist's
// (so that the shared objects use it), ads rendered from the service's
// answers, a scratch folder for snapshots, and fakes that record what the
// application hears, in one journal across delegates.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "halcyon/core/HLAdDisplayProtocols.h"
#include "halcyon/core/tests/HalcyonTestSupport.h"
#include "halcyon/display/HLAdVideoPlaybackDelegate.h"
#include "halcyon/display/HalcyonDisplayClasses.h"
#include "platform/testing/SnapshotComparison.h"

using HLTestJournal = std::shared_ptr<std::vector<std::string>>;

// "<name> displayed|hidden|clicked <ad id>" and the view, in order; any thread.
class HLRecordingDisplayDelegate : public NSObject, public HLAdDisplayDelegate, public HLAdVideoPlaybackDelegate {
public:
    explicit HLRecordingDisplayDelegate(std::string name = "display", HLTestJournal journal = nullptr)
        : name_(std::move(name)),
          journal_(journal ? std::move(journal) : std::make_shared<std::vector<std::string>>()) {}

    void adWasDisplayedIn(const Ref<HLAd>& ad, const Ref<UIView>& view) override { record("displayed", ad, view); }
    void adWasHiddenIn(const Ref<HLAd>& ad, const Ref<UIView>& view) override { record("hidden", ad, view); }
    void adWasClickedIn(const Ref<HLAd>& ad, const Ref<UIView>& view) override { record("clicked", ad, view); }
    void videoPlaybackBeganInAd(const Ref<HLAd>& ad) override { record("began", ad, nullptr); }
    void videoPlaybackEndedInAd(const Ref<HLAd>& ad, const Value&, bool) override { record("ended", ad, nullptr); }

    std::vector<std::string> journal() const {
        std::scoped_lock lock(mutex_);
        return *journal_;
    }
    Ref<UIView> lastView() const {
        std::scoped_lock lock(mutex_);
        return lastView_;
    }
    size_t count(const std::string& event) const {
        std::scoped_lock lock(mutex_);
        size_t n = 0;
        for (const auto& entry : *journal_) n += entry.find(name_ + " " + event) == 0;
        return n;
    }
    bool onlyMainThread() const { return onlyMainThread_; }

private:
    void record(const char* event, const Ref<HLAd>& ad, const Ref<UIView>& view) {
        std::scoped_lock lock(mutex_);
        onlyMainThread_ = onlyMainThread_ && NSThread::isMainThread();
        journal_->push_back(name_ + " " + event + " " + (ad ? ad->adIdNumber().stringValue() : std::string("(null)")));
        if (view) lastView_ = view;
    }
    mutable std::mutex mutex_;
    std::string name_;
    HLTestJournal journal_;
    Ref<UIView> lastView_;
    bool onlyMainThread_ = true;
};

class HalcyonDisplayTest : public HalcyonTest {
protected:
    void SetUp() override {
        HalcyonTest::SetUp();
        if (::testing::Test::HasFatalFailure()) return;
        registerHalcyonDisplayClasses();
        sdk = startSdk();
    }

    // The client's key in the Info.plist, so that HLSdk::shared() is `sdk`.
    Value infoDictionary() const override {
        Value info = HalcyonTest::infoDictionary();
        info.set("HalcyonSdkKey", kHLTestSdkKey);
        return info;
    }

    // The ad the service would answer, rendered as a fetched answer is
    // (resources cached); null when the render fails.
    Ref<HLAd> renderedAd(const simulator::HalcyonAd& ad) {
        return render(sdk, service.adAnswer(ad, simulator::RecordedRequest{})).get()->only().ad;
    }
    // An ad of `size` ("BANNER", "INTER") with the given extra members.
    Ref<HLAd> renderedAd(const std::string& size, int64_t id, std::optional<std::string> extraMembersJson = {}) {
        simulator::HalcyonAd ad;
        ad.size = size;
        ad.adId = id;
        ad.extraMembersJson = std::move(extraMembersJson);
        return renderedAd(ad);
    }

    void setSlot(int64_t slot, const Value& value) { sdk->settingsManager()->putNumber(value, slot); }
    void setSlotString(int64_t slot, const std::string& value) { sdk->settingsManager()->putString(value, slot); }

    // A folder for snapshots inside the test's home.
    std::string scratch() {
        std::string folder = home() + "/snapshots";
        std::filesystem::create_directories(folder);
        return folder;
    }

    Ref<HLSdk> sdk;
    HLTestJournal journal = std::make_shared<std::vector<std::string>>();
};
