// A short, deterministic fuzz pass for CI: seeded mutations of small pages
// loaded into web views (and drawn), every display given to any element
// (and drawn), and random bytes through the HTML parser. Every load must end in exactly one finish or fail; nothing may
// crash or hang.
// (The open-ended search is the libFuzzer target in platform/web/fuzz/.)
#include <random>

#include "platform/runtime/NSRunLoop.h"
#include "platform/web/HTMLTree.h"
#include "platform/web/tests/WebTestSupport.h"

namespace {

using webtest::RecordingDelegate;
using webtest::WebTest;

const char* const kSeeds[] = {
    "<html><head><title>t</title></head><body onload=\"document.title='x'\"><p id=a class='b c'>hi</p></body></html>",
    "<script>var d = document.createElement('div'); d.innerHTML = '<b>x</b><i>y'; document.body.appendChild(d);"
    "setTimeout(function(){ location.hash = 'h'; }, 0);</script>",
    "<table><tr><td>1<td>2</table><select><option>a<option>b</select><svg><circle r=1></svg>",
    "<a id=l href='#frag' onclick='this.className=\"x\"'>l</a><script>document.getElementById('l').click()</script>",
    "<iframe src='about:blank'></iframe><script>document.querySelectorAll('iframe, .x, #y').length</script>",
    "<div style='color:red;display:none'><span>&amp;&lt;&#x41;&#65;&nbsp;</span></div><!-- c -->",
    "<script>window.addEventListener('load', function(){ document.title = document.readyState; });"
    "document.addEventListener('DOMContentLoaded', function(e){ e.target.body.innerHTML = '<p>z</p>'; });</script>",
    "<meta http-equiv=refresh content='5;url=about:blank'><form><input value=1></form><textarea>x</textarea>",
};

const char* const kFragments[] = {
    "<script>", "</script>", "<div>", "</div>", "<iframe src='", "'>", "<a href=\"", "\">", "<!--", "-->",
    "location='about:blank';", "setTimeout(function(){},0);", "throw 1;", "document.title=1;", "<table>",
    "<td>", "&", "\"", "'", "\xFF", "\xE2\x82", "\0", "<body onload='x()'>", "<title>", "<p>", "javascript:",
    // What the drawing lays out.
    "<style>", "</style>", " style='", "border:3px solid red;border-radius:50% 10px;", "display:table-cell;",
    "float:left;width:40%;", "position:absolute;top:-5px;", "overflow:hidden;", "<video width=0 height=9e9>",
    "<canvas>", "<ul><li>", "<img src='data:image/png;base64,iVBORw0KGgo='>", "background:url(x.png) repeat-x;",
    "@media (max-width: 100px) { p { color: red } }", "<base href='file:///'>", "font-size:0;",
};

std::string mutate(std::string page, std::mt19937& random) {
    auto pick = [&](size_t n) { return n ? std::uniform_int_distribution<size_t>(0, n - 1)(random) : 0; };
    for (int rounds = 1 + static_cast<int>(pick(4)); rounds > 0; --rounds) {
        switch (pick(5)) {
            case 0:  // flip a byte
                if (!page.empty()) page[pick(page.size())] = static_cast<char>(pick(256));
                break;
            case 1:  // insert a fragment
                page.insert(pick(page.size() + 1), kFragments[pick(std::size(kFragments))]);
                break;
            case 2:  // cut a range
                if (!page.empty()) {
                    size_t at = pick(page.size());
                    page.erase(at, pick(page.size() - at + 1));
                }
                break;
            case 3:  // repeat a range
                if (!page.empty()) {
                    size_t at = pick(page.size());
                    size_t length = pick(std::min<size_t>(page.size() - at, 64) + 1);
                    page.insert(pick(page.size() + 1), page.substr(at, length));
                }
                break;
            default:  // splice another seed in
                page.insert(pick(page.size() + 1), kSeeds[pick(std::size(kSeeds))]);
                break;
        }
    }
    return page;
}

// Runs passes without moving the clock, a bounded number of times.
void pump(int passes = 200) {
    for (int i = 0; i < passes && (platform::runtime::hasPostedWork() || platform::runtime::hasDueTimer()); ++i)
        platform::runtime::runMainPass();
}

class PageFuzzTest : public WebTest {
protected:
    void SetUp() override {
        WebTest::SetUp();
        JSVirtualMachine::setExecutionTimeLimit(0.05);
    }
};

TEST_F(PageFuzzTest, MutatedPagesLoadAndReportExactlyOnce) {
    std::mt19937 random(20240611);
    auto base = url("http://fuzz.example.com/page.html");
    auto view = webViewWithDelegate();
    // Only the loads the test makes (and blank pages) are let through.
    delegate->answer = [&](const NSURLRequest& r, UIWebViewNavigationType) {
        std::string u = r.URL()->absoluteString();
        return u == base->absoluteString() || u.rfind("about:", 0) == 0;
    };
    for (int i = 0; i < 120; ++i) {
        if (i % 40 == 39) {  // now and then a fresh view, the old one dropped mid-way
            view->loadHTMLString(kSeeds[0], base);
            view = makeWebView();
            view->setDelegate(delegate);
        }
        std::string page = mutate(kSeeds[static_cast<size_t>(i) % std::size(kSeeds)], random);
        view->loadHTMLString(page, base);
        pump();
        for (int k = 0; k < 20 && view->isLoading(); ++k) pump();
        ASSERT_FALSE(view->isLoading()) << page;
        ASSERT_EQ(delegate->count("start"), delegate->count("finish") + delegate->count("fail")) << page;
        if (i % 2 == 0) {
            ASSERT_TRUE(view->renderToPNG(home() + "/page.png")) << page;
        }
    }
    EXPECT_GT(delegate->count("finish"), 10u);
    view->stringByEvaluatingJavaScriptFromString("document.body.innerHTML");
}

// Style that gives any element (the root included) any display litehtml
// knows, and some it does not, by a rule, a style attribute or a script,
// over the boxes its fix-ups rebuild (tables, lists, ::before and ::after):
// every page draws.
TEST_F(PageFuzzTest, EveryDisplayOnAnyElementDraws) {
    static const char* const kDisplays[] = {
        "none", "block", "inline", "inline-block", "inline-table", "list-item", "table", "table-caption",
        "table-cell", "table-column", "table-column-group", "table-footer-group", "table-header-group",
        "table-row", "table-row-group", "inline-text", "flex", "contents"};
    static const char* const kSelectors[] = {
        "html", ":root", "*", "body", "head", "div", "span", "p", "li", "ol", "td", "tr", "table", "caption",
        "b", "p::before", "div::after", "body > *", "html, body", "li:first-child", "td + td"};
    static const char* const kBodies[] = {
        "<div>a<span>b</span><p>c</p></div>",
        "<table><caption>k</caption><tr><td colspan=2>x<td rowspan=0>y</tr><tr><th>z</table>",
        "<ol start=3><li>one<li>two</ol><ul><li>three<li style='list-style:upper-roman'>four</ul>",
        "<div style='float:left'>f</div><span style='position:absolute'>p</span> text <b>bold</b>",
        "<p>para<div>block in</div>tail</p><table><tr><td><table><tr><td>in</table></table>",
    };
    std::mt19937 random(20240612);
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    auto display = [&] { return std::string(kDisplays[pick(std::size(kDisplays))]); };
    auto view = webViewWithDelegate();
    auto base = url("http://fuzz.example.com/page.html");
    size_t rootPieces = 0;
    for (int i = 0; i < 60; ++i) {
        std::string sheet, root = "<html>", script;
        for (int rules = 1 + static_cast<int>(pick(4)); rules > 0; --rules) {
            const std::string selector = kSelectors[pick(std::size(kSelectors))];
            static const char* const kAlso[] = {"", "float:left", "position:absolute", "position:fixed",
                                                "list-style-type:upper-roman", "overflow:hidden", "width:10%"};
            sheet += selector + " { display: " + display() + (pick(3) ? "" : " !important") + "; content: 'x'; " +
                     kAlso[pick(std::size(kAlso))] + " }\n";
            rootPieces += selector == "html" || selector == ":root" || selector == "*" || selector == "html, body";
        }
        if (pick(3) == 0) {
            root = "<html style='display:" + display() + "'>";
            ++rootPieces;
        }
        if (pick(3) == 0) {
            script = "<script>var all = document.querySelectorAll('*'); all[" + std::to_string(pick(12)) +
                     " % all.length].style.display = '" + display() + "';</script>";
            if (pick(2) == 0) {
                script += "<script>document.documentElement.style.display = '" + display() + "';</script>";
                ++rootPieces;
            }
        }
        std::string body = kBodies[pick(std::size(kBodies))];
        if (i % 3 == 0) body = mutate(body, random);
        view->loadHTMLString(root + "<style>" + sheet + "</style>" + body + script, base);
        pump();
        ASSERT_FALSE(view->isLoading());
        ASSERT_TRUE(view->renderToPNG(home() + "/page.png")) << sheet << body;
    }
    EXPECT_GT(rootPieces, 30u);
}

TEST_F(PageFuzzTest, RandomBytesParse) {
    std::mt19937 random(7);
    for (int i = 0; i < 400; ++i) {
        std::string bytes(std::uniform_int_distribution<size_t>(0, 2048)(random), '\0');
        for (char& c : bytes) c = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(random));
        // A bias toward markup characters reaches more of the parser.
        for (size_t k = 0; k < bytes.size(); k += 7) bytes[k] = "<>/=\"' &!-"[k % 10];
        std::string nodes = platform::web::parseHTMLToNodeList(bytes, i % 3 ? std::nullopt
                                                                             : std::optional<std::string_view>("td"));
        ASSERT_EQ(nodes.front(), '[');
        ASSERT_EQ(nodes.back(), ']');
    }
}

}  // namespace

namespace {

std::string repeat(const std::string& piece, size_t bytes) {
    std::string out;
    while (out.size() < bytes) out += piece;
    return out;
}

// Markup built to make a parser slow (quadratic scope walks, attribute
// checks, formatting-element lists) must still parse promptly and bounded.
TEST(HostileMarkup, ParsesBounded) {
    const size_t size = platform::web::kMaximumDocumentBytes / 4;  // every limit is reached well before
    std::vector<std::string> pages = {
        repeat("<div>", size),
        repeat("<b id=x>", size),
        repeat("<a>", size),
        repeat("<table>", size),
        repeat("<table><tr><td>", size),
        repeat("<ul><li>", size),
        repeat("<font color=red><i>", size),
        "<p " + repeat(" a", size) + ">",
        "<p " + repeat(" a=1", size) + ">",
        repeat("</p>", size),
        repeat("<td>", size),
        repeat("<svg>", size),
        repeat("<select><option>", size),
        repeat("<p>x", size),
    };
    for (const std::string& page : pages) {
        std::string nodes = platform::web::parseHTMLToNodeList(page);
        EXPECT_EQ(nodes.front(), '[');
    }
}

}  // namespace
