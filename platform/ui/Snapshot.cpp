#include "platform/ui/Snapshot.h"

#include <algorithm>
#include <cmath>

#include "platform/runtime/Log.h"
#include "platform/ui/CairoContext.h"
#include "platform/ui/UIPasses.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIView.h"

namespace platform {

namespace {

void setSource(cairo_t* cr, const CGColorRef& c) { cairo_set_source_rgba(cr, c->red, c->green, c->blue, c->alpha); }

// Draws `layer` in its superlayer's space.
void drawLayer(cairo_t* cr, CGContext& context, const Ref<CALayer>& layer) {
    if (layer->isHidden() || layer->opacity() <= 0) return;
    CGRect b = layer->bounds();
    CGPoint p = layer->position();
    CGAffineTransform t = layer->affineTransform();
    double w = b.size.width, h = b.size.height;

    cairo_save(cr);
    cairo_translate(cr, p.x, p.y);
    cairo_matrix_t m;
    cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.tx, t.ty);
    cairo_transform(cr, &m);
    cairo_translate(cr, -w / 2, -h / 2);
    // The layer's own space: (0, 0) is its bounds' top left.
    bool group = layer->opacity() < 1;
    if (group) cairo_push_group(cr);

    double radius = layer->cornerRadius();
    if (layer->masksToBounds()) {
        appendRoundedRect(cr, 0, 0, w, h, radius);
        cairo_clip(cr);
    }
    if (auto bg = layer->backgroundColor(); bg && bg->alpha > 0) {
        appendRoundedRect(cr, 0, 0, w, h, radius);
        setSource(cr, bg);
        cairo_fill(cr);
    }
    // Content and sublayers are drawn in bounds coordinates.
    cairo_save(cr);
    cairo_translate(cr, -b.origin.x, -b.origin.y);
    cairo_save(cr);
    layer->drawInContext(&context);  // e.g. a video layer's black
    cairo_restore(cr);
    if (auto view = layer->delegateView()) {
        cairo_save(cr);
        view->drawSnapshotContent(&context);
        cairo_restore(cr);
    }
    CGAffineTransform st = layer->sublayerTransform();
    if (!CGAffineTransformIsIdentity(st)) {
        cairo_matrix_t sm;
        cairo_matrix_init(&sm, st.a, st.b, st.c, st.d, st.tx, st.ty);
        cairo_transform(cr, &sm);
    }
    auto sublayers = layer->sublayers();
    std::stable_sort(sublayers.begin(), sublayers.end(),
                     [](const Ref<CALayer>& x, const Ref<CALayer>& y) { return x->zPosition() < y->zPosition(); });
    for (const auto& sub : sublayers) drawLayer(cr, context, sub);
    cairo_restore(cr);

    if (layer->borderWidth() > 0 && layer->borderColor()) {
        double bw = layer->borderWidth();
        appendRoundedRect(cr, bw / 2, bw / 2, w - bw, h - bw, radius - bw / 2);
        cairo_set_line_width(cr, bw);
        setSource(cr, layer->borderColor());
        cairo_stroke(cr);
    }
    if (group) {
        cairo_pop_group_to_source(cr);
        cairo_paint_with_alpha(cr, layer->opacity());
    }
    cairo_restore(cr);
}

}  // namespace

bool Snapshot::writePNG(const Ref<UIView>& root, const std::string& path) {
    if (!root) return false;
    UIPasses::layoutTree(root);
    UIPasses::displayTree(root);
    CGFloat scale = UIScreen::mainScreen()->scale();
    CGRect frame = root->frame();
    int w = static_cast<int>(std::ceil(std::max<CGFloat>(1, frame.size.width) * scale));
    int h = static_cast<int>(std::ceil(std::max<CGFloat>(1, frame.size.height) * scale));
    if (w > 16384 || h > 16384) {
        logError("renderToPNG: the view is too large to draw: " + NSStringFromCGRect(frame));
        return false;
    }
    CairoSurface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
    cairo_t* cr = cairo_create(surface.surface);
    cairo_scale(cr, scale, scale);
    // The root is drawn as it appears in its superview, moved to the origin.
    cairo_translate(cr, -frame.origin.x, -frame.origin.y);
    {
        auto context = CGContext::Impl::wrap(cr);
        drawLayer(cr, *context, root->layer());
    }
    cairo_destroy(cr);
    cairo_status_t status = cairo_surface_write_to_png(surface.surface, path.c_str());
    if (status != CAIRO_STATUS_SUCCESS) {
        logError("renderToPNG: cannot write " + path + ": " + cairo_status_to_string(status));
        return false;
    }
    return true;
}

}  // namespace platform
