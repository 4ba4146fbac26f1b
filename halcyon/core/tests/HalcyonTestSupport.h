// The Halcyon tests' fixture: the platform's fixture with the client's
// classes registered and the Halcyon service started on loopback (http and
// https, whose test authority trustService() trusts); settings that point the
// client at the service through HLInternalSdkSettings slot overrides (11, 12,
// 100, 31) with a listener that records every log line;
// fakes that record what a requester and a load delegate hear; a blocker
// that holds a task queue busy; and a direct way to render an ad answer.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLAdLoadDelegate.h"
#include "halcyon/core/HLAdSpec.h"
#include "halcyon/core/HLConnectionManager.h"
#include "halcyon/core/HLConstants.h"
#include "halcyon/core/HLInternalSdkSettings.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLSettingsManager.h"
#include "halcyon/core/HLTaskManager.h"
#include "halcyon/core/HLTaskRenderIOSAd.h"
#include "halcyon/core/HalcyonCoreClasses.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/net/TrustedAuthorities.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/runtime/HangGuard.h"
#include "platform/runtime/NSOperationQueue.h"
#include "platform/runtime/NSThread.h"
#include "platform/testing/PlatformTest.h"
#include "simulator/HalcyonService.h"

inline constexpr const char* kHLTestSdkKey = "TESTKEY-0123456789";
// The settings table's store key for kHLTestSdkKey.
inline constexpr const char* kHLTestSettingsKey = "com.halcyon.sdk.TEST";

// Every line the client's log manager writes, in order; any thread.
class HLRecordingLogListener : public NSObject, public HLLogListenerDelegate {
public:
    void didLog(const std::string& line) override {
        std::scoped_lock lock(mutex_);
        lines_.push_back(line);
    }
    std::vector<std::string> lines() const {
        std::scoped_lock lock(mutex_);
        return lines_;
    }
    size_t count(std::string_view substring) const {
        std::scoped_lock lock(mutex_);
        size_t n = 0;
        for (const auto& line : lines_) n += line.find(substring) != std::string::npos;
        return n;
    }
    bool contains(std::string_view substring) const { return count(substring) > 0; }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// What a requester hears, with the queue it heard it on. Answers
// "connectionVia:requiresResponseForRequest:" only when `requiresResponse` is set.
class HLRecordingConnectionDelegate : public NSObject, public HLConnectionManagerDelegate {
public:
    struct Outcome {
        bool success = false;
        int64_t code = 0;
        Value body;
        std::string queue;  // the operation queue's name, "" off any queue
    };

    void connectionViaDidSucceedWith(const Ref<HLConnectionManager>&, int64_t code, const Value& body) override {
        record({true, code, body, queueName()});
    }
    void connectionViaDidFailWith(const Ref<HLConnectionManager>&, int64_t code) override {
        record({false, code, Value(), queueName()});
    }
    bool connectionViaRequiresResponseForRequest(const Ref<HLConnectionManager>&,
                                                 const Ref<platform::NSURLRequest>&) override {
        return requiresResponse.value_or(false);
    }
    bool respondsToSelector(std::string_view selector) const override {
        if (selector == "connectionVia:requiresResponseForRequest:") return requiresResponse.has_value();
        return NSObjectProtocol::respondsToSelector(selector);
    }

    std::vector<Outcome> outcomes() const {
        std::scoped_lock lock(mutex_);
        return outcomes_;
    }
    size_t count() const {
        std::scoped_lock lock(mutex_);
        return outcomes_.size();
    }

    std::optional<bool> requiresResponse;

private:
    static std::string queueName() {
        auto queue = NSOperationQueue::currentQueue();
        return queue && queue != NSOperationQueue::mainQueue() ? queue->name() : std::string();
    }
    void record(Outcome outcome) {
        std::scoped_lock lock(mutex_);
        outcomes_.push_back(std::move(outcome));
    }
    mutable std::mutex mutex_;
    std::vector<Outcome> outcomes_;
};

// Holds a queue busy until released (or destroyed), so that work queued
// behind it waits.
class HLQueueBlocker {
public:
    explicit HLQueueBlocker(const Ref<NSOperationQueue>& queue) {
        auto state = state_;
        queue->addOperationWithBlock([state] {
            std::unique_lock lock(state->mutex);
            state->started = true;
            state->changed.notify_all();
            state->changed.wait(lock, [&] { return state->released; });
        });
        std::unique_lock lock(state_->mutex);
        state_->changed.wait_for(lock, std::chrono::duration<double>(platform::testing::hangGuard(10)),
                                 [&] { return state_->started; });
    }
    ~HLQueueBlocker() { release(); }
    void release() {
        std::scoped_lock lock(state_->mutex);
        state_->released = true;
        state_->changed.notify_all();
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool started = false, released = false;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// What a load delegate hears, in order, with the thread it heard it on.
// Several delegates may share one journal ("<name> ad <id>" / "<name> fail
// <code>") to check the order across them. Extended: answers the spec form.
class HLRecordingLoadDelegate : public NSObject, public HLExtendedAdLoadDelegate {
public:
    struct Outcome {
        Ref<HLAd> ad;  // null for a failure
        int32_t code = 0;
        Ref<HLAdSpec> spec;  // the spec form only
        bool onMainThread = false;
    };
    explicit HLRecordingLoadDelegate(std::string name = "delegate",
                                     std::shared_ptr<std::vector<std::string>> journal = nullptr)
        : name_(std::move(name)), journal_(journal ? std::move(journal) : std::make_shared<std::vector<std::string>>()) {}

    void adServiceDidLoadAd(const Ref<HLAdService>&, const Ref<HLAd>& ad) override {
        record({ad, 0, nullptr, NSThread::isMainThread()},
               name_ + " ad " + (ad ? ad->adIdNumber().stringValue() : std::string("(null)")));
    }
    void adServiceDidFailToLoadAdWithError(const Ref<HLAdService>&, int32_t code) override {
        record({nullptr, code, nullptr, NSThread::isMainThread()}, name_ + " fail " + std::to_string(code));
    }
    void adServiceDidFailToLoadAdOfSpec(const Ref<HLAdService>& service, const Ref<HLAdSpec>& spec,
                                        int32_t code) override {
        if (!extended) return HLExtendedAdLoadDelegate::adServiceDidFailToLoadAdOfSpec(service, spec, code);
        record({nullptr, code, spec, NSThread::isMainThread()}, name_ + " fail " + std::to_string(code));
    }

    std::vector<Outcome> outcomes() const {
        std::scoped_lock lock(mutex_);
        return outcomes_;
    }
    size_t count() const {
        std::scoped_lock lock(mutex_);
        return outcomes_.size();
    }
    // The only outcome (a default one when there is not exactly one).
    Outcome only() const {
        std::scoped_lock lock(mutex_);
        return outcomes_.size() == 1 ? outcomes_[0] : Outcome{};
    }
    std::vector<std::string> journal() const {
        std::scoped_lock lock(mutex_);
        return *journal_;
    }

    bool extended = true;

private:
    void record(Outcome outcome, std::string entry) {
        std::scoped_lock lock(mutex_);
        outcomes_.push_back(std::move(outcome));
        journal_->push_back(std::move(entry));
    }
    mutable std::mutex mutex_;
    std::string name_;
    std::shared_ptr<std::vector<std::string>> journal_;
    std::vector<Outcome> outcomes_;
};

class HalcyonTest : public platform::testing::PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        registerHalcyonCoreClasses();
        ASSERT_TRUE(service.start());
    }
    void TearDown() override {
        driver().settle(10);
        service.stop();
        PlatformTest::TearDown();
    }

    // Publisher settings pointing the client at the service, with the
    // listener; with `secureApi` the API endpoint is the https listener's.
    Ref<HLInternalSdkSettings> serviceSettings(bool secureApi = false) {
        auto settings = NSObject::alloc<HLInternalSdkSettings>()->init();
        settings->putString(secureApi ? service.secureApiUrl() : service.apiUrl(), kHLSlotApiEndpoint);
        settings->putString(service.adServerUrl(), kHLSlotAdServerEndpoint);
        settings->putString(service.eventUrl(), kHLSlotEventTrackingEndpoint);
        settings->putString(service.resourcePrefixes(), kHLSlotResourceCachePrefix);
        settings->setListener(listener);
        return settings;
    }

    // The registered instance, with its start-up work (initialisation and
    // the device-data submission) done.
    Ref<HLSdk> startSdk(const Ref<HLInternalSdkSettings>& settings) {
        Ref<HLSdk> sdk = HLSdk::sharedWithKey(std::string(kHLTestSdkKey), settings);
        EXPECT_TRUE(sdk);
        EXPECT_TRUE(settle());
        return sdk;
    }
    Ref<HLSdk> startSdk() { return startSdk(serviceSettings()); }
    // With preloading off (slot 26): every ad request is the test's own.
    Ref<HLInternalSdkSettings> settingsWithoutPreloads() {
        auto settings = serviceSettings();
        settings->putBool(false, 26);
        return settings;
    }
    Ref<HLSdk> startSdkWithoutPreloads() { return startSdk(settingsWithoutPreloads()); }

    // A process restart: the platform's memory re-read from the home folder
    // and a new, unregistered instance made as the next start would make it.
    Ref<HLSdk> restartSdk(const Ref<HLInternalSdkSettings>& settings) {
        EXPECT_TRUE(settle());
        restartProcessState();
        Ref<HLSdk> sdk = NSObject::alloc<HLSdk>()->initWithKey(kHLTestSdkKey, settings);
        EXPECT_TRUE(settle());
        return sdk;
    }
    Ref<HLSdk> restartSdk() { return restartSdk(serviceSettings()); }

    // Renders `answer` (JSON text) with a render task on queue 0, as a fetched
    // answer would be, and waits for it; the delegate hears the outcome.
    Ref<HLRecordingLoadDelegate> render(const Ref<HLSdk>& sdk, const std::string& answer) {
        auto parsed = NSJSONSerialization::JSONObjectWithData(NSData::dataWithString(answer));
        auto delegate = std::make_shared<HLRecordingLoadDelegate>("render");
        auto task = NSObject::alloc<HLTaskRenderIOSAd>()->initWithSdk(sdk);
        task->setAdResponse(parsed ? *parsed : Value());
        task->setDelegate(delegate);
        sdk->taskManager()->execute(task, 0);
        EXPECT_TRUE(settle());
        return delegate;
    }
    // The cache folder's path with a trailing "/".
    static std::string cacheFolder() {
        return NSSearchPathForDirectoriesInDomains(NSCachesDirectory, NSUserDomainMask, true).front() + "/hl/";
    }

    // Trusts the service's https listener, for the rest of this test's process.
    void trustService() {
        ASSERT_TRUE(platform::TrustedAuthorities::addCertificatesPEM(service.server().certificateAuthorityPEM()));
    }

    // Waits (real time) until the queues, timers due now and transfers are
    // idle: a hang guard long enough for the heaviest answers' work, which a
    // busy machine stretches many times over.
    bool settle() { return driver().settle(30); }
    Value storedSettings() { return NSUserDefaults::standardUserDefaults()->objectForKey(kHLTestSettingsKey); }

    simulator::HalcyonService service;
    Ref<HLRecordingLogListener> listener = NSObject::alloc<HLRecordingLogListener>();
};
