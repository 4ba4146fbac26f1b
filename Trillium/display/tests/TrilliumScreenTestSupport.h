// The fixture of the Trillium screen tests (HTML ad screen, click follower,
// in-app browser), for reuse by the video, banner and native ad tests: the
// display fixture with the real screens plugged in, the client's resource
// bundle (button images) copied into the test bundle, the click chains and
// landing pages on the Trillium service (its https listener trusted), a
// publisher that records what it hears, and helpers that load and show an
// ad, tap the page, find the screens on top, set configuration switches and
// read back the analytics events.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRATrilliumAd.h"
#include "Trillium/display/TRAAdViewController.h"
#include "Trillium/display/TRAInAppBrowserViewController.h"
#include "Trillium/display/TRASmartRedirectWebView.h"
#include "Trillium/display/tests/TrilliumDisplayTestSupport.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/net/TrustedAuthorities.h"
#include "platform/store/SKStoreProductViewController.h"
#include "simulator/TrilliumClickChains.h"

// One analytics event as the service received it.
struct TrilliumAnalyticsEvent {
    std::string category;
    std::string value;
    std::optional<std::string> details;
    std::optional<std::string> d;
};

class TrilliumScreenTest : public TrilliumDisplayTest {
protected:
    void SetUp() override {
        TrilliumDisplayTest::SetUp();
        // The real screens, in place of the display fixture's fakes.
        registerTrilliumDisplayClasses();
        chains.install();
        installClientBundle();
        // The service's https listener is trusted, as a real ad platform's would be.
        TrustedAuthorities::addCertificatesPEM(service.server().certificateAuthorityPEM());
    }

    // Copies the repository's resources/Trillium.bundle into the test bundle.
    void installClientBundle() {
        const char* root = std::getenv("PROJECT_SOURCE_DIR");
        ASSERT_NE(root, nullptr) << "PROJECT_SOURCE_DIR is not set";
        std::filesystem::copy(std::filesystem::path(root) / "resources/Trillium.bundle",
                              std::filesystem::path(bundlePath()) / "Trillium.bundle",
                              std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
    }

    // A configuration switch as the configuration answer stores it.
    static void setSwitch(const std::string& key, const Value& value) {
        NSUserDefaults::standardUserDefaults()->setObject(value, key);
    }

    // An ad page whose ads link to `targets` (one entry per ad: smart
    // redirect and in-app browser flags, click-tracking d "click<i>").
    simulator::TrilliumHtmlAd adPage(const std::vector<std::string>& targets, std::vector<bool> smartRedirect,
                                     std::vector<bool> browser, std::string_view external = {}) const {
        simulator::TrilliumHtmlAd page;
        page.body = simulator::TrilliumClickChains::adPageBody(targets, external);
        page.clickTrackings.clear();
        for (size_t i = 0; i < targets.size(); ++i) page.clickTrackings.push_back("click" + std::to_string(i));
        page.smartRedirect = std::move(smartRedirect);
        page.trilliumBrowserEnabled = std::move(browser);
        return page;
    }

    // Serves the page and loads it through a public ad (the publisher's
    // events of the load are taken off its record).
    Ref<TRATrilliumAd> loadAd(const simulator::TrilliumHtmlAd& page, int64_t adType = TRATrilliumAd::AdTypeOverlay) {
        service.setHtmlAd(service.htmlAdPage(page));
        auto ad = NSObject::alloc<TRATrilliumAd>()->init();
        size_t before = publisher->events.size();
        ad->loadAd(adType, publisher);
        EXPECT_TRUE(waitFor([&] { return publisher->events.size() > before; }));
        EXPECT_TRUE(ad->isReady());
        publisher->events.resize(before);
        return ad;
    }
    // The standard test page: one ad linking to the landing page, with a close link.
    simulator::TrilliumHtmlAd simplePage() const { return adPage({chains.landingUrl() + "?index=0"}, {false}, {true}); }

    // Shows the ad and lets its page load; the screen on top, or null.
    Ref<TRAAdViewController> showAd(const Ref<TRATrilliumAd>& ad, const std::optional<std::string>& tag = {}) {
        ad->showAdWithAdTag(tag);
        driver().drain();
        return adScreen();
    }

    Ref<UIViewController> topController() const {
        return TRAAdSDKUtils::topViewControllerWithRootViewController(rootViewController());
    }
    Ref<TRAAdViewController> adScreen() const { return std::dynamic_pointer_cast<TRAAdViewController>(topController()); }
    Ref<TRAInAppBrowserViewController> browser() const {
        return std::dynamic_pointer_cast<TRAInAppBrowserViewController>(topController());
    }
    Ref<SKStoreProductViewController> storeSheet() const {
        return std::dynamic_pointer_cast<SKStoreProductViewController>(topController());
    }

    // A user's tap on the element of the page shown in `webView`.
    void tap(const Ref<UIWebView>& webView, const std::string& elementId) {
        ASSERT_TRUE(webView->simulateLinkClick(elementId)) << "no element " << elementId;
        driver().drain();
    }

    // Lets requests reach the service; the analytics events it got, in order.
    std::vector<TrilliumAnalyticsEvent> analyticsEvents() {
        EXPECT_TRUE(driver().settle(10));
        std::vector<TrilliumAnalyticsEvent> events;
        for (const auto& r : service.requestsTo(simulator::TrilliumService::kAnalyticsPath))
            events.push_back({r.field("category").value_or(""), r.field("value").value_or(""), r.field("details"),
                              r.field("d")});
        return events;
    }
    std::vector<std::string> analyticsValues() {
        std::vector<std::string> values;
        for (const auto& e : analyticsEvents()) values.push_back(e.value);
        return values;
    }
    std::vector<std::string> openedURLs() const {
        std::vector<std::string> urls;
        for (const auto& url : UIApplication::sharedApplication()->openedURLs()) urls.push_back(url->absoluteString());
        return urls;
    }

    simulator::TrilliumClickChains chains{service.server()};
    Ref<RecordingAdDelegate> publisher = NSObject::alloc<RecordingAdDelegate>();
};
