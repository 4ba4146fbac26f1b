// The Trillium tests' fixture: the platform's test fixture with the client's
// classes registered, the Trillium service on loopback as the ad platform,
// the entry point's identifiers set, and small fakes for the display side
// (full-screen ad objects, ad screens, video store) that the core drives.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Trillium/TRADelegateProtocol.h"
#include "Trillium/TRADisplayHooks.h"
#include "Trillium/TRAHtmlAd.h"
#include "Trillium/TRAPlacementRequest.h"
#include "Trillium/TRATrilliumSDK.h"
#include "Trillium/TrilliumClasses.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/testing/PlatformTest.h"
#include "simulator/TrilliumService.h"

inline constexpr const char* kTestAppId = "app-123";
inline constexpr const char* kTestDevId = "dev-456";

class TrilliumTest : public platform::testing::PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        registerTrilliumClasses();
        ASSERT_TRUE(service.start());
        NSUserDefaults::standardUserDefaults()->setObject(service.baseUrl(), "TRAAdPlatformHost");
        auto& hooks = TRADisplayHooks::shared();
        hooks.fullScreenAd = [](int64_t adType, int64_t eventType) -> Ref<TRAHtmlAd> {
            auto ad = NSObject::alloc<TRAHtmlAd>()->init();
            ad->setAdType(adType);
            if (eventType == 0) ad->setAdRequest(NSObject::alloc<TRAOverlayAdRequest>()->init());
            return ad;
        };
        auto sdk = TRATrilliumSDK::sharedInstance();
        sdk->setAppID(std::string(kTestAppId));
        sdk->setDevID(std::string(kTestDevId));
    }
    void TearDown() override {
        service.stop();
        PlatformTest::TearDown();
    }

    // Runs the main loop (real time for network answers) until `done` holds.
    bool waitFor(const std::function<bool()>& done) { return driver().runUntil(done, 10); }
    bool waitForRequests(std::string_view path, size_t count) {
        return waitFor([&] { return service.requestsTo(path).size() >= count; });
    }

    simulator::TrilliumService service;
};

// Records what a publisher's delegate hears.
class RecordingAdDelegate : public NSObject, public TRADelegateProtocol {
public:
    void didLoadAd(const Ref<TRAAbstractAd>&) override { events.push_back("didLoadAd"); }
    void failedLoadAd(const Ref<TRAAbstractAd>&, const Ref<NSError>& error) override {
        events.push_back("failedLoadAd");
        lastError = error;
    }
    void didShowAd(const Ref<TRAAbstractAd>&) override { events.push_back("didShowAd"); }
    void failedShowAd(const Ref<TRAAbstractAd>&, const Ref<NSError>& error) override {
        events.push_back("failedShowAd");
        lastError = error;
    }
    void didCloseAd(const Ref<TRAAbstractAd>&) override { events.push_back("didCloseAd"); }
    void didClickAd(const Ref<TRAAbstractAd>&) override { events.push_back("didClickAd"); }
    void didCloseInAppStore(const Ref<TRAAbstractAd>&) override { events.push_back("didCloseInAppStore"); }
    void didCompleteVideo(const Ref<TRAAbstractAd>&) override { events.push_back("didCompleteVideo"); }
    PLATFORM_RESPONDS_TO("didLoadAd:", "failedLoadAd:withError:", "didShowAd:", "failedShowAd:withError:",
                         "didCloseAd:", "didClickAd:", "didCloseInAppStore:", "didCompleteVideo:")

    std::vector<std::string> events;
    Ref<NSError> lastError;
};

// An ad screen that records what the ad asked of it. Like the real screens it
// holds the ad and the delegate weakly: the ad owns its screen.
class FakeAdScreen : public NSObject, public TRAAdScreen {
public:
    void initWithAd(const Ref<TRAAd>& ad, const Ref<TRAViewControllerDelegate>& delegate,
                    const std::optional<std::string>& adTag) override {
        shownAd = ad;
        this->delegate = delegate;
        ++initCount;
        tag = adTag;
    }
    void closeAdWithAnimation(bool animated, bool click) override { closes.emplace_back(animated, click); }

    bool video = false;
    int initCount = 0;
    Weak<TRAAd> shownAd;
    Weak<TRAViewControllerDelegate> delegate;
    std::optional<std::string> tag;
    std::vector<std::pair<bool, bool>> closes;
};

// A video store that keeps the requests and answers when told.
class FakeVideoStore : public NSObject, public TRAVideoStore {
public:
    void downloadVideoWithUrl(const std::string& url, const Ref<TRAVideosManagerDelegate>& delegate) override {
        requests.emplace_back(url, delegate);
    }
    void setNowPlayingVideoFileName(const std::optional<std::string>& name) override { nowPlaying = name; }
    Value getVideosDBCopy() override { return table; }

    std::vector<std::pair<std::string, Ref<TRAVideosManagerDelegate>>> requests;
    std::optional<std::string> nowPlaying;
    Value table = Value::dictionary({});
};
