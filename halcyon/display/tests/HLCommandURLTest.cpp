// The "halcyon" command URLs of ad pages, driven through real pages in the
// platform's web view (script navigations and simulated link taps): each
// row of the command table in the video button (and in the ad view), letter
// case in scheme and host, a button delegate that lacks a method, and
// hostile pages (odd-case, huge or malformed command URLs, navigation storms).
#include <set>

#include "halcyon/display/HLHtmlAdView.h"
#include "halcyon/display/HLStoreKitProductPage.h"
#include "platform/store/SKStoreProductViewController.h"
#include "platform/ui/UIApplication.h"
#include "halcyon/display/HLWebViewButton.h"
#include "halcyon/display/tests/HalcyonDisplayTestSupport.h"
#include "platform/web/JSVirtualMachine.h"

namespace {

// Records the commands it hears; answers only for the selectors it is given.
class HLCommandTestButtonDelegate : public NSObject, public HLWebViewButtonDelegate {
public:
    explicit HLCommandTestButtonDelegate(std::set<std::string> implemented = {"didReceiveClickCommandOnWebViewButton:",
                                                                              "didReceiveCloseCommandOnWebViewButton:",
                                                                              "didReceiveSkipCommandOnWebViewButton:"})
        : implemented_(std::move(implemented)) {}
    void didReceiveClickCommandOnWebViewButton(const Ref<HLWebViewButton>&) override { heard.push_back("click"); }
    void didReceiveCloseCommandOnWebViewButton(const Ref<HLWebViewButton>&) override { heard.push_back("close"); }
    void didReceiveSkipCommandOnWebViewButton(const Ref<HLWebViewButton>&) override { heard.push_back("skip"); }
    bool respondsToSelector(std::string_view selector) const override {
        return implemented_.count(std::string(selector)) > 0 || NSObjectProtocol::respondsToSelector(selector);
    }
    std::vector<std::string> heard;

private:
    std::set<std::string> implemented_;
};

class HLCommandURLTest : public HalcyonDisplayTest {
protected:
    // A button whose page navigates to each URL in turn, then settled.
    Ref<HLWebViewButton> buttonNavigatingTo(const std::vector<std::string>& urls,
                                            const Ref<HLCommandTestButtonDelegate>& delegate) {
        auto button = HLWebViewButton::alloc()->initWithSdk(sdk);
        button->setClickDelegate(delegate);
        std::string script;
        for (const auto& url : urls) script += "location.href = '" + url + "';";
        button->loadHTMLString("<html><body><script>" + script + "</script></body></html>", nullptr);
        driver().drain();
        return button;
    }
    // A banner view in the window showing an ad whose page runs `script`.
    Ref<HLHtmlAdView> adViewRunning(int64_t id, const std::string& body) {
        simulator::HalcyonAd ad;
        ad.size = "BANNER";
        ad.adId = id;
        ad.html = "<html><body>" + body + "</body></html>";
        auto view = HLHtmlAdView::alloc()->initBannerAdWithSdk(sdk);
        view->setAdDisplayDelegate(display);
        window()->addSubview(view);
        view->render(renderedAd(ad));
        EXPECT_TRUE(settle());
        return view;
    }
    static std::string navigations(const std::vector<std::string>& urls) {
        std::string script = "<script>";
        for (const auto& url : urls) script += "location.href = '" + url + "';";
        return script + "</script>";
    }

    Ref<HLRecordingDisplayDelegate> display = std::make_shared<HLRecordingDisplayDelegate>("display", journal);
};

}  // namespace

TEST_F(HLCommandURLTest, ButtonActsOnItsThreeCommandsAndLogsTheOthers) {
    auto delegate = std::make_shared<HLCommandTestButtonDelegate>();
    buttonNavigatingTo({"halcyon://com.halcyon.sdk/track_click", "halcyon://com.halcyon.sdk/close_ad",
                        "halcyon://com.halcyon.sdk/skip_ad", "halcyon://com.halcyon.sdk/next_ad",
                        "halcyon://com.halcyon.sdk/storekit", "halcyon://com.halcyon.sdk/x/y/z"},
                       delegate);
    EXPECT_EQ(delegate->heard, (std::vector<std::string>{"click", "close", "skip"}));
    // One page's unknown actions are folded into their first one's line, which says they differ.
    EXPECT_EQ(listener->count("Unknown URI action: /next_ad (3 in all, not all alike)"), 1u);
}

TEST_F(HLCommandURLTest, ButtonComparesSchemeAndHostIgnoringCase) {
    auto delegate = std::make_shared<HLCommandTestButtonDelegate>();
    buttonNavigatingTo({"HALCYON://Com.Halcyon.SDK/track_click", "halcyon://com.other.sdk/track_click",
                        "https://com.halcyon.sdk/track_click"},
                       delegate);
    EXPECT_EQ(delegate->heard, (std::vector<std::string>{"click"}));
}

TEST_F(HLCommandURLTest, AButtonDelegateLackingAMethodGetsTheWarningInstead) {
    auto delegate =
        std::make_shared<HLCommandTestButtonDelegate>(std::set<std::string>{"didReceiveClickCommandOnWebViewButton:"});
    buttonNavigatingTo({"halcyon://com.halcyon.sdk/close_ad", "halcyon://com.halcyon.sdk/track_click"}, delegate);
    EXPECT_EQ(delegate->heard, (std::vector<std::string>{"click"}));
    EXPECT_EQ(listener->count("Unknown URI action: /close_ad"), 1u);

    // No delegate at all: every command is logged, none is lost or crashes.
    auto button = buttonNavigatingTo({"halcyon://com.halcyon.sdk/skip_ad"}, nullptr);
    EXPECT_EQ(listener->count("Unknown URI action: /skip_ad"), 1u);
}

TEST_F(HLCommandURLTest, ButtonSurvivesHostilePages) {
    auto delegate = std::make_shared<HLCommandTestButtonDelegate>();
    auto button = HLWebViewButton::alloc()->initWithSdk(sdk);
    button->setClickDelegate(delegate);
    // A storm of commands, a huge path (as long as the web view lets a page
    // navigate to), malformed escapes, a throwing script and one that never
    // ends its loop within a timer.
    std::string huge(60000, 'a');
    button->loadHTMLString(
        "<script>"
        "for (var i = 0; i < 200; i++) location.href = 'halcyon://com.halcyon.sdk/track_click';"
        "location.href = 'halcyon://com.halcyon.sdk/" +
            huge +
            "/skip_ad';"
            "location.href = 'halcyon://com.halcyon.sdk/%zz/close_ad';"
            "throw new Error('page fault');"
            "</script>",
        nullptr);
    driver().drain();
    EXPECT_EQ(std::count(delegate->heard.begin(), delegate->heard.end(), "click"), 200);
    EXPECT_EQ(std::count(delegate->heard.begin(), delegate->heard.end(), "skip"), 1);
}

TEST_F(HLCommandURLTest, AdViewHidesOnCloseLogsTheButtonsCommandsAndTakesOddCaseAsANavigation) {
    auto view = adViewRunning(8, navigations({"halcyon://com.halcyon.sdk/track_click", "halcyon://com.halcyon.sdk/skip_ad",
                                              "halcyon://com.halcyon.sdk/nothing", "HALCYON://com.halcyon.sdk/close_ad",
                                              "halcyon://COM.HALCYON.SDK/close_ad", "halcyon://com.halcyon.sdk/close_ad"}));
    EXPECT_EQ(*journal, (std::vector<std::string>{"display displayed 8", "display hidden 8"}));
    EXPECT_TRUE(view->isHidden());
    EXPECT_FALSE(view->hiddenByUser());
    EXPECT_EQ(listener->count("Unknown URI action: /track_click (3 in all, not all alike)"), 1u);
    // Letter case differs: an ordinary navigation, which the web view cannot load.
    EXPECT_EQ(view->adWebView()->stringByEvaluatingJavaScriptFromString("document.body.innerHTML.length > 0"), "true");
}

TEST_F(HLCommandURLTest, AdViewLoadsTheNextAdOnNextAd) {
    simulator::HalcyonAd next;
    next.adId = 9;
    service.setAd(next);
    const size_t before = service.requestsTo(simulator::HalcyonService::kAdPath).size();
    auto view = adViewRunning(8, navigations({"halcyon://com.halcyon.sdk/next_ad"}));
    ASSERT_TRUE(settle());
    EXPECT_EQ(service.requestsTo(simulator::HalcyonService::kAdPath).size(), before + 1);
    EXPECT_TRUE(view->isFirstAdLoaded());
    EXPECT_EQ(*journal,
              (std::vector<std::string>{"display displayed 8", "display hidden 8", "display displayed 9"}));
}

TEST_F(HLCommandURLTest, ATappedLinkBecomesOneTrackedClickAndNeverLoads) {
    const std::string landing = service.server().url(simulator::HalcyonService::kLandingPath);
    auto view = adViewRunning(8, "<a id='go' href='" + landing + "'>go</a><p id='here'>ad</p>");
    ASSERT_TRUE(view->adWebView()->simulateLinkClick("go"));
    ASSERT_TRUE(settle());
    EXPECT_EQ(service.requestsTo(simulator::HalcyonService::postbackPath("click")).size(), 1u);
    EXPECT_TRUE(service.requestsTo(simulator::HalcyonService::kLandingPath).empty());
    auto opened = UIApplication::sharedApplication()->openedURLs();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0]->absoluteString(), landing);
    EXPECT_EQ(view->adWebView()->stringByEvaluatingJavaScriptFromString("document.getElementById('here') != null"),
              "true");  // the ad's page stays
    EXPECT_EQ(*journal, (std::vector<std::string>{"display displayed 8", "display clicked 8"}));
}

TEST_F(HLCommandURLTest, StorekitFromThePageOpensTheStorePageOnceAndItClosesWhenTheProductFails) {
    simulator::HalcyonAd ad;
    ad.size = "BANNER";
    ad.adId = 13;
    ad.storekitInfoJson = "{\"id\": \"123\"}";
    ad.html = "<html><body><a id='store' href='halcyon://com.halcyon.sdk/storekit'>get</a></body></html>";
    auto view = HLHtmlAdView::alloc()->initBannerAdWithSdk(sdk);
    view->setAdDisplayDelegate(display);
    window()->addSubview(view);
    view->render(renderedAd(ad));
    ASSERT_TRUE(settle());

    platform::testing::StoreSheet::hold();
    ASSERT_TRUE(view->adWebView()->simulateLinkClick("store"));
    ASSERT_TRUE(view->adWebView()->simulateLinkClick("store"));
    ASSERT_TRUE(settle());
    auto page = std::dynamic_pointer_cast<HLStoreKitProductPage>(rootViewController()->presentedViewController());
    ASSERT_TRUE(page);
    EXPECT_EQ(platform::testing::StoreSheet::loadedParameters().back()["id"].stringValue(), "123");
    EXPECT_EQ(display->count("clicked"), 1u);  // the second tap found the page up
    EXPECT_EQ(service.requestsTo(simulator::HalcyonService::postbackPath("click")).size(), 2u);

    // The product does not load: the page closes itself.
    platform::testing::StoreSheet::completePending(false);
    driver().advance(1);
    EXPECT_FALSE(rootViewController()->presentedViewController());
}

TEST_F(HLCommandURLTest, AdPagesCannotRaiseAlerts) {
    // Silenced before each load, kept as written: the page's own calls do nothing.
    auto view = adViewRunning(8, "<script>alert('hostile-alert'); confirm('hostile-confirm');"
                                 "prompt('hostile-prompt');</script>");
    EXPECT_EQ(logCapture().count("hostile-"), 0u);
    EXPECT_EQ(*journal, (std::vector<std::string>{"display displayed 8"}));
}

TEST_F(HLCommandURLTest, AdViewSurvivesHostilePages) {
    // A storm of unknown commands, a huge and a malformed one, a throwing
    // script, then one that never ends (stopped by the engine's time limit).
    JSVirtualMachine::setExecutionTimeLimit(0.1);
    std::vector<std::string> storm(200, "halcyon://com.halcyon.sdk/nothing");
    storm.push_back("halcyon://com.halcyon.sdk/" + std::string(200000, 'a') + "/x");
    storm.push_back("halcyon://com.halcyon.sdk/%zz/x");
    auto view = adViewRunning(8, navigations(storm) + "<script>throw new Error('page fault');</script>" +
                                     "<script>while (true) {}</script>");
    EXPECT_EQ(listener->count("Unknown URI action: /nothing (200 in all)"), 1u);
    EXPECT_EQ(*journal, (std::vector<std::string>{"display displayed 8"}));

    // The view goes on: the next ad renders and is reported as usual.
    view->render(renderedAd("BANNER", 9));
    ASSERT_TRUE(settle());
    EXPECT_EQ(*journal, (std::vector<std::string>{"display displayed 8", "display hidden 8", "display displayed 9"}));
    JSVirtualMachine::setExecutionTimeLimit(0);
}

// 10,000 navigations in one turn (as many as may wait), half of them a bad command; then one of each every 10 ms
// for a minute.
TEST_F(HLCommandURLTest, PagesLoopingOnCommandsStillActButWriteAFewLinesPerKind) {
    JSVirtualMachine::setExecutionTimeLimit(platform::testing::hangGuard(10));
    auto delegate = std::make_shared<HLCommandTestButtonDelegate>();
    auto button = buttonNavigatingTo({}, delegate);
    auto view = adViewRunning(8, "");
    const size_t before = listener->lines().size();
    auto loop = [](const std::string& command) {
        return "location.href = 'halcyon://com.halcyon.sdk/nothing'; location.href = 'halcyon://com.halcyon.sdk/" +
               command + "';";
    };
    auto evaluate = [](const Ref<UIWebView>& webView, const std::string& script) {
        return webView->stringByEvaluatingJavaScriptFromString(script);
    };
    evaluate(button, "for (var i = 0; i < 5000; i++) {" + loop("track_click") + "}");
    evaluate(view->adWebView(), "for (var i = 0; i < 5000; i++) {" + loop("close_ad") + "}");
    ASSERT_TRUE(settle());
    EXPECT_EQ(delegate->heard.size(), 5000u);
    EXPECT_EQ(display->count("hidden"), 5000u);
    // ("Handling a click on" is counted since the pages' loads logged it.)
    EXPECT_EQ(listener->count("WARN [HLWebViewButton] Unknown URI action: /nothing (5000 in all)"), 1u);
    EXPECT_EQ(listener->count("WARN [HLHtmlAdView] Unknown URI action: /nothing (5000 in all)"), 1u);

    // A timer: every navigation acts, the log gets a count every 10 s.
    driver().advance(11);
    const std::string timer = "var ticks = 0; var timer = setInterval(function () { ticks++;";
    evaluate(button, timer + loop("track_click") + "}, 10);");
    evaluate(view->adWebView(), timer + loop("close_ad") + "}, 10);");
    driver().advance(60);
    const std::string stop = "clearInterval(timer); String(ticks)";
    const size_t ticks = std::stoul(evaluate(button, stop));
    EXPECT_GE(ticks, 5000u);
    EXPECT_EQ(evaluate(view->adWebView(), stop), std::to_string(ticks));
    driver().advance(30);
    EXPECT_EQ(delegate->heard.size(), 5000u + ticks);
    EXPECT_EQ(display->count("hidden"), 5000u + ticks);
    std::vector<std::string> lines;  // the two views' since the loops began
    const auto all = listener->lines();
    for (size_t i = before; i < all.size(); ++i)
        if (all[i].find("[HLWebViewButton]") != std::string::npos || all[i].find("[HLHtmlAdView]") != std::string::npos)
            lines.push_back(all[i]);
    EXPECT_EQ(foldedCount(lines, "[HLWebViewButton] Unknown URI action: /nothing"), 5000u + ticks);
    EXPECT_EQ(foldedCount(lines, "[HLHtmlAdView] Unknown URI action: /nothing"), 5000u + ticks);
    EXPECT_EQ(foldedCount(lines, "[HLWebViewButton] Handling a click on"), 2 * (5000u + ticks));
    EXPECT_EQ(foldedCount(lines, "[HLHtmlAdView] Handling a click on"), 2 * (5000u + ticks));
    // Four kinds: the turn's line, then for the timer a first line and six or
    // seven counts each; the clicks' counts name each of their two URLs.
    EXPECT_LE(lines.size(), 2u * 9 + 2u * 2 * 9);
    expectBoundedLogLines();
}
