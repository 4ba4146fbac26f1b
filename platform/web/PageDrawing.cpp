#include "platform/web/PageDrawing.h"

#include <cmath>
#include <exception>
#include <stdexcept>
#include <string>

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
    const double scale = UIScreen::mainScreen()->scale();
    const int left = static_cast<int>(std::floor(shown.origin.x - bounds.origin.x));
    const int top = static_cast<int>(std::floor(shown.origin.y - bounds.origin.y));
    const int right = static_cast<int>(std::ceil(CGRectGetMaxX(shown) - bounds.origin.x));
    const int bottom = static_cast<int>(std::ceil(CGRectGetMaxY(shown) - bounds.origin.y));
    const int pixelsWide = static_cast<int>(std::ceil((right - left) * scale));
    const int pixelsHigh = static_cast<int>(std::ceil((bottom - top) * scale));
    if (pixelsWide <= 0 || pixelsHigh <= 0 || pixelsWide > 16384 || pixelsHigh > 16384) return;

    std::optional<std::string> markup = page.markupForDrawing();
    if (!markup) {
        log(LogLevel::Warning, "web view: the page is over " + std::to_string(kMaximumElements) + " elements or " +
                                   std::to_string(kMaximumMarkup) + " characters of markup; only its background is drawn");
        return;
    }
    if (markup->empty()) return;

    // The page is drawn on a picture of its own, put into the snapshot only
    // when all of it drew: a failure midway leaves nothing half drawn.
    CairoSurface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pixelsWide, pixelsHigh));
    cairo_t* pageCairo = cairo_create(surface.surface);
    cairo_scale(pageCairo, scale, scale);
    cairo_translate(pageCairo, -left, -top);
    std::string failure;
    try {
        // The container outlives the document, which hands its fonts back to it.
        PageContainer container(page.documentURL(), bounds.size);
        litehtml::document::ptr document =
            litehtml::document::createFromUTF8(markup->c_str(), &container, &userAgentContext());
        if (!document) throw std::runtime_error("nothing was parsed");
        document->render(width);
        litehtml::position clip(left, top, right - left, bottom - top);
        document->draw(reinterpret_cast<litehtml::uint_ptr>(pageCairo), 0, 0, &clip);
    } catch (const std::exception& e) {
        failure = e.what();
    }
    if (failure.empty() && cairo_status(pageCairo) != CAIRO_STATUS_SUCCESS)
        failure = cairo_status_to_string(cairo_status(pageCairo));
    cairo_destroy(pageCairo);
    if (!failure.empty()) {
        log(LogLevel::Warning, "web view: the page did not lay out (" + failure + "); only its background is drawn");
        return;
    }
    cairo_save(cr);
    cairo_rectangle(cr, bounds.origin.x, bounds.origin.y, bounds.size.width, bounds.size.height);
    cairo_clip(cr);
    cairo_translate(cr, bounds.origin.x + left, bounds.origin.y + top);
    cairo_scale(cr, 1 / scale, 1 / scale);
    cairo_set_source_surface(cr, surface.surface, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
}

}  // namespace platform::web
