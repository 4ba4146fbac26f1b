#include "platform/web/PageDrawing.h"

#include <gumbo.h>
#include <malloc.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/Log.h"
#include "platform/ui/CairoContext.h"
#include "platform/ui/UIScreen.h"
#include "platform/web/HTMLTree.h"
#include "platform/web/PageContainer.h"
#include "platform/web/PageEnvironment.h"

namespace platform::web {

namespace {

// The browser's own style sheet, as much of it as litehtml draws: which
// elements are blocks or hidden, margins, heading sizes, lists, tables,
// links, and replaced elements' default sizes. Every family is the label
// font (PageContainer).
constexpr const char* kUserAgentStyleSheet = R"CSS(
html, address, blockquote, body, center, dialog, div, figure, figcaption, footer, form, header, hr, legend,
listing, main, p, plaintext, pre, xmp, article, aside, h1, h2, h3, h4, h5, h6, hgroup, nav, section, dir, dd,
dl, dt, menu, ol, ul, fieldset, details, summary, option, optgroup { display: block; }
li { display: list-item; }
head, link, meta, script, style, title, template, noscript, datalist, area, base, param, audio, source, track,
[hidden], input[type="hidden"] { display: none; }
html { font-family: sans-serif; font-size: 16px; color: black; line-height: normal; }
body { margin: 8px; }
p, blockquote, figure, dl, ol, ul, menu, dir { margin-top: 1em; margin-bottom: 1em; }
blockquote, figure { margin-left: 40px; margin-right: 40px; }
dd { margin-left: 40px; }
h1 { font-size: 2em; margin: 0.67em 0; font-weight: bold; }
h2 { font-size: 1.5em; margin: 0.83em 0; font-weight: bold; }
h3 { font-size: 1.17em; margin: 1em 0; font-weight: bold; }
h4 { font-size: 1em; margin: 1.33em 0; font-weight: bold; }
h5 { font-size: 0.83em; margin: 1.67em 0; font-weight: bold; }
h6 { font-size: 0.67em; margin: 2.33em 0; font-weight: bold; }
b, strong, th, dt { font-weight: bold; }
i, em, cite, var, dfn, address { font-style: italic; }
u, ins { text-decoration: underline; }
s, strike, del { text-decoration: line-through; }
small { font-size: 0.83em; }
big { font-size: 1.17em; }
sub { vertical-align: sub; font-size: 0.83em; }
sup { vertical-align: super; font-size: 0.83em; }
pre, xmp, listing, plaintext { white-space: pre; margin: 1em 0; }
center { text-align: center; }
a[href] { color: #0000ee; text-decoration: underline; }
ol, ul, menu, dir { padding-left: 40px; }
ul, menu, dir { list-style-type: disc; }
ol { list-style-type: decimal; }
ul ul, ol ul { list-style-type: circle; }
hr { border: 1px solid #808080; margin: 0.5em 0; }
table { display: table; border-spacing: 2px; }
caption { display: table-caption; text-align: center; }
thead { display: table-header-group; }
tbody { display: table-row-group; }
tfoot { display: table-footer-group; }
tr { display: table-row; }
td, th { display: table-cell; padding: 1px; }
th { text-align: center; }
col { display: table-column; }
colgroup { display: table-column-group; }
img, button, input, select, textarea { display: inline-block; }
video, canvas, iframe, embed, object { display: inline-block; width: 300px; height: 150px; }
)CSS";

litehtml::context& userAgentContext() {
    static auto* context = [] {
        auto* c = new litehtml::context();
        c->load_master_stylesheet(kUserAgentStyleSheet);
        return c;
    }();
    return *context;
}

// ---- the page without its content --------------------------------------------------------------

bool isPlainName(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == ':';
    });
}

void appendStartTag(std::string& out, const GumboElement& element, const char* name) {
    out += '<';
    out += name;
    for (unsigned i = 0; i < element.attributes.length; ++i) {
        const auto* attribute = static_cast<const GumboAttribute*>(element.attributes.data[i]);
        if (!isPlainName(attribute->name)) continue;
        out += ' ';
        out += attribute->name;
        out += "=\"";
        for (const char* c = attribute->value; *c; ++c) {
            if (*c == '&') out += "&amp;";
            else if (*c == '"') out += "&quot;";
            else out += *c;
        }
        out += '"';
    }
    out += '>';
}

// What the page's background is drawn from (kBackgroundElements): its root
// and body with their attributes, and its style sheets (style elements,
// linked sheets and the base they resolve against), wherever they stood;
// nothing of its content.
std::string backgroundMarkup(const std::string& markup) {
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, markup.data(), markup.size());
    std::string head, html = "<html>", body = "<body>";
    std::vector<const GumboNode*> pending{output->root};
    while (!pending.empty()) {
        const GumboNode* node = pending.back();
        pending.pop_back();
        if (node->type != GUMBO_NODE_ELEMENT) continue;
        const GumboElement& element = node->v.element;
        const char* name = gumbo_normalized_tagname(element.tag);
        if (element.tag == GUMBO_TAG_HTML) {
            html.clear();
            appendStartTag(html, element, name);
        } else if (element.tag == GUMBO_TAG_BODY) {
            body.clear();
            appendStartTag(body, element, name);
        } else if (std::ranges::find(PageDrawing::kBackgroundElements, std::string_view(name)) !=
                   PageDrawing::kBackgroundElements.end()) {
            appendStartTag(head, element, name);
            if (element.tag == GUMBO_TAG_STYLE) {
                for (unsigned i = 0; i < element.children.length; ++i) {
                    const auto* text = static_cast<const GumboNode*>(element.children.data[i]);
                    if (text->type == GUMBO_NODE_TEXT || text->type == GUMBO_NODE_WHITESPACE) head += text->v.text.text;
                }
                head += "</style>";
            }
        }
        // Children in document order: the last pushed is taken first.
        for (unsigned i = element.children.length; i-- > 0;)
            pending.push_back(static_cast<const GumboNode*>(element.children.data[i]));
    }
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    return html + "<head>" + head + "</head>" + body + "</body></html>";
}

// ---- painting ------------------------------------------------------------------------------------

// One page drawn onto a picture of its own (the part of the view the
// snapshot shows), put into the snapshot only when all of it drew: a
// failure midway leaves nothing half drawn.
struct Painting {
    Ref<NSURL> documentURL;
    CGSize viewport;
    int width, left, top, right, bottom;
    double scale;
    int pixelsWide, pixelsHigh;

    struct Outcome {
        std::shared_ptr<CairoSurface> picture;  // null when it did not draw
        std::optional<std::string> bound;       // the bound that stopped it
        std::string failure;                    // why it did not lay out
        size_t work = 0;                        // the steps charged
    };

    Outcome paint(const std::string& markup) const {
        Outcome outcome;
        auto picture = std::make_shared<CairoSurface>(
            cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pixelsWide, pixelsHigh));
        cairo_t* cr = cairo_create(picture->surface);
        cairo_scale(cr, scale, scale);
        cairo_translate(cr, -left, -top);
        try {
            // The container outlives the document, which hands its fonts back to it.
            PageContainer container(documentURL, viewport);
            try {
                litehtml::document::ptr document =
                    litehtml::document::createFromUTF8(markup.c_str(), &container, &userAgentContext());
                if (!document) throw std::runtime_error("nothing was parsed");
                document->render(width);
                litehtml::position clip(left, top, right - left, bottom - top);
                document->draw(reinterpret_cast<litehtml::uint_ptr>(cr), 0, 0, &clip);
            } catch (const PageContainer::BoundExceeded&) {
            }
            // A bound passed where nothing could throw shows here.
            outcome.bound = container.exceededBound();
            outcome.work = container.work();
        } catch (const std::exception& e) {
            outcome.failure = e.what();
        }
        if (outcome.failure.empty() && cairo_status(cr) != CAIRO_STATUS_SUCCESS)
            outcome.failure = cairo_status_to_string(cairo_status(cr));
        cairo_destroy(cr);
        if (outcome.failure.empty() && !outcome.bound) outcome.picture = std::move(picture);
        return outcome;
    }
};

// What the drawing's fonts made stays with cairo (the fonts it holds over)
// and what a large page's layout took with the allocator, in pieces too
// small to go back on their own: both are handed back.
void giveBackFreedMemory() {
    releaseHeldScaledFonts();
    malloc_trim(0);
}

size_t lastWork = 0;  // lastPageDrawingWork

}  // namespace

void PageDrawing::draw(CGContextRef context, const PageEnvironment& page, CGRect bounds) {
    const int width = static_cast<int>(std::floor(bounds.size.width));
    if (!context || width <= 0 || !(bounds.size.height > 0)) return;
    // Only the part of the view the snapshot shows is drawn (and the snapshot is bounded).
    cairo_t* cr = context->impl().cairo();
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    cairo_clip_extents(cr, &x0, &y0, &x1, &y1);
    CGRect shown = CGRectIntersection(bounds, CGRectMake(CGFloat(x0), CGFloat(y0), CGFloat(x1 - x0), CGFloat(y1 - y0)));
    if (CGRectIsNull(shown) || CGRectIsEmpty(shown)) return;
    Painting painting{page.documentURL(), bounds.size, width, 0, 0, 0, 0, UIScreen::mainScreen()->scale(), 0, 0};
    painting.left = static_cast<int>(std::floor(shown.origin.x - bounds.origin.x));
    painting.top = static_cast<int>(std::floor(shown.origin.y - bounds.origin.y));
    painting.right = static_cast<int>(std::ceil(CGRectGetMaxX(shown) - bounds.origin.x));
    painting.bottom = static_cast<int>(std::ceil(CGRectGetMaxY(shown) - bounds.origin.y));
    painting.pixelsWide = static_cast<int>(std::ceil((painting.right - painting.left) * painting.scale));
    painting.pixelsHigh = static_cast<int>(std::ceil((painting.bottom - painting.top) * painting.scale));
    if (painting.pixelsWide <= 0 || painting.pixelsHigh <= 0 || painting.pixelsWide > 16384 ||
        painting.pixelsHigh > 16384)
        return;

    PageEnvironment::DrawingMarkup drawing = page.markupForDrawing();
    if (drawing.markup.empty() && !drawing.bound) return;
    Painting::Outcome outcome;
    lastWork = 0;
    if (!drawing.bound) {
        outcome = painting.paint(drawing.markup);
        drawing.bound = outcome.bound;
        lastWork = outcome.work;
    }
    if (drawing.bound) {
        log(LogLevel::Warning, "web view: the page is over the drawing's bound of " + *drawing.bound +
                                   "; only its background is drawn");
        outcome = painting.paint(backgroundMarkup(drawing.markup));
    }
    drawing = {};
    giveBackFreedMemory();
    if (!outcome.failure.empty()) {
        log(LogLevel::Warning, "web view: the page did not lay out (" + outcome.failure + "); only its background is drawn");
        return;
    }
    if (!outcome.picture) return;
    cairo_save(cr);
    cairo_rectangle(cr, bounds.origin.x, bounds.origin.y, bounds.size.width, bounds.size.height);
    cairo_clip(cr);
    cairo_translate(cr, bounds.origin.x + painting.left, bounds.origin.y + painting.top);
    cairo_scale(cr, 1 / painting.scale, 1 / painting.scale);
    cairo_set_source_surface(cr, outcome.picture->surface, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
}

}  // namespace platform::web

namespace platform::testing {
PageDrawingWork lastPageDrawingWork() { return {web::lastWork, web::PageContainer::kMaximumWork}; }
void setPageDrawingTimeLimit(double seconds) { web::PageContainer::setDrawingTimeLimit(seconds); }
void setPageDrawingStepsBetweenTimeChecks(size_t steps) { web::PageContainer::setStepsBetweenTimeChecks(steps); }
}  // namespace platform::testing
