// Click-through routing through a template controller, with the platform's
// seams: web links by system version and the external flag, the store sheet
// loading, failing or absent, a busy presenter, the client's own browser and
// its private URLs, and intents (nested, fallbacks, bad parts) whose
// counters are read from the instrumentation pixel the service receives.
#include "platform/foundation/NSClassRegistry.h"
#include "platform/store/SFSafariViewController.h"
#include "platform/store/SKStoreProductViewController.h"
#include "platform/ui/UIApplication.h"
#include "tamarind/TMMPAdBrowserController.h"
#include "tamarind/tests/TamarindTestSupport.h"

using platform::testing::StoreSheet;
using simulator::Answer;
using simulator::TamarindService;

namespace {
constexpr const char* kTMATStoreLink = "https://apps.store.invalid/app/ghost-radar/id1234";
constexpr const char* kTMATStoreLinkEscaped = "https%3A%2F%2Fapps.store.invalid%2Fapp%2Fghost-radar%2Fid1234";
constexpr const char* kTMATWebLinkEscaped = "http%3A%2F%2Flanding.example%2Fpage%3Fa%3D1";
}  // namespace

class TMATBrowsingControllerTest : public TamarindTest {
protected:
    void SetUp() override {
        TamarindTest::SetUp();
        recorder = NSObject::alloc<RecordingControllerDelegate>();
        recorder->presenter = rootViewController();
        controller = TMATBaseAdController::adControllerWithDelegate<TestTemplateController>(recorder);
    }
    bool open(const std::string& url, bool external = false) {
        bool shown = controller->openUrlLink(NSURL::URLWithString(url), external);
        driver().advance(1);  // presentations and their animations
        return shown;
    }
    Ref<UIViewController> presented() { return rootViewController()->presentedViewController(); }
    std::vector<std::string> opened() {
        std::vector<std::string> urls;
        for (const auto& url : UIApplication::sharedApplication()->openedURLs()) urls.push_back(url->absoluteString());
        return urls;
    }
    // Loads an ad, so the controller has an instrumentation pixel.
    void loadAd() {
        controller->loadWithOptions(TamarindAdOptions::options(), "interstitial", nullptr);
        ASSERT_TRUE(waitFor([&] { return !recorder->events.empty(); }));
        ASSERT_EQ(recorder->events.back(), "didLoad");
    }
    // The intent counters of the next instrumentation pixel that carries any
    // (pixels of the ad's own metrics may arrive in between).
    std::string nextIntentCounters() {
        std::vector<std::string> found;
        waitFor([&] {
            found.clear();
            for (const auto& pixel : service.instrumentationPixels()) {
                std::string counters;
                for (const auto& [name, value] : pixel)
                    if (name == "il" || name == "fil" || name == "nil") counters += name + "=" + value + ";";
                if (!counters.empty()) found.push_back(counters);
            }
            return found.size() > intentPixelsSeen;
        });
        if (found.size() <= intentPixelsSeen) return "";
        return found[intentPixelsSeen++];
    }

    size_t intentPixelsSeen = 0;
    Ref<RecordingControllerDelegate> recorder;
    Ref<TestTemplateController> controller;
};

TEST_F(TMATBrowsingControllerTest, WebLinksOpenInTheBrowserSheetFromNineAndInTheSystemWhenAsked) {
    EXPECT_TRUE(open("http://landing.example/page"));
    auto sheet = std::dynamic_pointer_cast<SFSafariViewController>(presented());
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->URL()->absoluteString(), "http://landing.example/page");

    rootViewController()->dismissViewControllerAnimated(false, nullptr);
    driver().advance(1);
    EXPECT_TRUE(open("https://landing.example/x", true));
    EXPECT_FALSE(presented());
    EXPECT_EQ(opened(), std::vector<std::string>{"https://landing.example/x"});

    EXPECT_TRUE(open("tel:5550100"));  // anything else goes to the system
    EXPECT_FALSE(open("unknown-scheme://x"));
    EXPECT_FALSE(controller->openUrlLink(nullptr, false));
    open("tamarindmobile://close?now=1");
    ASSERT_EQ(controller->privateUrls.size(), 1u);
    EXPECT_EQ(controller->privateUrls[0]->absoluteString(), "tamarindmobile://close?now=1");
}

TEST_F(TMATBrowsingControllerTest, BelowNineTheClientsOwnBrowserOpensAndHandsBackPrivateUrls) {
    profile().systemVersion = "8.4";
    service.setAnswer("GET", "/landing", Answer::ok("<html><body>landing</body></html>"));
    EXPECT_TRUE(open(service.url("/landing")));
    auto browser = std::dynamic_pointer_cast<TMMPAdBrowserController>(presented());
    ASSERT_TRUE(browser);
    ASSERT_TRUE(waitForRequests("/landing", 1));
    browser->closeButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    driver().advance(1);
    EXPECT_FALSE(presented());

    EXPECT_TRUE(open(service.url("/landing")));
    browser = std::dynamic_pointer_cast<TMMPAdBrowserController>(presented());
    ASSERT_TRUE(browser);
    browser->webView()->loadRequest(*NSURLRequest::requestWithURL(NSURL::URLWithString("tamarindmobile://reward")));
    driver().advance(1);
    EXPECT_FALSE(presented());
    ASSERT_EQ(controller->privateUrls.size(), 1u);
    EXPECT_EQ(controller->privateUrls[0]->absoluteString(), "tamarindmobile://reward");
}

TEST_F(TMATBrowsingControllerTest, StoreLinksOpenTheSheetOrFallBackToTheSystem) {
    StoreSheet::setNextResult(StoreSheet::Loads);
    EXPECT_TRUE(open(kTMATStoreLink));
    auto sheet = std::dynamic_pointer_cast<SKStoreProductViewController>(presented());
    ASSERT_TRUE(sheet);
    EXPECT_EQ(StoreSheet::loadedParameters().back()["id"].stringValue(), "1234");
    StoreSheet::simulateUserClose(sheet);
    driver().advance(1);
    EXPECT_FALSE(presented());

    StoreSheet::setNextResult(StoreSheet::Fails);
    EXPECT_TRUE(open(kTMATStoreLink));
    EXPECT_FALSE(presented());
    EXPECT_EQ(opened(), std::vector<std::string>{kTMATStoreLink});

    EXPECT_FALSE(open("https://apps.store.invalid/app/none"));  // no identifier: nothing happens
    NSClassRegistry::hideClassForTesting("SKStoreProductViewController");
    EXPECT_TRUE(open(kTMATStoreLink));
    EXPECT_EQ(opened().size(), 2u);
    EXPECT_EQ(StoreSheet::loadedParameters().size(), 2u);
}

TEST_F(TMATBrowsingControllerTest, ABusyPresenterShowsNothingAndSaysSo) {
    rootViewController()->presentViewController(UIViewController::alloc()->init(), false, nullptr);
    driver().advance(1);
    auto shownBefore = presented();
    EXPECT_FALSE(open("http://landing.example/"));
    EXPECT_FALSE(open(kTMATStoreLink));
    EXPECT_EQ(presented(), shownBefore);
    EXPECT_EQ(logCapture().count("A view controller is already being presented."), 2u);
    EXPECT_TRUE(StoreSheet::loadedParameters().empty());

    recorder->presenter = nullptr;
    rootViewController()->dismissViewControllerAnimated(false, nullptr);
    driver().advance(1);
    EXPECT_FALSE(open("http://landing.example/"));
    EXPECT_TRUE(logCapture().contains("No view controller to present from"));
}

TEST_F(TMATBrowsingControllerTest, IntentsTryTheirTargetsInOrderAndCountTheOutcome) {
    loadAd();
    StoreSheet::setNextResult(StoreSheet::Loads);
    EXPECT_TRUE(open(std::string("tamarindmobile://intent?intent=") + kTMATStoreLinkEscaped +
                     "&intent=" + kTMATWebLinkEscaped));
    EXPECT_TRUE(std::dynamic_pointer_cast<SKStoreProductViewController>(presented()));
    EXPECT_EQ(nextIntentCounters(), "il=1;");
    rootViewController()->dismissViewControllerAnimated(false, nullptr);
    driver().advance(1);

    // A store link without an identifier fails: the web target is the fallback.
    EXPECT_TRUE(open("tamarindmobile://intent?intent=https%3A%2F%2Fapps.store.invalid%2Fnone&intent=" +
                     std::string(kTMATWebLinkEscaped)));
    auto sheet = std::dynamic_pointer_cast<SFSafariViewController>(presented());
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->URL()->absoluteString(), "http://landing.example/page?a=1");
    EXPECT_EQ(nextIntentCounters(), "fil=1;");

    // So does a busy presenter.
    EXPECT_TRUE(open(std::string("tamarindmobile://intent?intent=") + kTMATWebLinkEscaped +
                     "&intent=tel%3A5550100"));
    EXPECT_EQ(opened().back(), "tel:5550100");
    EXPECT_EQ(nextIntentCounters(), "fil=1;");
}

TEST_F(TMATBrowsingControllerTest, IntentsWithoutAUsableTargetCountNil) {
    loadAd();
    expectLogLine("Attempted to parse an intent url, but found a missing key/value pair: broken");
    expectLogLine("Attempted to parse an intent url, but its target is empty or badly escaped: intent=%C3%28");
    expectLogLine("Attempted to parse an intent url, but its target is not a URL: %zz");
    EXPECT_FALSE(open("tamarindmobile://intent?broken&intent=%C3%28&intent=%25zz&other=http%3A%2F%2Fx.example&intent="));
    EXPECT_FALSE(presented());
    EXPECT_EQ(nextIntentCounters(), "nil=1;");
    EXPECT_FALSE(open("tamarindmobile://intent"));
    EXPECT_EQ(nextIntentCounters(), "nil=1;");

    // Intents nest: the inner intent's target opens, and each level counts.
    std::string inner = "tamarindmobile%3A%2F%2Fintent%3Fintent%3D" +
                        NSString::stringByReplacingOccurrencesOfString(kTMATWebLinkEscaped, "%", "%25");
    EXPECT_TRUE(open("tamarindmobile://intent?intent=" + inner));
    EXPECT_TRUE(std::dynamic_pointer_cast<SFSafariViewController>(presented()));
    EXPECT_EQ(nextIntentCounters(), "il=1;");
}
