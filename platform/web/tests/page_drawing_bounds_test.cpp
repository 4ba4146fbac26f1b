// The drawing's bounds seen from outside. Each hostile page (HostilePages.h)
// is either drawn within its resource bounds or stopped at the bound it
// passes, with one log line naming it and the page's own background drawn;
// either way within a guard on real time and a bound on the memory it takes,
// which it gives back. Also: every byte a drawing reads counts against it,
// and unquoted data URLs in style text are drawn.
#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/testing/ResidentMemory.h"
#include "platform/testing/SnapshotComparison.h"
#include "platform/web/tests/HostilePages.h"
#include "platform/web/tests/WebTestSupport.h"

// Memory is measured here: AddressSanitizer keeps only a little freed memory
// back, so that what a drawing holds at its peak is what it uses.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }

namespace {

using platform::testing::SnapshotComparison;
using webtest::HostilePage;
using webtest::WebTest;

constexpr size_t MB = 1024 * 1024;

class PageDrawingBoundsTest : public WebTest {
protected:
    std::string folder() const { return home() + "/art"; }

    void SetUp() override {
        WebTest::SetUp();
        // Building and reading documents this large takes longer than the short limit.
        JSVirtualMachine::setExecutionTimeLimit(30);
        std::filesystem::create_directories(folder());
    }
    Ref<UIWebView> show(const std::string& html) {
        auto view = webViewWithDelegate();
        view->setFrame(CGRect{{0, 0}, {320, 480}});
        view->loadHTMLString(html, url("file://" + folder() + "/page.html"));
        driver().drain();
        EXPECT_EQ(delegate->count("finish"), 1u);
        return view;
    }
    std::string snapshot(const Ref<UIWebView>& view) {
        std::string png = home() + "/page.png";
        EXPECT_TRUE(view->renderToPNG(png));
        return png;
    }
    // Pixel (x, y) in points of a snapshot at the screen's scale 2.
    static uint32_t at(const std::string& png, int x, int y) { return SnapshotComparison::pixelAt(png, 2 * x, 2 * y); }
};

class HostilePageDrawingTest : public PageDrawingBoundsTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(HostilePageDrawingTest, IsDrawnOrStoppedAtItsBoundInBoundedTimeAndMemoryWhichItGivesBack) {
    const std::string name = GetParam();
    HostilePage page = webtest::hostilePage(name);
    ASSERT_FALSE(page.html.empty());
    if (!page.bound.empty()) expectLogLine("web view: the page is over the drawing's bound of ");
    auto view = show(page.html);

    // What the page's scripts left to collect is not the drawing's.
    platform::testing::collectScriptGarbageNow();
    platform::testing::releaseFreedMemory();
    const size_t before = platform::testing::residentBytes();
    platform::testing::resetPeakResidentBytes();
    const auto start = std::chrono::steady_clock::now();
    std::string png = snapshot(view);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const size_t peak = platform::testing::peakResidentBytes();
    platform::testing::collectScriptGarbageNow();
    platform::testing::releaseFreedMemory();
    const size_t after = platform::testing::residentBytes();

    // Only a guard: the bounds hold a drawing to about a second in an optimised build.
    EXPECT_LT(elapsed, std::chrono::seconds(60));
    // Truncated images cost nothing of the pixels they announce.
    EXPECT_LT(peak - std::min(peak, before), (name == "truncated_images" ? 16 : 160) * MB);
    EXPECT_LT(after - std::min(after, before), 40 * MB);
    EXPECT_EQ(logCapture().count("over the drawing's bound of"), page.bound.empty() ? 0u : 1u);
    if (!page.bound.empty()) {
        EXPECT_TRUE(logCapture().contains(page.bound + "; only its background is drawn")) << page.bound;
    }
    EXPECT_EQ(at(png, 310, 470), webtest::kHostileBackground);
    if (name == "large_images") {
        // The first is decoded; the second would pass the pixels a drawing may decode.
        EXPECT_NE(at(png, 50, 25), webtest::kHostileBackground);
        EXPECT_EQ(at(png, 150, 25), webtest::kHostileBackground);
    }
}

INSTANTIATE_TEST_SUITE_P(Pages, HostilePageDrawingTest, ::testing::ValuesIn(webtest::kHostilePageNames),
                         [](const auto& info) { return std::string(info.param); });

// An image's pixels count as its header announces them: one that announces
// all a drawing may decode and then does not decode leaves room for no other.
TEST_F(PageDrawingBoundsTest, ImagePixelsCountAsAnnouncedWhetherTheyDecodeOrNot) {
    const std::string whole = webtest::plainPNG(4096, 4096, 0.1f);
    const std::string dot = webtest::pngDataURL(webtest::plainPNG(4, 4, 1.0f));
    const std::string other = webtest::pngDataURL(webtest::plainPNG(4, 4, 0.9f));
    const std::string style = "style='display:block;width:40px;height:40px'";
    auto view = show("<body style='margin:0;background:#123456'><img src='" + dot + "' " + style + "><img src='" +
                     webtest::pngDataURL(whole.substr(0, whole.size() / 2)) + "' " + style + "><img src='" + other +
                     "' " + style + ">");
    std::string png = snapshot(view);
    EXPECT_NE(at(png, 20, 20), webtest::kHostileBackground);
    EXPECT_EQ(at(png, 20, 60), webtest::kHostileBackground);
    EXPECT_EQ(at(png, 20, 100), webtest::kHostileBackground);
}

// A file refused as too large still spends what was read of it: the sheet
// after it is not read, and the drawing reads little more than its budget
// whatever the number of references.
TEST_F(PageDrawingBoundsTest, EveryByteReadCountsAlsoOfFilesRefusedAsTooLarge) {
    {
        std::ofstream big(folder() + "/big.css", std::ios::binary);
        big << "body { background: #ff0000 }";
        big << std::string(16 * MB, ' ');
    }
    std::ofstream(folder() + "/small.css") << "#s { background: #00ff00; height: 40px }";
    std::string links;
    for (int i = 0; i < 8; ++i) links += "<link rel=stylesheet href='big.css?" + std::to_string(i) + "'>";
    auto view = show(links + "<link rel=stylesheet href='small.css'><body style='margin:0;background:#123456'><div id=s>");
    std::string png = snapshot(view);
    EXPECT_EQ(at(png, 100, 20), webtest::kHostileBackground);
    EXPECT_EQ(at(png, 100, 100), webtest::kHostileBackground);
}

// Creatives write data URLs unquoted, in sheets and in style attributes; the
// ';' of ";base64" does not end the declaration.
TEST_F(PageDrawingBoundsTest, UnquotedDataURLsInStyleSheetsAndAttributesAreDrawn) {
    const std::string dot = webtest::pngDataURL(webtest::plainPNG(4, 4, 1.0f));
    auto view = show("<style>#a { height: 40px; background: url(" + dot + ") }\n"
                     "#b { height: 40px; background-image: url( " + dot + " ); background-size: 8px 8px }</style>"
                     "<body style='margin:0;background:#123456'><div id=a></div><div id=b></div>"
                     "<div style='height:40px;background-image:url(" + dot + ")'></div>");
    std::string png = snapshot(view);
    const uint32_t picture = at(png, 2, 2);
    EXPECT_NE(picture, webtest::kHostileBackground);
    EXPECT_EQ(at(png, 100, 20), picture);
    EXPECT_EQ(at(png, 100, 60), picture);
    EXPECT_EQ(at(png, 100, 100), picture);
    EXPECT_EQ(at(png, 100, 140), webtest::kHostileBackground);
}

}  // namespace
