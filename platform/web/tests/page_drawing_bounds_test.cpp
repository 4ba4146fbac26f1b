// The drawing's bounds seen from outside. Each hostile page (HostilePages.h)
// is either drawn within its resource bounds or stopped at the bound it
// passes, with one log line naming it and the page's own background drawn;
// either way within a guard on its processor time (never the wall clock: a
// busy machine stretches that) and a bound on the memory it takes, which it
// gives back. Also: pages of large text drawn in turn take bounded memory and
// give it back, glyph pictures fit their budget and go with their drawing, a
// drawing's processor time is its own, every byte a drawing reads counts
// against it, and unquoted data URLs in style text are drawn.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/runtime/SystemClock.h"
#include "platform/testing/ResidentMemory.h"
#include "platform/testing/SnapshotComparison.h"
#include "platform/web/PageDrawing.h"
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
    // The share of a snapshot's pixels of that colour.
    static double shareOf(const std::string& png, uint32_t colour) {
        const std::vector<uint32_t> pixels = SnapshotComparison::pixels(png);
        return pixels.empty() ? 0 : double(std::count(pixels.begin(), pixels.end(), colour)) / double(pixels.size());
    }
};

constexpr uint32_t kWhite = 0xFFFFFFFFu;

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
    const double start = SystemClock::threadProcessorSeconds();
    std::string png = snapshot(view);
    const double processor = SystemClock::threadProcessorSeconds() - start;
    const size_t peak = platform::testing::peakResidentBytes();
    platform::testing::collectScriptGarbageNow();
    platform::testing::releaseFreedMemory();
    const size_t after = platform::testing::residentBytes();

    // Only a guard: the bounds hold a drawing to about a second of processor
    // time in an optimised build; here none comes near the drawing's own limit.
    EXPECT_LT(processor, kDrawingTimeLimit / 2);
    // Truncated images cost nothing of the pixels they announce; a long word
    // makes only the pictures of the glyphs in the view.
    EXPECT_LT(peak - std::min(peak, before),
              (name == "truncated_images" ? 16 : name == "long_word" ? 100 : 160) * MB);
    EXPECT_LT(after - std::min(after, before), 40 * MB);
    EXPECT_EQ(logCapture().count("over the drawing's bound of"), page.bound.empty() ? 0u : 1u);
    if (!page.bound.empty()) {
        EXPECT_TRUE(logCapture().contains(page.bound + "; only its background is drawn")) << page.bound;
    }
    // The headline covers that corner, not this one.
    if (name == "zoomed_headline") EXPECT_EQ(at(png, 5, 5), webtest::kHostileBackground);
    else EXPECT_EQ(at(png, 310, 470), webtest::kHostileBackground);
    // Stopped at the bound, or drawn within it; a drawn page's work grows
    // with what it holds (long text in one inline element is no square).
    const auto work = platform::testing::lastPageDrawingWork();
    if (page.bound == "steps of work") EXPECT_GT(work.charged, work.bound);
    else EXPECT_LE(work.charged, work.bound);
    if (name == "long_inline_text") {
        EXPECT_LT(work.charged, work.bound / 20);
        // The link's words (blue, above) and the span's (white, below).
        const std::vector<uint32_t> pixels = SnapshotComparison::pixels(png);
        const int width = SnapshotComparison::pngWidth(png);
        size_t blue = 0, white = 0;
        for (size_t i = 0; i < pixels.size(); ++i) {
            const uint32_t p = pixels[i];
            const int y = static_cast<int>(i) / width / 2;
            if (y < 220 && (p & 0xFF) > 0x80 && ((p >> 16) & 0xFF) < 0x40) ++blue;
            if (y > 250 && ((p >> 16) & 0xFF) > 0x80) ++white;
        }
        EXPECT_GT(blue, 10000u);
        EXPECT_GT(white, 10000u);
    }
    // The word's start, across the view's width and up to its edge.
    if (name == "long_word") {
        const std::vector<uint32_t> pixels = SnapshotComparison::pixels(png);
        const int width = SnapshotComparison::pngWidth(png);
        // White pixels in each tenth of the view's width, along the line.
        std::vector<size_t> white(10);
        for (size_t i = 0; i < pixels.size(); ++i) {
            const int x = static_cast<int>(i) % width, y = static_cast<int>(i) / width;
            if (y >= 2 * 16 && y < 2 * 36 && pixels[i] == kWhite) ++white[static_cast<size_t>(x * 10 / width)];
        }
        for (size_t tenth = 0; tenth < white.size(); ++tenth) EXPECT_GT(white[tenth], 100u) << tenth;
    }
    // Large text is drawn: the stems of the '!'s, the M of the headline.
    if (name == "large_text_sizes") {
        EXPECT_EQ(at(png, 200, 300), kWhite);
        EXPECT_GT(shareOf(png, kWhite), 0.2);
    }
    if (name == "zoomed_headline") {
        EXPECT_EQ(at(png, 100, 300), kWhite);
        EXPECT_GT(shareOf(png, kWhite), 0.5);
    }
    // Its content, not its background alone.
    if (name == "dense_ad") {
        EXPECT_LT(shareOf(png, webtest::kHostileBackground), 0.5);
    }
    if (name == "large_images") {
        // The first is decoded; the second would pass the pixels a drawing may decode.
        EXPECT_NE(at(png, 50, 25), webtest::kHostileBackground);
        EXPECT_EQ(at(png, 150, 25), webtest::kHostileBackground);
    }
}

INSTANTIATE_TEST_SUITE_P(Pages, HostilePageDrawingTest, ::testing::ValuesIn(webtest::kHostilePageNames),
                         [](const auto& info) { return std::string(info.param); });

// A cell's spans are read as HTML reads them, however the page writes them,
// on td and th alone: here a first row's red cell spans two columns of 50
// points, or stays one wide.
TEST_F(PageDrawingBoundsTest, TableSpansAreReadAsHTMLReadsThem) {
    auto table = [](const std::string& cell) {
        return "<body style='margin:0;background:#123456'><table style='border-spacing:0'><tr>" + cell +
               "</tr><tr><td style='width:50px;height:10px;padding:0'></td>"
               "<td style='width:50px;height:10px;padding:0'></td></tr></table>";
    };
    const std::string red = " style='height:10px;padding:0;background:#ff0000'";
    const std::pair<std::string, bool> cells[] = {
        {"<td colspan=2" + red + ">", true},         {"<td colspan=' 2'" + red + ">", true},
        {"<td colspan='2 columns'" + red + ">", true}, {"<td colspan='+2.9'" + red + ">", true},
        {"<th colspan=2" + red + ">", true},         {"<td colspan=-2" + red + ">", false},
        {"<td colspan=0" + red + ">", false},        {"<td colspan=x2" + red + ">", false},
        {"<td colspan=1" + red + ">", false},
    };
    for (const auto& [cell, spans] : cells) {
        std::string png = snapshot(show(table(cell + "</td>")));
        EXPECT_EQ(at(png, 25, 5), 0xFFFF0000u) << cell;
        EXPECT_EQ(at(png, 75, 5) == 0xFFFF0000u, spans) << cell;
    }
    // Another element shown as a cell spans nothing.
    const std::string cell = "<div style='display:table-cell;width:50px;height:10px'></div>";
    std::string png = snapshot(show("<body style='margin:0;background:#123456'><div style='display:table'>"
                                    "<div style='display:table-row'><div colspan=2 style='display:table-cell;"
                                    "height:10px;background:#ff0000'></div></div><div style='display:table-row'>" +
                                    cell + cell + "</div></div>"));
    EXPECT_EQ(at(png, 25, 5), 0xFFFF0000u);
    EXPECT_EQ(at(png, 75, 5), webtest::kHostileBackground);
    // Set by script; a row span too, down the first column.
    png = snapshot(show(table("<td id=c" + red + "></td>") +
                        "<script>document.getElementById('c').setAttribute('colspan', ' 2 ');</script>"));
    EXPECT_EQ(at(png, 75, 5), 0xFFFF0000u);
    png = snapshot(show("<body style='margin:0;background:#123456'><table style='border-spacing:0'>"
                        "<tr><td id=c style='width:50px;padding:0;background:#ff0000'></td>"
                        "<td style='width:50px;height:10px;padding:0'></td></tr>"
                        "<tr><td style='width:50px;height:10px;padding:0'></td></tr></table>"
                        "<script>document.getElementById('c').setAttribute('rowspan', '2 rows');</script>"));
    EXPECT_EQ(at(png, 25, 15), 0xFFFF0000u);
    EXPECT_EQ(at(png, 75, 15), webtest::kHostileBackground);
}

// A table's grid is charged for each of its cells: a span of more columns
// than HTML allows costs what 1000 do.
TEST_F(PageDrawingBoundsTest, TableGridsAreChargedTheirCellsWithSpansClamped) {
    auto work = [&](const std::string& span) {
        snapshot(show("<table><tr><td colspan=" + span + ">a</td></tr></table>"));
        return platform::testing::lastPageDrawingWork().charged;
    };
    const size_t one = work("1"), most = work("1000");
    EXPECT_GT(most, one + 999 * 16);
    EXPECT_EQ(work("1001"), most);
    EXPECT_EQ(work("2000000000"), most);
    EXPECT_EQ(work("99999999999999999999"), most);
}

// Steps differ in cost: a drawing that runs past its processor time stops
// there, whatever its steps come to, as it does at its work bound.
TEST_F(PageDrawingBoundsTest, ADrawingPastItsProcessorTimeStopsAtItsBound) {
    platform::testing::setPageDrawingTimeLimit(0.05);
    expectLogLine("web view: the page is over the drawing's bound of 0.05 s of processor time; only its background is drawn");
    std::string png = snapshot(show(webtest::hostilePage("nested_table_rows").html));
    EXPECT_EQ(at(png, 310, 470), webtest::kHostileBackground);
    const auto work = platform::testing::lastPageDrawingWork();
    EXPECT_LT(work.charged, work.bound);
    EXPECT_EQ(logCapture().count("over the drawing's bound of"), 1u);
    // A small page, its time read at every step, is drawn within it: its
    // own time counts, not the page's before it.
    platform::testing::setPageDrawingStepsBetweenTimeChecks(1);
    png = snapshot(show("<body style='margin:0;background:#123456'><div style='height:40px;background:#ff0000'></div>"));
    EXPECT_EQ(at(png, 100, 20), 0xFFFF0000u);
    EXPECT_EQ(logCapture().count("over the drawing's bound of"), 1u);
}

// Text at any size takes bounded memory and gives it back: pages of large
// glyphs at many sizes, each new to the drawing, each in a web view of its
// own in turn, draw their text and leave little behind.
TEST_F(PageDrawingBoundsTest, PagesOfLargeTextTakeBoundedMemoryAndGiveItBack) {
    const std::string characters = webtest::printableCharacters();
    struct Page {
        std::string html;
        int x, y;  // a point of a glyph's stem
    };
    const Page pages[] = {
        {webtest::largeTextPage(characters, 300, 30), 60, 150},
        {webtest::largeTextPage(characters, 500, 30), 100, 250},
        {webtest::zoomedHeadline(600, 1000, 12), 100, 300},
        {webtest::largeTextPage(characters, 1000, 30), 200, 300},
        {webtest::largeTextPage(characters, 1000, 100), 200, 300},
    };
    platform::testing::collectScriptGarbageNow();
    platform::testing::releaseFreedMemory();
    const size_t start = platform::testing::residentBytes();
    for (const Page& page : pages) {
        std::string png;
        size_t before = 0, peak = 0;
        {
            auto view = show(page.html);
            platform::testing::collectScriptGarbageNow();
            platform::testing::releaseFreedMemory();
            before = platform::testing::residentBytes();
            platform::testing::resetPeakResidentBytes();
            png = snapshot(view);
            peak = platform::testing::peakResidentBytes();
        }
        driver().drain();
        platform::testing::collectScriptGarbageNow();
        platform::testing::releaseFreedMemory();
        const size_t after = platform::testing::residentBytes();
        EXPECT_LT(peak - std::min(peak, before), 100 * MB) << page.x;
        EXPECT_LT(after - std::min(after, start), 40 * MB) << page.x;
        EXPECT_EQ(at(png, page.x, page.y), kWhite) << page.x;
        EXPECT_EQ(at(png, 5, 5), webtest::kHostileBackground) << page.x;
    }
    EXPECT_EQ(logCapture().count("over the drawing's bound of"), 0u);
}

// Glyphs small enough to be drawn from pictures, at many sizes and every
// one within the view: the pictures a drawing makes fit its budget (without
// it, one of these pages peaks past 150 MB), and what cairo made of them goes
// with the drawing rather than staying with the fonts it holds over (without
// that, four pages leave some 50 MB instead of 15).
TEST_F(PageDrawingBoundsTest, GlyphPicturesFitTheirBudgetAndNoneOutliveTheirDrawing) {
    // The 94 printable characters at each size, wrapped at the view's width,
    // their lines drawn over one another.
    auto page = [](int smallest, int largest, bool bold) {
        std::string characters;
        for (char c = '!'; c <= '~'; ++c) characters += c == '<' ? "&lt; " : c == '&' ? "&amp; " : std::string{c, ' '};
        std::string blocks;
        for (int size = smallest; size <= largest; ++size)
            blocks += "<div style='position:absolute;left:0;top:0;width:320px;line-height:0.2;color:#ffffff;"
                      "font-weight:" + std::string(bold ? "bold" : "normal") + ";font-size:" + std::to_string(size) +
                      "px'>" + characters + "</div>";
        return "<body style='margin:0;background:#123456'>" + blocks;
    };
    auto settled = [] {
        platform::testing::collectScriptGarbageNow();
        platform::testing::releaseFreedMemory();
        return platform::testing::residentBytes();
    };
    // The peak a page's drawing reaches above the loaded page; the view is gone after it.
    auto drawnPeak = [&](const std::string& html) {
        size_t before = 0, peak = 0;
        {
            auto view = show(html);
            before = settled();
            platform::testing::resetPeakResidentBytes();
            std::string png = snapshot(view);
            peak = platform::testing::peakResidentBytes();
            EXPECT_EQ(at(png, 10, 10), kWhite);
        }
        driver().drain();
        return peak - std::min(peak, before);
    };
    // What a first drawing sets up once is not counted.
    drawnPeak(page(1, 40, false));
    const size_t start = settled();
    for (bool bold : {false, true}) {
        for (auto [smallest, largest] : {std::pair{81, 127}, std::pair{41, 80}})
            EXPECT_LT(drawnPeak(page(smallest, largest, bold)), 100 * MB) << smallest << (bold ? " bold" : "");
    }
    const size_t after = settled();
    EXPECT_LT(after - std::min(after, start), 28 * MB);
}

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
