// Frozen pages: a page stopped by the time limit or over its heap budget
// still draws as its scripts left it (pixels of snapshots).
#include <cstdint>
#include <string>

#include "platform/testing/SnapshotComparison.h"
#include "platform/ui/UIColor.h"
#include "platform/web/tests/WebTestSupport.h"

namespace {

using platform::testing::SnapshotComparison;
using webtest::WebTest;

class FrozenPageTest : public WebTest {
protected:
    // Loads `html` into a fresh 200 × 120 web view, green beneath the page.
    Ref<UIWebView> show(const std::string& html) {
        auto view = webViewWithDelegate();
        view->setFrame(CGRect{{0, 0}, {200, 120}});
        view->setBackgroundColor(UIColor::greenColor());
        view->loadHTMLString(html, nullptr);
        driver().drain();
        EXPECT_EQ(delegate->count("finish"), 1u);
        return view;
    }
    // Pixel (x, y), in points, of a snapshot of the view (at the screen's scale 2).
    uint32_t pixelAt(const Ref<UIWebView>& view, int x, int y) {
        const std::string png = home() + "/snapshot.png";
        EXPECT_TRUE(view->renderToPNG(png));
        return SnapshotComparison::pixelAt(png, 2 * x, 2 * y);
    }
};

// A page stopped mid-script is drawn with what its scripts did before: the
// box its script turned red on the page's own background. The scripts after
// it never run, and an evaluation that freezes a page keeps the error that
// stopped it.
TEST_F(FrozenPageTest, APageStoppedByTheTimeLimitDrawsAsItsScriptsLeftIt) {
    expectLogLine("JS execution time limit exceeded");
    expectLogLine("a page script ran too long");
    auto view = show("<body style='margin:0;background:#0000ff'><div id=box style='height:40px;background:#ffffff'>"
                     "</div><script>document.getElementById('box').style.background = '#ff0000'; for (;;) {}</script>"
                     "<script>document.body.style.background = '#ffffff';</script>");
    EXPECT_EQ(pixelAt(view, 100, 20), 0xFFFF0000u);
    EXPECT_EQ(pixelAt(view, 100, 80), 0xFF0000FFu);
    EXPECT_EQ(eval(view, "document.body.style.background"), "");

    auto evaluated = show("<body style='margin:0;background:#0000ff'>");
    Ref<JSContext> context = evaluated->javaScriptContext();
    context->evaluateScript("document.body.style.background = '#ff0000'; for (;;) {}");
    EXPECT_TRUE(context->exception().isString());
    EXPECT_EQ(pixelAt(evaluated, 100, 60), 0xFFFF0000u);
}

}  // namespace
