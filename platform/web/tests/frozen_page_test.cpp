// Frozen pages: a page stopped by the time limit or over its heap budget
// still draws as its scripts left it (pixels of snapshots), one large
// allocation over the budget freezes the page when the call that made it
// returns, whatever the engine collected before it, and a frozen page's
// memory goes at once (resident memory, with wide margins; the engine's
// memory is its own, not the sanitizer's).
#include <cstdint>
#include <string>

#include "platform/testing/ResidentMemory.h"
#include "platform/testing/SnapshotComparison.h"
#include "platform/ui/UIColor.h"
#include "platform/web/tests/WebTestSupport.h"

namespace {

using platform::testing::SnapshotComparison;
using webtest::WebTest;

constexpr size_t MB = size_t{1} << 20;

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
    // The process's resident memory once freed memory was handed back.
    static size_t settledResidentBytes() {
        platform::testing::releaseFreedMemory();
        return platform::testing::residentBytes();
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

// One allocation over the budget (a lower one here) freezes the page when
// the call that made it returns: the next script does not run, the page
// draws as that script left it, and its memory is given back at once.
TEST_F(FrozenPageTest, OneLargeAllocationFreezesThePageAndItsMemoryGoesAtOnce) {
    JSVirtualMachine::setPageHeapBudget(16 * MB);
    expectLogLine("a page's scripts went over its heap budget of 16 MB");
    show("<p>first</p>");
    platform::testing::collectScriptGarbageNow();
    const size_t baseline = settledResidentBytes();

    for (const std::string allocation : {"new Uint8Array(96 * 1024 * 1024).fill(7)", "'x'.repeat(96 * 1024 * 1024)"}) {
        logCapture().clear();
        auto view = show("<body style='margin:0;background:#ffffff'><script>document.body.style.background = "
                         "'#0000ff'; var held = " + allocation + ";</script>"
                         "<script>document.body.style.background = '#ff0000';</script>");
        EXPECT_EQ(logCapture().count("heap budget"), 1u) << allocation;
        EXPECT_LT(settledResidentBytes(), baseline + 40 * MB) << allocation;
        EXPECT_EQ(pixelAt(view, 100, 60), 0xFF0000FFu) << allocation;
        EXPECT_EQ(eval(view, "typeof held"), "");
    }

    // The same from a native evaluation into a loaded page.
    logCapture().clear();
    auto view = show("<body style='margin:0;background:#0000ff'>");
    eval(view, "var held = 'y'.repeat(96 * 1024 * 1024); held.length");
    EXPECT_EQ(logCapture().count("heap budget"), 1u);
    EXPECT_LT(settledResidentBytes(), baseline + 40 * MB);
    EXPECT_EQ(pixelAt(view, 100, 60), 0xFF0000FFu);
}

// Collects the engine's garbage when the page asks, as the engine may do of
// itself during any call.
class Collector : public NSObject, public JSExport {
public:
    std::vector<JSExportMethod> exportedMethods() const override {
        return {{"collect", [](JSContext&, const std::vector<JSValue>&) {
                     platform::testing::collectScriptGarbageNow();
                     return JSValue();
                 }}};
    }
};

// A collection during the call that then allocates over the budget measured
// the heap before the allocation: the page freezes all the same as the call
// returns, and its memory goes at once. The web view that gets the engine
// heap next is not charged for what the last one held.
TEST_F(FrozenPageTest, ALoneAllocationFreezesThePageWhateverTheEngineCollectedBefore) {
    JSVirtualMachine::setPageHeapBudget(16 * MB);
    show("<p>first</p>");
    platform::testing::collectScriptGarbageNow();
    const size_t baseline = settledResidentBytes();
    for (const std::string before : {"", "collector.collect();"}) {
        logCapture().clear();
        auto view = webViewWithDelegate();
        view->javaScriptContext()->setObject(std::make_shared<Collector>(), "collector");
        view->loadHTMLString("<script>" + before + "var u = new Uint8Array(24 * 1024 * 1024); u.fill(7);</script>"
                             "<script>var after = 1;</script>", nullptr);
        driver().drain();
        EXPECT_EQ(logCapture().count("heap budget of 16 MB"), 1u) << before;
        EXPECT_EQ(eval(view, "typeof after"), "") << before;
        EXPECT_LT(settledResidentBytes(), baseline + 12 * MB) << before;
    }

    logCapture().clear();
    JSVirtualMachine::setPageHeapBudget(64 * MB);
    show("<script>var u = new Uint8Array(24 * 1024 * 1024); u.fill(7);</script>");
    JSVirtualMachine::setPageHeapBudget(16 * MB);
    auto next = show("<p>next</p>");
    EXPECT_EQ(eval(next, "1 + 1"), "2");
    EXPECT_EQ(logCapture().count("heap budget"), 0u);
}

// A page frozen over the drawing's bounds keeps what its background is drawn
// from: that is drawn, with one line naming the bound.
TEST_F(FrozenPageTest, AFrozenPageOverTheDrawingsBoundsDrawsItsOwnBackground) {
    JSVirtualMachine::setExecutionTimeLimit(30);
    JSVirtualMachine::setPageHeapBudget(16 * MB);
    expectLogLine("a page's scripts went over its heap budget of 16 MB");
    auto view = show("<body style='margin:0'><div style='height:40px;background:#ffffff'></div><script>"
                     "for (let i = 0; i < 10001; i++) document.body.appendChild(document.createElement('i'));"
                     "document.body.style.background = '#0000ff'; var held = 'x'.repeat(32 * 1024 * 1024);</script>"
                     "<script>document.body.style.background = '#ff0000';</script>");
    EXPECT_EQ(logCapture().count("heap budget"), 1u);
    for (int snapshot = 0; snapshot < 2; ++snapshot) {
        logCapture().clear();
        EXPECT_EQ(pixelAt(view, 100, 20), 0xFF0000FFu);
        EXPECT_EQ(logCapture().count("over the drawing's bound of 10000 elements; only its background is drawn"), 1u);
    }
}

// What a page holds within its budget stays: the looks at memory on the way
// out of calls freeze nothing.
TEST_F(FrozenPageTest, APageWithinItsBudgetIsNotFrozen) {
    JSVirtualMachine::setPageHeapBudget(64 * MB);
    auto view = show("<body style='margin:0;background:#0000ff'><script>var held = [];</script>");
    for (int i = 0; i < 20; ++i) eval(view, "held.push('z'.repeat(1024 * 1024) + held.length); held.length");
    EXPECT_EQ(eval(view, "held.length"), "20");
    EXPECT_EQ(logCapture().count("heap budget"), 0u);
}

}  // namespace
