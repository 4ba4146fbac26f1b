// Internal: the cairo side of a CGContext (not part of the public headers).
// The surface is made on the first drawing call, so views whose drawRect
// draws nothing cost nothing.
#pragma once

#include <cairo.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/CGContext.h"

namespace platform {

// The label font's face (LabelFont.h), made once from its file; null when
// the file is missing (logged once). Any thread.
cairo_font_face_t* labelFontFace(bool bold);
// Fixed text rendering options, the same on every machine.
void applyLabelFontOptions(cairo_t* cr);
// The label font's face at `fontMatrix` (a size, maybe slanted) with those
// options, for measuring; null when the file is missing. The caller destroys it.
cairo_scaled_font_t* createLabelScaledFont(bool bold, const cairo_matrix_t& fontMatrix);
// The number of glyphs in the label font's face (0 when the file is missing).
size_t labelFontGlyphCount(bool bold);
// cairo keeps the last scaled fonts released (256 of them) with every glyph
// they made, pictures of glyphs included, in case they are asked for again:
// this pushes them all out with fonts that hold nothing, so what they held
// is freed. Any thread.
void releaseHeldScaledFonts();
// The text as cairo takes it: invalid UTF-8 bytes become U+FFFD (cairo
// refuses invalid UTF-8 and would then draw nothing more).
std::string labelFontText(std::string_view text);

// Owns a cairo surface reference.
struct CairoSurface {
    cairo_surface_t* surface = nullptr;
    explicit CairoSurface(cairo_surface_t* s) : surface(s) {}
    ~CairoSurface() {
        if (surface) cairo_surface_destroy(surface);
    }
    CairoSurface(const CairoSurface&) = delete;
    CairoSurface& operator=(const CairoSurface&) = delete;
};

struct CGContext::Impl {
    CGSize size;        // points
    CGFloat scale = 1;  // pixels per point
    CGPoint origin;     // user-space point at the image's top left
    bool opaque = false;
    std::shared_ptr<CairoSurface> surface;
    cairo_t* cr = nullptr;
    std::vector<DrawOperation> operations;
    struct Colours {
        CGColor fill{0, 0, 0, 1};
        CGColor stroke{0, 0, 0, 1};
    };
    std::vector<Colours> colourStack{Colours{}};

    ~Impl();
    // A context over an image of size × scale pixels (rounded up) whose top
    // left is `origin` in user space.
    static std::unique_ptr<CGContext> create(CGSize size, CGFloat scale, bool opaque, CGPoint origin = {});
    // A context drawing into an existing cairo context (snapshots).
    static std::unique_ptr<CGContext> wrap(cairo_t* cr);
    // The cairo context, making the surface on first use.
    cairo_t* cairo();
    bool hasSurface() const { return surface != nullptr; }
    void record(const char* name, std::initializer_list<CGFloat> arguments);
    Colours& colours() { return colourStack.back(); }
    void setSource(const CGColor& colour);
    // Pixel size of the backing image.
    int pixelWidth() const;
    int pixelHeight() const;
};

// Adds an arc to the current path. `increasing`: with increasing angle (y
// down). The end moves by whole turns in the drawing direction until it lies
// beyond the start; start == end and non-finite angles add nothing.
void appendArc(cairo_t* cr, double cx, double cy, double radius, double start, double end, bool increasing);
// Adds an ellipse inscribed in `rect` as a closed sub-path; nothing for an empty rect.
void appendEllipse(cairo_t* cr, CGRect rect);

// Adds a rectangle with rounded corners (radius clamped to half the shorter
// side; 0 gives a plain rectangle) as a closed sub-path.
void appendRoundedRect(cairo_t* cr, double x, double y, double w, double h, double radius);

// Copies a cairo image surface's pixels into a CGImage (premultiplied ARGB).
CGImageRef imageFromSurface(cairo_surface_t* surface);
// A cairo image surface reading the image's pixels in place (null for
// placeholders); the image must outlive it, and nothing may draw into it.
cairo_surface_t* surfaceFromImage(const CGImage& image);
// Paints `image` scaled into `rect` in the current user space of `cr`.
void paintImage(cairo_t* cr, const CGImage& image, CGRect rect, double alpha);

}  // namespace platform
