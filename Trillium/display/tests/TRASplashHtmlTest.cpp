// The HTML splash screen in the real web view: the filled page (every marker
// but the second background colour, theme colours, icon as a data URL), the
// page's 2 s fade-out ending in "closeSplash" once, the controller's own end
// when the page never answers, and hostile application names, which must
// reach the page as text and still let the page end the splash.
#include "Trillium/TRADataToBase64String.h"
#include "Trillium/display/TRASplashScreenHtml.h"
#include "Trillium/display/tests/TrilliumSplashTestSupport.h"
#include "platform/runtime/NSDate.h"

namespace {

// Notes when each "closeSplash" command reaches the controller.
class TRASplashHtmlCountingController : public TRASplashViewController {
public:
    bool webViewShouldStartLoadWithRequest(Ref<UIWebView> webView, const NSURLRequest& request,
                                           UIWebViewNavigationType type) override {
        if (request.URL() && request.URL()->absoluteString() == "trilliumad://closeSplash")
            closeTimes.push_back(NSDate::date().timeIntervalSince1970());
        return TRASplashViewController::webViewShouldStartLoadWithRequest(webView, request, type);
    }
    std::vector<double> closeTimes;
};

}  // namespace

class TRASplashHtmlTest : public TrilliumSplashTest {
protected:
    void SetUp() override {
        TrilliumSplashTest::SetUp();
        NSUserDefaults::standardUserDefaults()->setInteger(1, "TRAHtmlSplash");
    }
    Ref<TRASplashPreferences> templatePreferences(std::optional<std::string> name = std::nullopt) {
        auto prefs = preferences();
        prefs->setSplashMode(2);
        prefs->setSplashTemplateAppName(std::move(name));
        return prefs;
    }
    Ref<TRASplashHtmlCountingController> present(const Ref<TRASplashPreferences>& prefs, bool load = true) {
        auto controller = NSObject::alloc<TRASplashHtmlCountingController>();
        controller->init();
        controller->setSplashPreferences(prefs);
        rootViewController()->presentViewController(controller, false, nullptr);
        if (load) driver().drain();
        return controller;
    }
    static std::string evaluate(const Ref<TRASplashViewController>& controller, const std::string& script) {
        return controller->htmlWebView()->stringByEvaluatingJavaScriptFromString(script);
    }
    static double now() { return NSDate::date().timeIntervalSince1970(); }
};

TEST_F(TRASplashHtmlTest, TemplateIsKeptEncodedAndDecodesToThePage) {
    std::string encoded = TRASplashScreenHtml::encodedSplashScreenHtml();
    std::string page = TRASplashScreenHtml::getSplashScreenHtml();
    EXPECT_EQ(encoded.find('<'), std::string::npos);
    EXPECT_EQ(encoded.size(), page.size() * 3);
    EXPECT_TRUE(NSString::hasPrefix(page, "<!DOCTYPE html>"));
    EXPECT_TRUE(NSString::containsString(page, "<title>Trillium Splash</title>"));
    for (const char* marker : {"appName", "imageUrl", "bgColor", "bgColor2", "fontColor", "loadingType"})
        EXPECT_TRUE(NSString::containsString(page, NSString::stringWithFormat("splash_%@ = \"#splash_%@#\"", marker,
                                                                              marker)))
            << marker;
}

TEST_F(TRASplashHtmlTest, EveryMarkerIsFilledButTheSecondBackgroundColour) {
    writeImage("AppIcon60x60@2x.png", 120, 120);
    auto prefs = templatePreferences();
    prefs->setSplashTemplateTheme(3);
    prefs->setSplashLoadingIndicatorType(1);
    auto controller = present(prefs);
    std::string html = controller->getHtml();
    for (const char* marker : {"appName", "imageUrl", "bgColor", "fontColor", "loadingType"})
        EXPECT_FALSE(NSString::containsString(html, NSString::stringWithFormat("#splash_%@#", marker))) << marker;
    EXPECT_TRUE(NSString::containsString(html, "splash_bgColor2 = \"#splash_bgColor2#\""));
    EXPECT_TRUE(NSString::containsString(html, "splash_appName = \"Paranormal Detector\""));
    EXPECT_TRUE(NSString::containsString(html, "splash_bgColor = \"#FF6000\""));
    EXPECT_TRUE(NSString::containsString(html, "splash_fontColor = \"#FFFFFF\""));
    EXPECT_TRUE(NSString::containsString(html, "splash_loadingType = \"LoadingDots\""));
    std::string png = TRADataToBase64String::base64String(*UIImagePNGRepresentation(UIImage::imageNamed("AppIcon60x60")));
    EXPECT_TRUE(NSString::containsString(html, "splash_imageUrl = \"data:image/png;base64," + png + "\""));

    // The page as it runs: name, image, colours (the second one computed) and the dots.
    EXPECT_EQ(evaluate(controller, "document.getElementById('appName').innerHTML"), "Paranormal Detector");
    EXPECT_EQ(evaluate(controller, "document.getElementById('appImage').src"), "data:image/png;base64," + png);
    EXPECT_EQ(evaluate(controller, "document.getElementById('frameTableCell').style.background"),
              "-webkit-radial-gradient(circle, #ffa646, #FF6000)");
    EXPECT_EQ(evaluate(controller, "document.getElementById('appName').style.color"), "#FFFFFF");
    EXPECT_EQ(evaluate(controller, "document.getElementById('loading_Dots').style.display"), "block");
    EXPECT_EQ(evaluate(controller, "document.getElementById('loading_IOS').style.display"), "none");
    EXPECT_EQ(evaluate(controller, "splash_bgColor2"), "#ffa646");
    // The page loads against the bundle, and its scroll view does not scroll.
    EXPECT_EQ(controller->htmlWebView()->request()->URL()->absoluteString(),
              NSURL::fileURLWithPath(bundlePath())->absoluteString());
    EXPECT_FALSE(controller->htmlWebView()->scrollView()->isScrollEnabled());
    EXPECT_FALSE(controller->htmlWebView()->isOpaque());
}

TEST_F(TRASplashHtmlTest, ThemeColoursAndPageDefaults) {
    struct Case {
        int64_t theme;
        const char *background, *text;
    };
    const Case cases[] = {{0, "#066CAA", "#FFFFFF"}, {1, "#a3d4e5", "#333333"}, {2, "#E3E3E3", "#333333"},
                          {3, "#FF6000", "#FFFFFF"}, {4, "#2F353F", "#33B5E5"}, {5, "#237C9A", "#063D51"},
                          {7, "#066CAA", "#FFFFFF"}};
    for (const Case& c : cases) {
        auto prefs = templatePreferences();
        prefs->setSplashTemplateTheme(c.theme);
        auto controller = TRASplashViewController::alloc()->init();
        controller->setSplashPreferences(prefs);
        EXPECT_EQ(controller->getThemeColor(), c.background) << c.theme;
        EXPECT_EQ(controller->getThemeTextColor(), c.text) << c.theme;
    }
    // No icon: the image keeps the page's own placeholder; the spinner shows.
    auto controller = present(templatePreferences());
    EXPECT_TRUE(NSString::hasPrefix(evaluate(controller, "document.getElementById('appImage').src"), "data:image/gif"));
    EXPECT_EQ(evaluate(controller, "document.getElementById('loading_IOS').style.display"), "block");
    EXPECT_EQ(evaluate(controller, "ColorLuminance('#abc', -300) + ColorLuminance('123456')"), "#000000#123456");
    EXPECT_EQ(evaluate(controller, "[isHex('#ABCDEF'), isHex('#abc'), isHex('#abcd'), isHex('abcdef')].join()"),
              "true,true,false,false");
}

TEST_F(TRASplashHtmlTest, FadeOutClosesTwoSecondsLaterOncePerPageWithTheStoredFlag) {
    auto controller = present(templatePreferences());
    double start = now();
    controller->sendSplashFadeoutToHtmlWebviewWithShowAd(true);
    EXPECT_TRUE(controller->showAd());
    EXPECT_EQ(evaluate(controller, "document.getElementById('frameTable').className"), "animated hinge");
    // Asked again, by the page or the client: still one exit.
    evaluate(controller, "splash_fadeout()");
    controller->sendSplashFadeoutToHtmlWebviewWithShowAd(true);
    driver().advance(1.999);
    EXPECT_TRUE(controller->closeTimes.empty());
    EXPECT_FALSE(controller->fadeOutEnded());
    driver().advance(0.001);
    ASSERT_EQ(controller->closeTimes.size(), 1u);
    EXPECT_DOUBLE_EQ(controller->closeTimes[0] - start, 2.0);
    EXPECT_TRUE(controller->fadeOutEnded());
    driver().advance(5);
    EXPECT_EQ(controller->closeTimes.size(), 1u);
    EXPECT_FALSE(logCapture().contains("did not close itself"));
}

TEST_F(TRASplashHtmlTest, PageThatNeverAnswersEndsAboutThreeSecondsLaterOnce) {
    expectLogLine("did not close itself");
    // Asked before the page has loaded: the script finds no page to run in.
    auto controller = present(templatePreferences(), false);
    controller->sendSplashFadeoutToHtmlWebviewWithShowAd(false);
    driver().advance(2.999);
    EXPECT_FALSE(controller->fadeOutEnded());
    driver().advance(0.001);
    EXPECT_TRUE(controller->fadeOutEnded());
    EXPECT_TRUE(controller->closeTimes.empty());
    // A late command from the page changes nothing more.
    evaluate(controller, "document.location = 'trilliumad://closeSplash'");
    driver().advance(5);
    EXPECT_EQ(logCapture().count("did not close itself"), 1u);
}

TEST_F(TRASplashHtmlTest, OtherNavigationsOfThePage) {
    auto controller = present(templatePreferences());
    auto web = controller->htmlWebView();
    auto offer = [&](const std::string& url) {
        return controller->webViewShouldStartLoadWithRequest(
            web, *NSURLRequest::requestWithURL(NSURL::URLWithString(url)), UIWebViewNavigationTypeOther);
    };
    EXPECT_FALSE(offer("about:blank"));
    EXPECT_TRUE(offer("trilliumad://somethingElse"));
    EXPECT_TRUE(offer("http://example.com/"));
    EXPECT_FALSE(controller->fadeOutEnded());
    EXPECT_TRUE(offer("trilliumad://closeSplash"));
    EXPECT_TRUE(controller->fadeOutEnded());
}

TEST_F(TRASplashHtmlTest, HostileNamesReachThePageAsTextAndThePageStillEndsTheSplash) {
    std::string bulk;
    while (bulk.size() < 100000) bulk += "\"\\</script>\n<b>&amp;";
    bulk.resize(100000);
    const std::string names[] = {
        "Quote \" backslash \\ line\nbreak</script><script>window.pwned = 1;</script><b>bold</b> & 'tick' \xE2\x80\xA8.",
        bulk,
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name.size());
        auto controller = present(templatePreferences(name));
        EXPECT_EQ(evaluate(controller, "document.getElementById('appName').textContent"), name);
        EXPECT_EQ(evaluate(controller, "document.getElementById('appName').children.length"), "0");
        EXPECT_EQ(evaluate(controller, "typeof window.pwned"), "undefined");
        double start = now();
        controller->sendSplashFadeoutToHtmlWebviewWithShowAd(true);
        driver().advance(2);
        ASSERT_EQ(controller->closeTimes.size(), 1u);
        EXPECT_DOUBLE_EQ(controller->closeTimes[0] - start, 2.0);
        driver().advance(2);
        rootViewController()->dismissViewControllerAnimated(false, nullptr);
        driver().drain();
    }
    EXPECT_FALSE(logCapture().contains("did not close itself"));
}
