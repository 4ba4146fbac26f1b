// The fixture of the banner and native ad tests: the screen fixture (real
// screens, click chains, client bundle, publisher) with the service's banner
// pages, native answer and images installed, a banner listener that records
// what it hears, and helpers that make a banner over the root view, let a
// load run to its finished page, reveal it on the virtual clock and read the
// banner requests back.
#pragma once

#include <string>
#include <vector>

#include "Trillium/display/TRABannerView.h"
#include "Trillium/display/TRATrilliumNativeAd.h"
#include "Trillium/display/tests/TrilliumScreenTestSupport.h"
#include "simulator/TrilliumBannerAds.h"

// Records the banner callbacks: "display", "failed: <text>", "click", "storeClosed".
class TRABannerTestListener : public NSObject, public TRABannerDelegateProtocol {
public:
    void didDisplayBannerAd(const Ref<TRABannerView>&) override { events.push_back("display"); }
    void failedLoadBannerAd(const Ref<TRABannerView>&, const Ref<NSError>& error) override {
        events.push_back("failed: " + (error ? error->localizedDescription() : std::string("(null)")));
    }
    void didClickBannerAd(const Ref<TRABannerView>&) override { events.push_back("click"); }
    void didCloseBannerInAppStore(const Ref<TRABannerView>&) override { events.push_back("storeClosed"); }
    PLATFORM_RESPONDS_TO("didDisplayBannerAd:", "failedLoadBannerAd:withError:", "didClickBannerAd:",
                         "didCloseBannerInAppStore:")

    std::vector<std::string> events;
};

class TrilliumBannerTest : public TrilliumScreenTest {
protected:
    void SetUp() override {
        TrilliumScreenTest::SetUp();
        banners.install();
    }

    Ref<UIView> root() const { return rootViewController()->view(); }

    // A banner over the root view, added to it unless `add` is false.
    Ref<TRABannerView> makeBanner(TRAAdOrigin position = TRAAdOrigin_Bottom,
                                  TRABannerSizeEnum size = TRA_PortraitAdSize_320x50, bool add = true) {
        auto banner = TRABannerView::alloc()->initWithSize(size, position, root(), listener);
        if (banner && add) root()->addSubview(banner);
        return banner;
    }
    // Runs until the banner's load number `offset` (0 for the first) has
    // ended: its page finished loading, or the load failed.
    bool finishLoad(const Ref<TRABannerView>& banner, int32_t offset = 0) {
        return waitFor([&] { return banner->ad() && banner->ad()->offset() >= offset && !banner->loadingAd(); });
    }
    // The first page, loaded and revealed.
    void showFirstPage(const Ref<TRABannerView>& banner) {
        ASSERT_TRUE(finishLoad(banner, 0));
        driver().advance(TRABannerView::kRevealDelay);
    }
    std::vector<simulator::TrilliumRequest> bannerRequests() const { return htmlAdRequestsFor("INAPP_BANNER"); }
    std::vector<simulator::TrilliumRequest> impressions() {
        EXPECT_TRUE(driver().settle(10));
        return service.requestsTo(simulator::TrilliumService::kImpressionPath);
    }
    std::vector<simulator::TrilliumRequest> clickReports() {
        EXPECT_TRUE(driver().settle(10));
        return service.requestsTo(simulator::TrilliumService::kClickPath);
    }
    // A configuration answer with extra fields (JSON text without braces).
    void setConfigFields(const std::string& fields) {
        service.setConfig("{\"ttl\": 3600, \"adPlatformHost\": \"" + service.baseUrl() + "\", " + fields + "}");
    }

    simulator::TrilliumBannerAds banners{service};
    Ref<TRABannerTestListener> listener = NSObject::alloc<TRABannerTestListener>();
};
