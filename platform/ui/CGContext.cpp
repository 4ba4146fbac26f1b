#include "platform/ui/CGContext.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "platform/ui/CairoContext.h"

namespace platform {

namespace {

constexpr double kTurn = 2 * std::numbers::pi;
// Far enough to cover any surface we make, small enough for cairo's fixed point.
constexpr double kFar = 1e6;

bool finite(std::initializer_list<double> values) {
    for (double v : values)
        if (!std::isfinite(v)) return false;
    return true;
}

// Runs `draw` without disturbing the context's current path.
template <class F> void keepingPath(cairo_t* cr, F draw) {
    cairo_path_t* saved = cairo_copy_path(cr);
    cairo_new_path(cr);
    draw();
    cairo_new_path(cr);
    if (saved->status == CAIRO_STATUS_SUCCESS) cairo_append_path(cr, saved);
    cairo_path_destroy(saved);
}

std::vector<CGContextRef>& contextStack() {
    static std::vector<CGContextRef> stack;
    return stack;
}

}  // namespace

// ---- CGContext and its cairo side -------------------------------------------------

CGContext::CGContext(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
CGContext::~CGContext() = default;
const std::vector<DrawOperation>& CGContext::operations() const { return impl_->operations; }

CGContext::Impl::~Impl() {
    if (cr) cairo_destroy(cr);
}

std::unique_ptr<CGContext> CGContext::Impl::wrap(cairo_t* cr) {
    auto impl = std::make_unique<Impl>();
    impl->cr = cairo_reference(cr);
    return std::make_unique<CGContext>(std::move(impl));
}

std::unique_ptr<CGContext> CGContext::Impl::create(CGSize size, CGFloat scale, bool opaque, CGPoint origin) {
    auto impl = std::make_unique<Impl>();
    impl->origin = origin;
    impl->size = {std::max<CGFloat>(0, std::isfinite(size.width) ? size.width : 0),
                  std::max<CGFloat>(0, std::isfinite(size.height) ? size.height : 0)};
    impl->scale = (scale > 0 && std::isfinite(scale)) ? scale : 1;
    impl->opaque = opaque;
    return std::make_unique<CGContext>(std::move(impl));
}

int CGContext::Impl::pixelWidth() const {
    return static_cast<int>(std::min(16384.0, std::ceil(double(size.width) * scale)));
}
int CGContext::Impl::pixelHeight() const {
    return static_cast<int>(std::min(16384.0, std::ceil(double(size.height) * scale)));
}

cairo_t* CGContext::Impl::cairo() {
    if (!cr) {
        surface = std::make_shared<CairoSurface>(
            cairo_image_surface_create(CAIRO_FORMAT_ARGB32, std::max(1, pixelWidth()), std::max(1, pixelHeight())));
        cr = cairo_create(surface->surface);
        cairo_scale(cr, scale, scale);
        if (std::isfinite(origin.x) && std::isfinite(origin.y)) cairo_translate(cr, -origin.x, -origin.y);
        if (opaque) {
            cairo_set_source_rgb(cr, 0, 0, 0);
            cairo_paint(cr);
        }
        cairo_set_line_width(cr, 1);
    }
    return cr;
}

void CGContext::Impl::record(const char* name, std::initializer_list<CGFloat> arguments) {
    operations.push_back({name, std::vector<CGFloat>(arguments)});
}

void CGContext::Impl::setSource(const CGColor& c) { cairo_set_source_rgba(cairo(), c.red, c.green, c.blue, c.alpha); }

void appendArc(cairo_t* cr, double cx, double cy, double radius, double start, double end, bool increasing) {
    if (!finite({cx, cy, radius, start, end}) || radius < 0) return;
    constexpr double kSame = 1e-6;
    if (std::fabs(end - start) <= kSame) return;
    // Move the end by whole turns until it lies beyond the start in the
    // drawing direction (a start and end a whole turn apart give a circle).
    if (increasing) {
        if (end - start > kSame) end = start + std::fmod(end - start, kTurn);
        while (end - start <= kSame) end += kTurn;
        cairo_arc(cr, cx, cy, radius, start, end);
    } else {
        if (start - end > kSame) end = start - std::fmod(start - end, kTurn);
        while (start - end <= kSame) end -= kTurn;
        cairo_arc_negative(cr, cx, cy, radius, start, end);
    }
}

void appendEllipse(cairo_t* cr, CGRect rect) {
    CGRect r = CGRectStandardize(rect);
    if (!finite({r.origin.x, r.origin.y, r.size.width, r.size.height}) || r.size.width <= 0 || r.size.height <= 0)
        return;
    cairo_matrix_t saved;
    cairo_get_matrix(cr, &saved);
    cairo_new_sub_path(cr);
    cairo_translate(cr, r.origin.x + r.size.width / 2.0, r.origin.y + r.size.height / 2.0);
    cairo_scale(cr, r.size.width / 2.0, r.size.height / 2.0);
    cairo_arc(cr, 0, 0, 1, 0, kTurn);
    cairo_close_path(cr);
    cairo_set_matrix(cr, &saved);
}

void appendRoundedRect(cairo_t* cr, double x, double y, double w, double h, double radius) {
    if (!finite({x, y, w, h, radius}) || w <= 0 || h <= 0) return;
    double r = std::clamp(radius, 0.0, std::min(w, h) / 2);
    if (r <= 0) {
        cairo_rectangle(cr, x, y, w, h);
        return;
    }
    constexpr double q = kTurn / 4;
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -q, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, q);
    cairo_arc(cr, x + r, y + h - r, r, q, 2 * q);
    cairo_arc(cr, x + r, y + r, r, 2 * q, 3 * q);
    cairo_close_path(cr);
}

// ---- images ----------------------------------------------------------------------

CGImageRef imageFromSurface(cairo_surface_t* surface) {
    cairo_surface_flush(surface);
    auto image = std::make_shared<CGImage>();
    image->width = static_cast<size_t>(cairo_image_surface_get_width(surface));
    image->height = static_cast<size_t>(cairo_image_surface_get_height(surface));
    int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    image->pixels.resize(image->width * image->height);
    for (size_t y = 0; y < image->height && data; ++y)
        std::memcpy(&image->pixels[y * image->width], data + y * static_cast<size_t>(stride), image->width * 4);
    return image;
}

cairo_surface_t* surfaceFromImage(const CGImage& image) {
    if (image.placeholder || image.width == 0 || image.height == 0 || image.pixels.size() < image.width * image.height)
        return nullptr;
    // Rows of premultiplied ARGB are what cairo's ARGB32 images hold: the
    // surface reads the image's pixels in place (it is only ever a source).
    const int width = static_cast<int>(image.width);
    if (cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, width) != width * 4) return nullptr;
    auto* data = reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(image.pixels.data()));
    cairo_surface_t* s =
        cairo_image_surface_create_for_data(data, CAIRO_FORMAT_ARGB32, width, static_cast<int>(image.height), width * 4);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    return s;
}

void paintImage(cairo_t* cr, const CGImage& image, CGRect rect, double alpha) {
    CGRect r = CGRectStandardize(rect);
    if (!finite({r.origin.x, r.origin.y, r.size.width, r.size.height}) || r.size.width <= 0 || r.size.height <= 0)
        return;
    cairo_save(cr);
    cairo_rectangle(cr, r.origin.x, r.origin.y, r.size.width, r.size.height);
    cairo_clip(cr);
    cairo_surface_t* s = surfaceFromImage(image);
    if (!s) {
        cairo_set_source_rgba(cr, 0.5, 0.5, 0.5, 1);  // recognised but not decoded
        cairo_paint_with_alpha(cr, alpha);
    } else {
        cairo_translate(cr, r.origin.x, r.origin.y);
        cairo_scale(cr, r.size.width / double(image.width), r.size.height / double(image.height));
        cairo_set_source_surface(cr, s, 0, 0);
        cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
        cairo_paint_with_alpha(cr, alpha);
        cairo_surface_destroy(s);
    }
    cairo_restore(cr);
}

// ---- colour spaces and gradients ---------------------------------------------------

CGColorSpaceRef CGColorSpaceCreateDeviceRGB() {
    // Never destroyed: other threads may use it during exit.
    static const CGColorSpaceRef& space = *new CGColorSpaceRef(std::make_shared<const CGColorSpace>());
    return space;
}

namespace {
CGGradientRef makeGradient(std::vector<CGColor> colors, const CGFloat* locations) {
    if (colors.empty()) return nullptr;
    auto g = std::make_shared<CGGradient>();
    size_t n = colors.size();
    for (size_t i = 0; i < n; ++i) {
        CGFloat at = locations ? locations[i] : (n == 1 ? 0 : CGFloat(double(i) / double(n - 1)));
        g->locations.push_back(std::isfinite(at) ? std::clamp<CGFloat>(at, 0, 1) : 0);
    }
    g->colors = std::move(colors);
    return g;
}

void addStops(cairo_pattern_t* pattern, const CGGradient& g) {
    for (size_t i = 0; i < g.colors.size(); ++i) {
        const CGColor& c = g.colors[i];
        cairo_pattern_add_color_stop_rgba(pattern, g.locations[i], c.red, c.green, c.blue, c.alpha);
    }
}
}  // namespace

CGGradientRef CGGradientCreateWithColors(const CGColorSpaceRef&, const std::vector<CGColorRef>& colors,
                                         const CGFloat* locations) {
    std::vector<CGColor> values;
    for (const auto& c : colors) values.push_back(c ? *c : CGColor{0, 0, 0, 0});
    return makeGradient(std::move(values), locations);
}

CGGradientRef CGGradientCreateWithColorComponents(const CGColorSpaceRef&, const CGFloat* components,
                                                  const CGFloat* locations, size_t count) {
    if (!components) return nullptr;
    std::vector<CGColor> values;
    for (size_t i = 0; i < count; ++i)
        values.push_back({components[4 * i], components[4 * i + 1], components[4 * i + 2], components[4 * i + 3]});
    return makeGradient(std::move(values), locations);
}

// ---- the drawing functions ----------------------------------------------------------

void CGContextSaveGState(CGContextRef c) {
    if (!c) return;
    auto& i = c->impl();
    i.record("CGContextSaveGState", {});
    cairo_save(i.cairo());
    i.colourStack.push_back(i.colours());
}

void CGContextRestoreGState(CGContextRef c) {
    if (!c) return;
    auto& i = c->impl();
    i.record("CGContextRestoreGState", {});
    if (i.colourStack.size() <= 1) return;  // unbalanced: ignored
    cairo_restore(i.cairo());
    i.colourStack.pop_back();
}

void CGContextSetFillColorWithColor(CGContextRef c, const CGColorRef& color) {
    if (!c || !color) return;
    c->impl().record("CGContextSetFillColorWithColor", {color->red, color->green, color->blue, color->alpha});
    c->impl().colours().fill = *color;
}

void CGContextSetStrokeColorWithColor(CGContextRef c, const CGColorRef& color) {
    if (!c || !color) return;
    c->impl().record("CGContextSetStrokeColorWithColor", {color->red, color->green, color->blue, color->alpha});
    c->impl().colours().stroke = *color;
}

void CGContextSetRGBFillColor(CGContextRef c, CGFloat r, CGFloat g, CGFloat b, CGFloat a) {
    if (!c) return;
    c->impl().record("CGContextSetRGBFillColor", {r, g, b, a});
    c->impl().colours().fill = {r, g, b, a};
}

void CGContextSetRGBStrokeColor(CGContextRef c, CGFloat r, CGFloat g, CGFloat b, CGFloat a) {
    if (!c) return;
    c->impl().record("CGContextSetRGBStrokeColor", {r, g, b, a});
    c->impl().colours().stroke = {r, g, b, a};
}

void CGContextSetLineWidth(CGContextRef c, CGFloat width) {
    if (!c) return;
    c->impl().record("CGContextSetLineWidth", {width});
    if (std::isfinite(width)) cairo_set_line_width(c->impl().cairo(), std::max<CGFloat>(0, width));
}

void CGContextSetLineCap(CGContextRef c, CGLineCap cap) {
    if (!c) return;
    c->impl().record("CGContextSetLineCap", {CGFloat(cap)});
    cairo_line_cap_t value = cap == kCGLineCapRound    ? CAIRO_LINE_CAP_ROUND
                             : cap == kCGLineCapSquare ? CAIRO_LINE_CAP_SQUARE
                                                       : CAIRO_LINE_CAP_BUTT;
    cairo_set_line_cap(c->impl().cairo(), value);
}

void CGContextBeginPath(CGContextRef c) {
    if (!c) return;
    c->impl().record("CGContextBeginPath", {});
    cairo_new_path(c->impl().cairo());
}

void CGContextMoveToPoint(CGContextRef c, CGFloat x, CGFloat y) {
    if (!c) return;
    c->impl().record("CGContextMoveToPoint", {x, y});
    if (finite({x, y})) cairo_move_to(c->impl().cairo(), x, y);
}

void CGContextAddLineToPoint(CGContextRef c, CGFloat x, CGFloat y) {
    if (!c) return;
    c->impl().record("CGContextAddLineToPoint", {x, y});
    if (finite({x, y})) cairo_line_to(c->impl().cairo(), x, y);
}

void CGContextAddRect(CGContextRef c, CGRect r) {
    if (!c) return;
    c->impl().record("CGContextAddRect", {r.origin.x, r.origin.y, r.size.width, r.size.height});
    if (finite({r.origin.x, r.origin.y, r.size.width, r.size.height}))
        cairo_rectangle(c->impl().cairo(), r.origin.x, r.origin.y, r.size.width, r.size.height);
}

void CGContextAddEllipseInRect(CGContextRef c, CGRect r) {
    if (!c) return;
    c->impl().record("CGContextAddEllipseInRect", {r.origin.x, r.origin.y, r.size.width, r.size.height});
    appendEllipse(c->impl().cairo(), r);
}

void CGContextAddArc(CGContextRef c, CGFloat x, CGFloat y, CGFloat radius, CGFloat startAngle, CGFloat endAngle,
                     int clockwise) {
    if (!c) return;
    c->impl().record("CGContextAddArc", {x, y, radius, startAngle, endAngle, CGFloat(clockwise)});
    appendArc(c->impl().cairo(), x, y, radius, startAngle, endAngle, clockwise == 0);
}

void CGContextClosePath(CGContextRef c) {
    if (!c) return;
    c->impl().record("CGContextClosePath", {});
    cairo_close_path(c->impl().cairo());
}

void CGContextFillPath(CGContextRef c) {
    if (!c) return;
    auto& i = c->impl();
    i.record("CGContextFillPath", {});
    i.setSource(i.colours().fill);
    cairo_fill(i.cairo());
}

void CGContextStrokePath(CGContextRef c) {
    if (!c) return;
    auto& i = c->impl();
    i.record("CGContextStrokePath", {});
    i.setSource(i.colours().stroke);
    cairo_stroke(i.cairo());
}

namespace {
enum class Paint { Fill, Stroke, Clip };

// A one-shape call (rectangle or ellipse) that leaves the current path alone.
void paintShape(CGContextRef c, const char* name, CGRect r, bool ellipse, Paint paint) {
    if (!c) return;
    auto& i = c->impl();
    i.record(name, {r.origin.x, r.origin.y, r.size.width, r.size.height});
    if (!finite({r.origin.x, r.origin.y, r.size.width, r.size.height})) return;
    keepingPath(i.cairo(), [&] {
        if (ellipse)
            appendEllipse(i.cr, r);
        else
            cairo_rectangle(i.cr, r.origin.x, r.origin.y, r.size.width, r.size.height);
        if (paint == Paint::Clip) return cairo_clip(i.cr);
        i.setSource(paint == Paint::Fill ? i.colours().fill : i.colours().stroke);
        paint == Paint::Fill ? cairo_fill(i.cr) : cairo_stroke(i.cr);
    });
}
}  // namespace

void CGContextFillRect(CGContextRef c, CGRect r) { paintShape(c, "CGContextFillRect", r, false, Paint::Fill); }
void CGContextFillEllipseInRect(CGContextRef c, CGRect r) {
    paintShape(c, "CGContextFillEllipseInRect", r, true, Paint::Fill);
}
void CGContextStrokeEllipseInRect(CGContextRef c, CGRect r) {
    paintShape(c, "CGContextStrokeEllipseInRect", r, true, Paint::Stroke);
}
void CGContextClipToRect(CGContextRef c, CGRect r) { paintShape(c, "CGContextClipToRect", r, false, Paint::Clip); }

void CGContextDrawLinearGradient(CGContextRef c, const CGGradientRef& gradient, CGPoint start, CGPoint end,
                                 CGGradientDrawingOptions options) {
    if (!c) return;
    auto& i = c->impl();
    i.record("CGContextDrawLinearGradient", {start.x, start.y, end.x, end.y, CGFloat(options)});
    double dx = double(end.x) - start.x, dy = double(end.y) - start.y;
    double length = std::hypot(dx, dy);
    if (!gradient || !finite({start.x, start.y, end.x, end.y}) || length == 0) return;
    cairo_t* cr = i.cairo();
    keepingPath(cr, [&] {
        cairo_save(cr);
        cairo_pattern_t* pattern = cairo_pattern_create_linear(start.x, start.y, end.x, end.y);
        addStops(pattern, *gradient);
        cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
        cairo_set_source(cr, pattern);
        cairo_pattern_destroy(pattern);
        // Paint only the band between the end points, widened by the options.
        cairo_translate(cr, start.x, start.y);
        cairo_rotate(cr, std::atan2(dy, dx));
        double from = (options & kCGGradientDrawsBeforeStartLocation) ? -kFar : 0;
        double to = (options & kCGGradientDrawsAfterEndLocation) ? kFar : length;
        cairo_rectangle(cr, from, -kFar, to - from, 2 * kFar);
        cairo_clip(cr);
        cairo_paint(cr);
        cairo_restore(cr);
    });
}

void CGContextDrawRadialGradient(CGContextRef c, const CGGradientRef& gradient, CGPoint startCenter,
                                 CGFloat startRadius, CGPoint endCenter, CGFloat endRadius,
                                 CGGradientDrawingOptions options) {
    if (!c) return;
    auto& i = c->impl();
    i.record("CGContextDrawRadialGradient", {startCenter.x, startCenter.y, startRadius, endCenter.x, endCenter.y,
                                             endRadius, CGFloat(options)});
    if (!gradient || !finite({startCenter.x, startCenter.y, startRadius, endCenter.x, endCenter.y, endRadius}) ||
        startRadius < 0 || endRadius < 0 || (startRadius == 0 && endRadius == 0))
        return;
    cairo_t* cr = i.cairo();
    keepingPath(cr, [&] {
        cairo_save(cr);
        cairo_pattern_t* pattern =
            cairo_pattern_create_radial(startCenter.x, startCenter.y, startRadius, endCenter.x, endCenter.y, endRadius);
        addStops(pattern, *gradient);
        cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
        cairo_set_source(cr, pattern);
        cairo_pattern_destroy(pattern);
        if (!(options & kCGGradientDrawsAfterEndLocation)) {
            cairo_new_path(cr);
            cairo_arc(cr, endCenter.x, endCenter.y, endRadius, 0, kTurn);
            cairo_clip(cr);
        }
        if (!(options & kCGGradientDrawsBeforeStartLocation) && startRadius > 0) {
            cairo_new_path(cr);
            cairo_rectangle(cr, -kFar, -kFar, 2 * kFar, 2 * kFar);
            cairo_arc_negative(cr, startCenter.x, startCenter.y, startRadius, kTurn, 0);
            cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
            cairo_clip(cr);
        }
        cairo_paint(cr);
        cairo_restore(cr);
    });
}

void CGContextDrawImage(CGContextRef c, CGRect rect, const CGImageRef& image) {
    if (!c) return;
    auto& i = c->impl();
    i.record("CGContextDrawImage", {rect.origin.x, rect.origin.y, rect.size.width, rect.size.height});
    if (image) paintImage(i.cairo(), *image, rect, 1.0);
}

CGContextRef UIGraphicsGetCurrentContext() {
    auto& stack = contextStack();
    return stack.empty() ? nullptr : stack.back();
}

void UIGraphicsPushContext(CGContextRef c) { contextStack().push_back(c); }

void UIGraphicsPopContext() {
    auto& stack = contextStack();
    if (!stack.empty()) stack.pop_back();
}

}  // namespace platform
