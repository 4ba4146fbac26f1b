// Web views draw their current document in snapshots: reference PNGs for
// text (large text too), a bordered rounded block, an image from a file URL and a page its
// script restyled; pixels for where the page lies (the scroll view's
// content), linked sheets, data images and video; and the
// drawing's own bounds: nothing the page defined runs while it is drawn,
// nothing is fetched, and oversized or hostile documents draw safely.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/runtime/HangGuard.h"
#include "platform/testing/SnapshotComparison.h"
#include "platform/ui/CALayer.h"
#include "platform/ui/CGContext.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIImage.h"
#include "platform/web/tests/WebTestSupport.h"

namespace {

using platform::testing::SnapshotComparison;
using webtest::Answer;
using webtest::WebTest;

class PageDrawingTest : public WebTest {
protected:
    // A folder of the page's files, and the page's URL in it.
    std::string folder() const { return home() + "/art"; }
    std::string pageURL() const { return "file://" + folder() + "/page.html"; }

    void SetUp() override {
        WebTest::SetUp();
        std::filesystem::create_directories(folder());
    }

    Ref<UIWebView> show(const std::string& html, CGSize size = {200, 120}, const std::string& base = "") {
        auto view = webViewWithDelegate();
        view->setFrame(CGRect{{0, 0}, size});
        view->loadHTMLString(html, url(base.empty() ? pageURL() : base));
        driver().drain();
        EXPECT_EQ(delegate->count("finish"), 1u);
        return view;
    }
    std::string snapshot(const Ref<UIWebView>& view, const std::string& name = "page.png") {
        std::string png = home() + "/" + name;
        EXPECT_TRUE(view->renderToPNG(png));
        return png;
    }
    ::testing::AssertionResult matchesReference(const Ref<UIWebView>& view, const std::string& name) {
        return SnapshotComparison::viewMatchesReference(view, "platform/web/tests/data/" + name, home(), 2);
    }
    // Pixel (x, y) in points of a snapshot at the screen's scale 2.
    static uint32_t at(const std::string& png, int x, int y) { return SnapshotComparison::pixelAt(png, 2 * x, 2 * y); }

    // A PNG of two colours side by side, written into the page's folder.
    void writePicture(const std::string& name, CGSize size) {
        UIGraphicsBeginImageContextWithOptions(size, true, 1);
        CGContextRef c = UIGraphicsGetCurrentContext();
        CGContextSetFillColorWithColor(c, UIColor::colorWithRed(0.8f, 0.6f, 0.2f, 1)->CGColor());
        CGContextFillRect(c, CGRectMake(0, 0, size.width / 2, size.height));
        CGContextSetFillColorWithColor(c, UIColor::colorWithRed(0.2f, 0.4f, 0.6f, 1)->CGColor());
        CGContextFillRect(c, CGRectMake(size.width / 2, 0, size.width / 2, size.height));
        auto png = UIImagePNGRepresentation(UIGraphicsGetImageFromCurrentImageContext());
        UIGraphicsEndImageContext();
        ASSERT_TRUE(png.has_value());
        std::ofstream(folder() + "/" + name, std::ios::binary) << png->toString();
    }
};

// ---- the container, against reference pictures --------------------------------------------------

TEST_F(PageDrawingTest, TextInTwoSizesAndWeights) {
    auto view = show("<body style='margin:6px;background:#fdfdf6'>"
                     "<h1 style='font-size:22px;margin:0;color:#223'>Ghost radar</h1>"
                     "<p style='font-size:13px;margin:4px 0'>Bold <b>and</b> regular, <i>slanted</i>, "
                     "<u>underlined</u> and <a href='x'>a link</a> wrapped to the view's width.</p>");
    EXPECT_TRUE(matchesReference(view, "page_text.png"));
}

TEST_F(PageDrawingTest, ABlockWithABorderAndRoundedCorners) {
    auto view = show("<body style='margin:0;padding:12px;background:#eeeeee'>"
                     "<div style='width:120px;height:60px;background:#22aa66;"
                     "border:4px solid #113366;border-top-color:#cc3333;border-radius:16px'></div>");
    EXPECT_TRUE(matchesReference(view, "page_block.png"));
    std::string png = snapshot(view);
    EXPECT_EQ(at(png, 80, 45), 0xFF22AA66u);  // inside
    EXPECT_EQ(at(png, 80, 14), 0xFFCC3333u);  // the top border
    EXPECT_EQ(at(png, 13, 13), 0xFFEEEEEEu);  // outside the rounded corner
}

TEST_F(PageDrawingTest, AnImageFromAFileURL) {
    writePicture("pic.png", {40, 30});
    auto view = show("<body style='margin:0;background:#fff'><img src='pic.png'>"
                     "<img src='pic.png' style='width:80px;height:60px'>"
                     "<div style='width:200px;height:20px;background:url(pic.png) repeat-x;background-size:20px 10px'>"
                     "</div>");
    EXPECT_TRUE(matchesReference(view, "page_image.png"));
    std::string png = snapshot(view);
    EXPECT_EQ(at(png, 5, 45), 0xFFCC9933u);   // the image's left half, at its own size, on the baseline
    EXPECT_EQ(at(png, 110, 40), 0xFF336699u);  // the scaled copy's right half
}

TEST_F(PageDrawingTest, APageWhoseScriptChangedItsStyle) {
    auto view = show("<style>.late { color: white; border-radius: 6px; }</style>"
                     "<body style='margin:4px;background:#fff'><div id=box style='width:80px;height:40px;background:red'>"
                     "old</div><script>var b = document.getElementById('box');"
                     "b.style.background = '#3366cc'; b.style.width = '150px'; b.textContent = 'changed by script';"
                     "b.className = 'late';</script>");
    view->stringByEvaluatingJavaScriptFromString(
        "var p = document.createElement('p'); p.textContent = 'added after the load';"
        "p.setAttribute('style', 'margin:6px 0;font-weight:bold;color:#080'); document.body.appendChild(p);");
    EXPECT_TRUE(matchesReference(view, "page_script_style.png"));
    std::string png = snapshot(view);
    EXPECT_EQ(at(png, 140, 30), 0xFF3366CCu);
}

// Glyphs past the size cairo's pictures of them are kept at are filled as
// outlines, in the same place: a headline over the view's edge, above a line
// small enough for pictures.
TEST_F(PageDrawingTest, LargeTextIsDrawnAsSmallTextIs) {
    auto view = show("<body style='margin:0;background:#fdfdf6;color:#223'>"
                     "<div style='font-size:150px;line-height:1;margin-left:-20px'>Ag<i>y</i></div>"
                     "<div style='font-size:100px;line-height:1;font-weight:bold;color:#c33'>Ag</div>",
                     {300, 260});
    EXPECT_TRUE(matchesReference(view, "page_large_text.png"));
}

// Numbered from the list's start, each li one more than the li before it
// (hidden ones too, other children not), in the list's own style of numbers.
TEST_F(PageDrawingTest, ListsNumberedAndBulleted) {
    auto view = show("<body style='margin:2px;background:#fff;font-size:11px'>"
                     "<ol start=9 style='margin:0;padding-left:34px'><li>nine<li style='display:none'>ten<li>eleven"
                     "<div>aside</div><li style='list-style-type:upper-roman'>twelve</ol>"
                     "<ul style='margin:0;padding-left:34px'><li>disc<ul><li>circle</ul></ul>",
                     {200, 120});
    EXPECT_TRUE(matchesReference(view, "page_lists.png"));
}

// ---- where the page lies ------------------------------------------------------------------------

TEST_F(PageDrawingTest, ThePageLiesAboveWhatIsPutBeneathTheScrollViewAndBelowTheOtherSubviews) {
    auto view = show("<body style='margin:0'><div style='height:40px;background:#0000ff'></div>");
    view->setBackgroundColor(UIColor::clearColor());
    view->setOpaque(false);
    // A player under a page's controls is put so.
    auto beneath = CALayer::layer();
    beneath->setFrame(view->bounds());
    beneath->setBackgroundColor(UIColor::blackColor()->CGColor());
    view->layer()->insertSublayerAtIndex(beneath, 0);
    auto above = UIView::alloc()->initWithFrame(CGRectMake(150, 0, 50, 120));
    above->setBackgroundColor(UIColor::greenColor());
    view->addSubview(above);
    std::string png = snapshot(view);
    EXPECT_EQ(at(png, 50, 20), 0xFF0000FFu);   // the page
    EXPECT_EQ(at(png, 50, 80), 0xFF000000u);   // the layer, where the page paints nothing
    EXPECT_EQ(at(png, 175, 20), 0xFF00FF00u);  // the subview
}

TEST_F(PageDrawingTest, ThePageIsLaidOutForTheScrollViewScrolledToTheTopAndClippedToIt) {
    auto view = show("<body style='margin:0;background:#ff0000'><div style='height:10px;background:#0000ff'></div>");
    view->setBackgroundColor(UIColor::greenColor());
    view->scrollView()->setFrame(CGRectMake(20, 30, 100, 50));
    view->scrollView()->setContentOffset(CGPointMake(0, 200));
    std::string png = snapshot(view);
    EXPECT_EQ(at(png, 115, 35), 0xFF0000FFu);  // the page's top, across the scroll view's width
    EXPECT_EQ(at(png, 70, 60), 0xFFFF0000u);
    for (auto [x, y] : {std::pair{10, 10}, {125, 35}, {70, 25}, {70, 85}})
        EXPECT_EQ(at(png, x, y), 0xFF00FF00u) << x << "," << y;  // the web view's own background
}

// ---- what the page loaded -----------------------------------------------------------------------

TEST_F(PageDrawingTest, LinkedSheetsFromFilesAndDataImagesAreDrawn) {
    std::ofstream(folder() + "/look.css") << "#b { background: rgb(0, 128, 255); height: 30px; }\n"
                                             "@import url(more.css);\n";
    std::ofstream(folder() + "/more.css") << "#c { background: #102030; height: 10px; }\n";
    writePicture("dot.png", {4, 4});
    std::ifstream in(folder() + "/dot.png", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string data = "data:image/png;base64," + NSData(bytes.data(), bytes.size()).base64EncodedStringWithOptions();
    auto view = show("<link rel=stylesheet href='look.css'><body style='margin:0'>"
                     "<div id=b></div><div id=c></div><img src='" + data + "' style='width:40px;height:40px'>");
    std::string png = snapshot(view);
    EXPECT_EQ(at(png, 100, 15), 0xFF0080FFu);
    EXPECT_EQ(at(png, 100, 35), 0xFF102030u);
    EXPECT_EQ(at(png, 5, 50), 0xFFCC9933u);
}

TEST_F(PageDrawingTest, NothingIsFetchedWhileDrawing) {
    server.route("GET", "/look.css", Answer::ok("body { background: #ff0000; }").header("Content-Type", "text/css"));
    startServer();
    auto view = show("<link rel=stylesheet href='/look.css'><body style='margin:0;background:#00ff00'>"
                     "<img src='/pic.png' style='width:20px;height:20px'>",
                     {200, 120}, server.url("/page.html"));
    std::string png = snapshot(view);
    // There is no URL cache: http resources are not drawn, and never asked for.
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(at(png, 100, 100), 0xFF00FF00u);
}

TEST_F(PageDrawingTest, VideoDrawsBlackAndCanvasNotAtAll) {
    auto view = show("<body style='margin:0;background:#ffffff'>"
                     "<video width=100 height=50 style='background:#ff0000;display:block' poster='x.png'>"
                     "<p>fallback</p></video><canvas width=50 height=50 style='display:block'>fallback</canvas>");
    std::string png = snapshot(view);
    EXPECT_EQ(at(png, 50, 25), 0xFF000000u);
    EXPECT_EQ(at(png, 25, 75), 0xFFFFFFFFu);
}

// ---- what litehtml cannot lay out as the page gives it ---------------------------------------------

// litehtml's table fix-ups reach for the parent of a row or cell, which the
// root has not: the root draws as a block (a table as a table, none as
// nothing), however the page gives it its display.
TEST_F(PageDrawingTest, TheRootDrawsItsContentWithEveryDisplay) {
    const char* const displays[] = {
        "block", "inline", "inline-block", "inline-table", "list-item", "table", "table-caption", "table-cell",
        "table-column", "table-column-group", "table-footer-group", "table-header-group", "table-row",
        "table-row-group", "inline-text", "flex", "contents", "TABLE-ROW", "none"};
    const std::string content = "<body style='margin:0'><div style='width:200px;height:40px;background:#0000ff'>"
                                "</div><div style='display:table-cell'>cell</div>";
    for (const std::string display : displays) {
        const std::string ways[] = {
            "<style>html { display: " + display + " !important }</style>" + content,
            "<html style='display:" + display + "'>" + content,
            content + "<script>document.documentElement.style.display = '" + display + "';</script>",
        };
        for (const std::string& page : ways) {
            auto view = show(page);
            view->setBackgroundColor(UIColor::greenColor());
            std::string png = snapshot(view);
            EXPECT_EQ(at(png, 100, 20), display == "none" ? 0xFF00FF00u : 0xFF0000FFu) << page;
        }
    }
    // As a random page found it: the text is drawn.
    std::string png = snapshot(show("<html style='display:table-row'>x"));
    const std::vector<uint32_t> pixels = SnapshotComparison::pixels(png);
    EXPECT_GT(std::count_if(pixels.begin(), pixels.end(), [](uint32_t p) { return p != 0xFFFFFFFFu; }), 10);
    // litehtml's own display for words means nothing in CSS: an element
    // given it still lays out and draws its content.
    png = snapshot(show("<body style='margin:0'><div style='display:inline-text;background:#0000ff'>"
                        "<b style='font-size:30px'>words</b></div>"));
    EXPECT_EQ(at(png, 2, 2), 0xFF0000FFu);
}

// ---- the drawing's own bounds -------------------------------------------------------------------

TEST_F(PageDrawingTest, ResourcesThatCouldKeepTheDrawingWaitingAreNotRead) {
    // A pipe with a writer that never writes: reading it would wait for ever.
    std::string pipe = folder() + "/look.css";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    int writer = open(pipe.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    std::mutex mutex;
    std::condition_variable drawn;
    bool done = false, released = false;
    // Only a guard: were the pipe read, the test would fail after a while instead of hanging.
    std::thread guard([&] {
        std::unique_lock lock(mutex);
        if (!drawn.wait_for(lock, std::chrono::duration<double>(platform::testing::hangGuard(10)), [&] { return done; })) {
            released = true;
            close(writer);
        }
    });
    auto view = show("<link rel=stylesheet href='look.css'><img src='file:///dev/zero'><p>drawn</p>");
    snapshot(view);
    {
        std::scoped_lock lock(mutex);
        done = true;
    }
    drawn.notify_one();
    guard.join();
    EXPECT_FALSE(released);
    if (!released) close(writer);
}

TEST_F(PageDrawingTest, NothingThePageDefinedRunsWhileItIsDrawn) {
    auto view = show("<body style='margin:0'><div id=a style='height:40px;background:#0000ff'>text</div>"
                     "<p title='t'>more</p>");
    // Every road a drawing could take through page script is mined.
    EXPECT_EQ(eval(view, R"JS(
        const mine = () => function () { window.ran++; return 'x'; };
        const trap = (extra) => ({ __proto__: null, get: mine(), set: mine(), configurable: true, ...extra });
        const body = document.body, a = document.getElementById('a');
        body.childNodes.push(new Proxy({}, { get: mine(), has: mine(), getOwnPropertyDescriptor: mine(),
                                              getPrototypeOf: mine(), ownKeys: mine() }));
        Object.defineProperty(body.childNodes, body.childNodes.length, trap({ enumerable: true }));
        Object.defineProperty(body, 'childNodes', trap());
        Object.defineProperty(a, 'localName', trap());
        Object.defineProperty(a, 'attributes', trap());
        Object.setPrototypeOf(a.firstChild, new Proxy({}, { get: mine() }));
        for (const name of ['substring', 'slice', 'charCodeAt', 'replace', 'toLowerCase', 'toString'])
          String.prototype[name] = mine();
        for (const name of ['push', 'slice', 'splice', 'indexOf', 'map', 'join'])
          Array.prototype[name] = mine();
        Object.getOwnPropertyDescriptor = mine();
        Object.hasOwn = mine();
        Reflect.apply = mine();
        Function.prototype.call = mine();
        Function.prototype.apply = mine();
        for (let i = 0; i < 8; i++) Object.defineProperty(Array.prototype, i, trap());
        Array.prototype[Symbol.iterator] = mine();
        const names = ['value', 'list', 'index', 'name', 'up', 'raw', 'depth', 'length', 'get', 'set'];
        for (let i = 0; i < names.length; i++) Object.defineProperty(Object.prototype, names[i], trap());
        window.ran = 0;
    )JS"), "0");
    std::string png = snapshot(view);
    EXPECT_EQ(eval(view, "window.ran"), "0");
    EXPECT_EQ(at(png, 100, 20), 0xFF0000FFu);  // and the page is drawn all the same
    EXPECT_EQ(delegate->events.size(), 3u);    // should, start, finish: no navigation either
}

TEST_F(PageDrawingTest, DrawingLeavesTheDocumentAsItWas) {
    auto view = show("<body><p id=p class='c'>text <b>bold</b></p><script>window.timerRan = 0;"
                     "setTimeout(function() { window.timerRan++; }, 0);</script>");
    std::string before = eval(view, "document.documentElement.innerHTML + '|' + document.readyState + '|' + timerRan");
    snapshot(view);
    snapshot(view, "again.png");
    EXPECT_EQ(eval(view, "document.documentElement.innerHTML + '|' + document.readyState + '|' + timerRan"), before);
}

// A document over the bounds draws only its own background, from its root,
// its body and its style sheets wherever they stand, with one line naming the
// bound: the box it begins with is not drawn, nor what lies beneath.
TEST_F(PageDrawingTest, OversizedDocumentsDrawTheirOwnBackgroundOnly) {
    // Building these pages takes longer than the short limit.
    JSVirtualMachine::setExecutionTimeLimit(30);
    const std::string box = "<div style='height:40px;background:#0000ff'></div>";
    auto expectBackgroundOnly = [&](const Ref<UIWebView>& view, const std::string& bound) {
        logCapture().clear();
        view->setBackgroundColor(UIColor::greenColor());
        std::string png = snapshot(view);
        EXPECT_EQ(at(png, 100, 20), 0xFFFF0000u) << bound;
        EXPECT_EQ(at(png, 100, 60), 0xFFFF0000u) << bound;
        EXPECT_EQ(logCapture().count("over the drawing's bound of"), 1u) << bound;
        EXPECT_TRUE(logCapture().contains("over the drawing's bound of " + bound + "; only its background is drawn"));
    };
    // The body's colour from a sheet past the bound, also when the markup
    // before it is as long as the bound allows.
    const std::string sheet = "document.body.appendChild(document.createElement('style')).textContent ="
                              " 'body { background: #ff0000 }';";
    expectBackgroundOnly(show("<body style='margin:0'>" + box + "<script>for (let i = 0; i < 10001; i++)"
                              " document.body.appendChild(document.createElement('i'));" + sheet + "</script>"),
                         "10000 elements");
    expectBackgroundOnly(show("<body style='margin:0'>" + box + "<script>for (let i = 0; i < 140000; i++)"
                              " document.body.appendChild(document.createTextNode('abcdefghijklmno '));" + sheet +
                              "</script>"),
                         "2097152 characters of markup");
    // From the root's: nodes that are no elements count too (comments, here).
    auto comments = show("<html style='background:#ff0000'><body style='margin:0'>" + box);
    for (int i = 0; i < 7; ++i)
        eval(comments, "document.body.appendChild(document.createElement('div')).innerHTML = '<!---->'.repeat(40000)");
    expectBackgroundOnly(comments, "250000 nodes and attributes read");

    // Just inside the bounds, the page is drawn.
    auto fits = show("<body style='margin:0;background:#ff0000'>" + box + "<script>for (let i = 0; i < 9000; i++)"
                     " document.body.appendChild(document.createElement('i'));</script>");
    std::string png = snapshot(fits, "fits.png");
    EXPECT_EQ(at(png, 100, 20), 0xFF0000FFu);
    EXPECT_EQ(at(png, 100, 60), 0xFFFF0000u);
}

TEST_F(PageDrawingTest, HostileStructuresDrawSafely) {
    // Building this page takes longer than the short limit on a busy machine.
    JSVirtualMachine::setExecutionTimeLimit(30);
    auto view = show(R"(<body style='margin:0;background:#ffffff'><script>
        // Far deeper than the parser builds (the drawing leaves the depths out).
        let n = document.body.appendChild(document.createElement('div'));
        for (let k = 0; k < 19; k++) { n.innerHTML = '<div>'.repeat(500); while (n.firstChild) n = n.firstChild; }
        n.textContent = 'deep';
        // Names that would make markup of their own if written out as they are.
        const e = document.createElement('span');
        e.setAttribute('x"><p style="background:#ff0000;height:60px"', '1');
        e.setAttribute('style', 'color:#000"><p style="background:#ff0000;height:60px');
        document.body.insertBefore(e, document.body.firstChild);
        const odd = document.createElement('q q');
        odd.textContent = '</style><p style="background:#ff0000;height:60px">';
        document.body.insertBefore(odd, e);
        const sheet = document.createElement('style');
        sheet.textContent = 'b {}</style><p style="background:#ff0000;height:60px">';
        document.head.appendChild(sheet);
    </script>)");
    std::string png = snapshot(view);
    for (int y = 0; y < 120; y += 10) EXPECT_NE(at(png, 150, y), 0xFFFF0000u) << y;
    // The odd element's text is drawn as text, and the rest is drawn too.
    int inked = 0;
    for (int x = 0; x < 100; ++x) inked += at(png, x, 8) != 0xFFFFFFFFu;
    EXPECT_GT(inked, 10);
}

}  // namespace
