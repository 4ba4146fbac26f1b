// Transient user activation of a web view: what grants one (the user's tap on
// the page, the link-click seams, before the page hears the click), what
// never does (script on its own, a tap on a view laid over the page), how
// long it lasts on the virtual clock and that one consume uses it up.
#include "platform/ui/UIButton.h"
#include "platform/web/tests/WebTestSupport.h"

namespace {

using webtest::WebTest;

// Records, for each call from the page, whether the web view then held an activation.
class ActivationProbe : public NSObject, public JSExport {
public:
    Weak<UIWebView> webView;
    std::vector<bool> seen;
    std::vector<JSExportMethod> exportedMethods() const override {
        auto self = const_cast<ActivationProbe*>(this);
        return {{"look", [self](JSContext&, const std::vector<JSValue>&) {
                     auto view = self->webView.lock();
                     self->seen.push_back(view && view->hasTransientUserActivation());
                     return JSValue();
                 }}};
    }
};

class UserActivationTest : public WebTest {
protected:
    // A web view filling the window's top, loaded with `html` (the probe as "probe").
    Ref<UIWebView> show(const std::string& html) {
        auto view = webViewWithDelegate();
        window()->addSubview(view);
        probe->webView = view;
        view->javaScriptContext()->setObject(probe, "probe");
        view->loadHTMLString(html, url("https://ads.example.com/ad"));
        driver().drain();
        return view;
    }

    Ref<ActivationProbe> probe = std::make_shared<ActivationProbe>();
};

TEST_F(UserActivationTest, ATapGrantsOneThatLastsFiveSecondsAndIsUsedUpOnce) {
    auto view = show("<p>ad</p>");
    EXPECT_FALSE(view->hasTransientUserActivation());
    EXPECT_FALSE(view->consumeTransientUserActivation());

    window()->simulateTap(CGPointMake(160, 240));
    EXPECT_TRUE(view->hasTransientUserActivation());
    EXPECT_TRUE(view->consumeTransientUserActivation());
    EXPECT_FALSE(view->hasTransientUserActivation());
    EXPECT_FALSE(view->consumeTransientUserActivation());

    // Held, unused, until five seconds have passed on the clock.
    window()->simulateTap(view);
    driver().advance(4.99);
    EXPECT_TRUE(view->hasTransientUserActivation());
    driver().advance(0.02);
    EXPECT_FALSE(view->hasTransientUserActivation());
    EXPECT_FALSE(view->consumeTransientUserActivation());

    // A later tap starts the five seconds again; it is still one use.
    window()->simulateTap(view);
    driver().advance(4);
    window()->simulateTap(view);
    driver().advance(4.9);
    EXPECT_TRUE(view->consumeTransientUserActivation());
    EXPECT_FALSE(view->consumeTransientUserActivation());
}

TEST_F(UserActivationTest, LinkClicksGrantOneBeforeThePageHearsTheClick) {
    auto view = show("<a id='cta' href='https://landing.example.com/' onclick='probe.look()'>Go</a>"
                     "<script>document.addEventListener('click', function () { probe.look(); });</script>");
    delegate->answer = [](const NSURLRequest&, UIWebViewNavigationType) { return false; };
    EXPECT_TRUE(view->simulateLinkClick("cta"));
    EXPECT_EQ(probe->seen, (std::vector<bool>{true, true}));
    EXPECT_TRUE(view->consumeTransientUserActivation());

    view->simulateLinkClickOnHref("https://landing.example.com/");
    EXPECT_TRUE(view->consumeTransientUserActivation());
    view->simulateLinkClickOnHref("https://elsewhere.example.com/");  // no such link: followed all the same
    EXPECT_TRUE(view->hasTransientUserActivation());
    driver().drain();
}

TEST_F(UserActivationTest, ScriptAloneNeverGrantsOne) {
    auto view = show("<a id='cta' href='#clicked'>Go</a>"
                     "<script>"
                     "window.addEventListener('load', function () { document.getElementById('cta').click(); });"
                     "setTimeout(function () {"
                     "  document.getElementById('cta').dispatchEvent(new Event('click'));"
                     "  location.href = 'https://ads.example.com/next';"
                     "}, 100);"
                     "setInterval(function () { probe.look(); }, 100);"
                     "</script>");
    delegate->answer = [](const NSURLRequest&, UIWebViewNavigationType) { return false; };
    driver().advance(0.5);
    eval(view, "document.getElementById('cta').click(); probe.look();");
    driver().drain();
    ASSERT_FALSE(probe->seen.empty());
    EXPECT_EQ(probe->seen, std::vector<bool>(probe->seen.size(), false));
    EXPECT_FALSE(view->hasTransientUserActivation());
}

TEST_F(UserActivationTest, ATapOnAViewLaidOverThePageGrantsNothing) {
    auto view = show("<p>ad</p>");
    auto button = UIButton::buttonWithType(UIButtonTypeCustom);
    button->setFrame(CGRectMake(262, 8, 50, 50));
    view->addSubview(button);
    auto cover = UIView::alloc();
    cover->initWithFrame(CGRectMake(0, 400, 320, 80));
    window()->addSubview(cover);

    window()->simulateTap(CGPointMake(287, 33));
    window()->simulateTap(CGPointMake(160, 440));
    EXPECT_FALSE(view->hasTransientUserActivation());
    window()->simulateTap(CGPointMake(160, 200));
    EXPECT_TRUE(view->hasTransientUserActivation());
}

}  // namespace
