#include "platform/web/PageContainer.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <climits>
#include <cmath>
#include <filesystem>
#include <limits>
#include <sstream>
#include <unordered_map>
#include <vector>

#include "platform/foundation/NSString.h"
#include "platform/runtime/SystemClock.h"
#include "platform/ui/CairoContext.h"
#include "platform/ui/UIScreen.h"
#include "platform/web/PageElements.h"
#include "platform/web/PageEnvironment.h"
#include "platform/web/PageStyleSheet.h"

namespace platform::web {

struct PageContainer::Font {
    bool bold = false;
    cairo_matrix_t matrix{};  // size, and a slant for italics
    cairo_scaled_font_t* scaled = nullptr;  // null without the label font: text is measured but not drawn
    // The font as the drawing's context draws it (at the drawing's scale),
    // held while the document lives so that its glyphs' pictures stay with it.
    cairo_scaled_font_t* shown = nullptr;
    double size = 0;
    unsigned int decoration = 0;
    litehtml::font_metrics metrics;
    // The glyphs drawn from pictures, by index: the square points each
    // picture covers, and its ink about the glyph's origin.
    struct Pictured {
        double area = 0;
        double left = 0, top = 0, right = 0, bottom = 0;
    };
    std::unordered_map<unsigned long, Pictured> pictured;
    // Glyphs measured and drawn, counted up to the face's number of glyphs:
    // as many as cairo may have to load from the face (for each font).
    size_t faceGlyphs = 0;
    size_t measuredGlyphs = 0;
    size_t drawnGlyphs = 0;
};

namespace {

constexpr double kPi = 3.14159265358979323846;

// Steps of work charged (PageContainer::charge) beside those of the
// elements: making a font; measuring a text (and a step per so many of its
// glyphs); loading a glyph from the face (the first so many glyphs of a font
// measured, and drawn, are charged so); drawing a text (and steps per glyph,
// per glyph filled as an outline and per square point of its rows within the
// view); painting (a step per so many square points, within the clips; a
// glyph's whole picture counts each time it is drawn, as cairo makes it
// whole); each clip in force when painting.
constexpr size_t kFontSteps = 400;
constexpr size_t kTextSteps = 8;
constexpr size_t kGlyphsMeasuredPerStep = 4;
constexpr size_t kGlyphLoadSteps = 32;
constexpr size_t kDrawnTextSteps = 128;
constexpr size_t kGlyphSteps = 2;
constexpr size_t kOutlineSteps = 160;
constexpr double kOutlineRowSteps = 16;
constexpr double kPaintedAreaPerStep = 16;

// cairo draws a glyph from a picture it makes of the whole glyph, and keeps
// it with the font (and a copy in its compositor's cache) as long as the
// font lives. Glyphs are drawn so up to kLargestGlyphPicture pixels of size,
// as long as a drawing's pictures take at most kGlyphPictureBytes (counting
// kGlyphPictureOverhead for each beside its pixels); others are filled as
// outlines, which cairo keeps as paths alone and paints within the clips.
constexpr double kLargestGlyphPicture = 256;
constexpr size_t kGlyphPictureBytes = 8u << 20;
constexpr size_t kGlyphPictureOverhead = 512;

PageContainer::Font* fontOf(litehtml::uint_ptr handle) { return reinterpret_cast<PageContainer::Font*>(handle); }
cairo_t* cairoOf(litehtml::uint_ptr hdc) { return reinterpret_cast<cairo_t*>(hdc); }

void setColour(cairo_t* cr, const litehtml::web_color& c) {
    cairo_set_source_rgba(cr, c.red / 255.0, c.green / 255.0, c.blue / 255.0, c.alpha / 255.0);
}

bool sameColour(const litehtml::web_color& a, const litehtml::web_color& b) {
    return a.red == b.red && a.green == b.green && a.blue == b.blue && a.alpha == b.alpha;
}

// Corner radii, scaled down together where they would overlap (as CSS does).
struct Radii {
    double topLeftX = 0, topLeftY = 0, topRightX = 0, topRightY = 0;
    double bottomRightX = 0, bottomRightY = 0, bottomLeftX = 0, bottomLeftY = 0;

    Radii() = default;
    Radii(const litehtml::border_radiuses& r, double w, double h)
        : topLeftX(r.top_left_x), topLeftY(r.top_left_y), topRightX(r.top_right_x), topRightY(r.top_right_y),
          bottomRightX(r.bottom_right_x), bottomRightY(r.bottom_right_y), bottomLeftX(r.bottom_left_x),
          bottomLeftY(r.bottom_left_y) {
        double f = 1;
        auto fit = [&](double a, double b, double side) {
            if (a + b > side && a + b > 0) f = std::min(f, std::max(0.0, side) / (a + b));
        };
        fit(topLeftX, topRightX, w);
        fit(bottomLeftX, bottomRightX, w);
        fit(topLeftY, bottomLeftY, h);
        fit(topRightY, bottomRightY, h);
        for (double* v : {&topLeftX, &topLeftY, &topRightX, &topRightY, &bottomRightX, &bottomRightY, &bottomLeftX,
                          &bottomLeftY})
            *v = std::max(0.0, *v * f);
    }
    // The radii of the edge `left`, `top`, `right`, `bottom` inside these.
    Radii inset(double left, double top, double right, double bottom) const {
        Radii r = *this;
        r.topLeftX = std::max(0.0, topLeftX - left);
        r.topLeftY = std::max(0.0, topLeftY - top);
        r.topRightX = std::max(0.0, topRightX - right);
        r.topRightY = std::max(0.0, topRightY - top);
        r.bottomRightX = std::max(0.0, bottomRightX - right);
        r.bottomRightY = std::max(0.0, bottomRightY - bottom);
        r.bottomLeftX = std::max(0.0, bottomLeftX - left);
        r.bottomLeftY = std::max(0.0, bottomLeftY - bottom);
        return r;
    }
};

// A quarter ellipse about (cx, cy) from angle a0 to a1; the point itself when flat.
void appendCorner(cairo_t* cr, double cx, double cy, double rx, double ry, double a0, double a1) {
    if (rx <= 0 || ry <= 0) {
        cairo_line_to(cr, cx + (rx > 0 ? std::cos(a1) * rx : 0), cy + (ry > 0 ? std::sin(a1) * ry : 0));
        return;
    }
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_scale(cr, rx, ry);
    cairo_arc(cr, 0, 0, 1, a0, a1);
    cairo_restore(cr);
}

// A box with elliptical corners as a closed sub-path; nothing when empty.
void appendBox(cairo_t* cr, double x, double y, double w, double h, const Radii& r) {
    if (!(w > 0) || !(h > 0)) return;
    cairo_new_sub_path(cr);
    appendCorner(cr, x + w - r.topRightX, y + r.topRightY, r.topRightX, r.topRightY, -kPi / 2, 0);
    appendCorner(cr, x + w - r.bottomRightX, y + h - r.bottomRightY, r.bottomRightX, r.bottomRightY, 0, kPi / 2);
    appendCorner(cr, x + r.bottomLeftX, y + h - r.bottomLeftY, r.bottomLeftX, r.bottomLeftY, kPi / 2, kPi);
    appendCorner(cr, x + r.topLeftX, y + r.topLeftY, r.topLeftX, r.topLeftY, kPi, 3 * kPi / 2);
    cairo_close_path(cr);
}

// Square points of a box; kWholeArea for what fills the clip.
double area(const litehtml::position& box) { return std::max(0.0, double(box.width)) * std::max(0.0, double(box.height)); }
constexpr double kWholeArea = 1e18;

// The width of a border side that is drawn.
double drawnWidth(const litehtml::border& b) {
    if (b.style == litehtml::border_style_none || b.style == litehtml::border_style_hidden) return 0;
    return std::max(0, b.width);
}

// The payload of a data URL: base64 or percent-escaped text.
std::optional<std::string> dataURLPayload(const std::string& text) {
    size_t comma = text.find(',');
    if (comma == std::string::npos) return std::nullopt;
    std::string meta = NSString::lowercaseString(text.substr(5, comma - 5));
    std::string payload = text.substr(comma + 1);
    if (meta.size() >= 7 && meta.compare(meta.size() - 7, 7, ";base64") == 0) {
        std::string encoded = removePercentEscapes(payload).value_or(payload);
        auto data = NSData::initWithBase64EncodedString(encoded, NSDataBase64DecodingIgnoreUnknownCharacters);
        if (!data) return std::nullopt;
        return data->toString();
    }
    return removePercentEscapes(payload);
}

}  // namespace

namespace {
// Main thread.
double gDrawingTimeLimit = PageContainer::kMaximumDrawingSeconds;
size_t gStepsBetweenTimeChecks = PageContainer::kStepsBetweenTimeChecks;
}  // namespace

PageContainer::PageContainer(Ref<NSURL> documentURL, CGSize viewport)
    : baseURL_(std::move(documentURL)),
      viewport_(viewport),
      nextTimeCheck_(gStepsBetweenTimeChecks),
      started_(SystemClock::threadProcessorSeconds()) {}

void PageContainer::setDrawingTimeLimit(double seconds) {
    gDrawingTimeLimit = seconds > 0 ? seconds : kMaximumDrawingSeconds;
}

void PageContainer::setStepsBetweenTimeChecks(size_t steps) {
    gStepsBetweenTimeChecks = steps > 0 ? steps : kStepsBetweenTimeChecks;
}

PageContainer::~PageContainer() {
    for (auto& [url, picture] : pictures_)
        if (picture.surface) cairo_surface_destroy(picture.surface);
}

// ---- bounds --------------------------------------------------------------------------------------

void PageContainer::pass(Bound bound) {
    if (exceeded_ == Bound::None) exceeded_ = bound;
}

void PageContainer::charge(size_t steps) {
    work_ += steps;
    if (work_ > kMaximumWork) pass(Bound::Work);
    if (work_ >= nextTimeCheck_) {
        nextTimeCheck_ = work_ + gStepsBetweenTimeChecks;
        if (SystemClock::threadProcessorSeconds() - started_ > gDrawingTimeLimit) pass(Bound::Time);
    }
    if (exceeded_ != Bound::None) throw BoundExceeded(*exceededBound());
}

void PageContainer::countStylePieces(size_t pieces) {
    stylePieces_ += pieces;
    if (stylePieces_ > kMaximumStylePieces) pass(Bound::StylePieces);
}

std::optional<std::string> PageContainer::exceededBound() const {
    switch (exceeded_) {
        case Bound::None: return std::nullopt;
        case Bound::Work: return std::to_string(kMaximumWork) + " steps of work";
        case Bound::Time: {
            std::ostringstream text;
            text << gDrawingTimeLimit << " s of processor time";
            return text.str();
        }
        case Bound::TextBoxes: return std::to_string(kMaximumTextBoxes) + " text boxes";
        case Bound::StylePieces: return std::to_string(kMaximumStylePieces) + " style rules, selectors and declarations";
    }
    return std::nullopt;
}

void PageContainer::split_text(const char* text, const std::function<void(const litehtml::tchar_t*)>& on_word,
                               const std::function<void(const litehtml::tchar_t*)>& on_space) {
    // Called while litehtml builds its tree, where nothing may throw: past the
    // bound no box is made, and the drawing stops at its next step.
    auto box = [this](const std::function<void(const litehtml::tchar_t*)>& make, const litehtml::tchar_t* piece) {
        if (++textBoxes_ > kMaximumTextBoxes) return pass(Bound::TextBoxes);
        make(piece);
    };
    document_container::split_text(
        text, [&](const litehtml::tchar_t* word) { box(on_word, word); },
        [&](const litehtml::tchar_t* space) { box(on_space, space); });
}

// ---- fonts and text ------------------------------------------------------------------------------

namespace {
// Of `glyphs` more glyphs of a font, those that may be new to it (`seen` of
// the face's `faceGlyphs` counted so far).
size_t loaded(size_t& seen, size_t faceGlyphs, size_t glyphs) {
    const size_t fresh = std::min(glyphs, faceGlyphs - std::min(faceGlyphs, seen));
    seen += fresh;
    return fresh;
}

void selectFont(cairo_t* cr, const PageContainer::Font& font) {
    cairo_set_font_face(cr, cairo_scaled_font_get_font_face(font.scaled));
    cairo_set_font_matrix(cr, &font.matrix);
    applyLabelFontOptions(cr);
}
}  // namespace

litehtml::uint_ptr PageContainer::create_font(const litehtml::tchar_t*, int size, int weight,
                                              litehtml::font_style italic, unsigned int decoration,
                                              litehtml::font_metrics* fm) {
    charge(kFontSteps);
    auto font = std::make_unique<Font>();
    font->bold = weight >= 600;
    font->size = std::clamp(size, 1, 1000);
    font->decoration = decoration;
    // The label font has no italic face: italics are the upright face slanted.
    double slant = italic == litehtml::fontStyleItalic ? -0.2 * font->size : 0;
    cairo_matrix_init(&font->matrix, font->size, 0, slant, font->size, 0, 0);
    font->scaled = createLabelScaledFont(font->bold, font->matrix);
    font->faceGlyphs = labelFontGlyphCount(font->bold);
    litehtml::font_metrics& m = font->metrics;
    if (font->scaled && cairo_scaled_font_status(font->scaled) == CAIRO_STATUS_SUCCESS) {
        cairo_font_extents_t extents;
        cairo_scaled_font_extents(font->scaled, &extents);
        cairo_text_extents_t x;
        cairo_scaled_font_text_extents(font->scaled, "x", &x);
        m.ascent = static_cast<int>(std::lround(extents.ascent));
        m.descent = static_cast<int>(std::lround(extents.descent));
        m.height = static_cast<int>(std::lround(extents.height));
        m.x_height = static_cast<int>(std::lround(-x.y_bearing));
    } else {
        // Without the font file: the fixed metrics labels fall back to.
        m.height = static_cast<int>(std::ceil(1.2 * font->size));
        m.ascent = static_cast<int>(std::lround(font->size * 0.9));
        m.descent = m.height - m.ascent;
        m.x_height = static_cast<int>(std::lround(font->size * 0.5));
    }
    if (fm) *fm = m;
    return reinterpret_cast<litehtml::uint_ptr>(font.release());
}

void PageContainer::delete_font(litehtml::uint_ptr hFont) {
    std::unique_ptr<Font> font(fontOf(hFont));
    if (font && font->scaled) cairo_scaled_font_destroy(font->scaled);
    if (font && font->shown) cairo_scaled_font_destroy(font->shown);
}

int PageContainer::text_width(const litehtml::tchar_t* text, litehtml::uint_ptr hFont) {
    Font* font = fontOf(hFont);
    if (!font || !text) return 0;
    std::string drawn = labelFontText(text);
    const size_t glyphs = NSString::length(drawn);
    charge(kTextSteps + glyphs / kGlyphsMeasuredPerStep +
           loaded(font->measuredGlyphs, font->faceGlyphs, glyphs) * kGlyphLoadSteps);
    if (!font->scaled) return static_cast<int>(std::lround(0.5 * font->size * double(glyphs)));
    cairo_text_extents_t extents;
    cairo_scaled_font_text_extents(font->scaled, drawn.c_str(), &extents);
    return static_cast<int>(std::lround(extents.x_advance));
}

void PageContainer::draw_text(litehtml::uint_ptr hdc, const litehtml::tchar_t* text, litehtml::uint_ptr hFont,
                              litehtml::web_color color, const litehtml::position& pos) {
    Font* font = fontOf(hFont);
    cairo_t* cr = cairoOf(hdc);
    if (!font || !text || !font->scaled || color.alpha == 0) return;
    std::string drawn = labelFontText(text);
    const double baseline = pos.bottom() - font->metrics.descent;
    // The font as the context draws it, and the text's glyphs placed as
    // cairo_show_text places them.
    cairo_save(cr);
    selectFont(cr, *font);
    if (cairo_scaled_font_t* shown = cairo_get_scaled_font(cr); shown != font->shown) {
        if (font->shown) cairo_scaled_font_destroy(font->shown);
        font->shown = cairo_scaled_font_reference(shown);
    }
    cairo_matrix_t ctm;
    cairo_get_matrix(cr, &ctm);
    cairo_restore(cr);
    const double scale = std::sqrt(std::fabs(ctm.xx * ctm.yy - ctm.xy * ctm.yx));
    cairo_glyph_t* placed = nullptr;
    int count = 0;
    if (cairo_scaled_font_text_to_glyphs(font->shown, pos.x, baseline, drawn.data(), static_cast<int>(drawn.size()),
                                         &placed, &count, nullptr, nullptr, nullptr) != CAIRO_STATUS_SUCCESS)
        return;
    std::unique_ptr<cairo_glyph_t, void (*)(cairo_glyph_t*)> owned(placed, cairo_glyph_free);
    // Pictures while they fit, outlines past them; charged by what each
    // costs to draw (an outline by the rows of it within the view).
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    cairo_clip_extents(cr, &x0, &y0, &x1, &y1);
    std::vector<cairo_glyph_t> pictures, outlines;
    double picturedArea = 0, outlinedRows = 0;
    const bool large = font->size * scale > kLargestGlyphPicture;
    // Only a picture that reaches into the view is drawn, as only an outline
    // that does is filled: text far longer than the view (one long word)
    // would otherwise be copied and handed to cairo whole. A picture lies
    // within a device pixel of its ink, on a pixel its origin rounds to.
    const double margin = scale > 0 ? 2 / scale : std::numeric_limits<double>::infinity();
    auto shows = [&](const cairo_glyph_t& glyph, const Font::Pictured& picture) {
        return glyph.x + picture.left - margin < x1 && glyph.x + picture.right + margin > x0 &&
               glyph.y + picture.top - margin < y1 && glyph.y + picture.bottom + margin > y0;
    };
    for (int i = 0; i < count; ++i) {
        const cairo_glyph_t& glyph = placed[i];
        auto known = large ? font->pictured.end() : font->pictured.find(glyph.index);
        if (known != font->pictured.end()) {
            if (shows(glyph, known->second)) pictures.push_back(glyph);
            picturedArea += known->second.area;
            continue;
        }
        cairo_text_extents_t ink;
        cairo_scaled_font_glyph_extents(font->shown, &glyph, 1, &ink);
        const double pixels = (std::ceil(ink.width * scale) + 2) * (std::ceil(ink.height * scale) + 2);
        const size_t bytes = static_cast<size_t>(pixels) + kGlyphPictureOverhead;
        if (!large && bytes <= kGlyphPictureBytes - glyphPictureBytes_) {
            // The budget and the work count every picture as before, drawn or not.
            glyphPictureBytes_ += bytes;
            const Font::Pictured picture{pixels / (scale * scale), ink.x_bearing, ink.y_bearing,
                                         ink.x_bearing + ink.width, ink.y_bearing + ink.height};
            font->pictured.emplace(glyph.index, picture);
            if (shows(glyph, picture)) pictures.push_back(glyph);
            picturedArea += picture.area;
            continue;
        }
        // Only what shows is filled (cairo walks a path's every edge down
        // each row it fills), and charged by the rows it fills.
        const double left = std::max(x0, glyph.x + ink.x_bearing);
        const double right = std::min(x1, glyph.x + ink.x_bearing + ink.width);
        const double top = std::max(y0, glyph.y + ink.y_bearing);
        const double bottom = std::min(y1, glyph.y + ink.y_bearing + ink.height);
        if (left < right && top < bottom) {
            outlines.push_back(glyph);
            outlinedRows += bottom - top;
        }
    }
    const size_t fresh = loaded(font->drawnGlyphs, font->faceGlyphs, size_t(count));
    charge(kDrawnTextSteps + size_t(count) * kGlyphSteps + fresh * kGlyphLoadSteps + outlines.size() * kOutlineSteps +
           static_cast<size_t>(outlinedRows * kOutlineRowSteps + picturedArea / kPaintedAreaPerStep));
    const double thickness = std::max(1.0, font->size / 16);
    const int lines = std::popcount(font->decoration & (litehtml::font_decoration_underline |
                                                        litehtml::font_decoration_linethrough |
                                                        litehtml::font_decoration_overline));
    const double lineWidth = lines > 0 ? text_width(text, hFont) : 0;
    beginDrawing(cr, lines * thickness * std::max(0.0, lineWidth));
    setColour(cr, color);
    selectFont(cr, *font);
    if (!pictures.empty()) cairo_show_glyphs(cr, pictures.data(), static_cast<int>(pictures.size()));
    // One by one: cairo fills a path within the bounds of all of it.
    for (const cairo_glyph_t& glyph : outlines) {
        cairo_new_path(cr);
        cairo_glyph_path(cr, &glyph, 1);
        cairo_fill(cr);
    }
    if (lines > 0) {
        auto line = [&](double y) {
            cairo_rectangle(cr, pos.x, y - thickness / 2, lineWidth, thickness);
            cairo_fill(cr);
        };
        if (font->decoration & litehtml::font_decoration_underline) line(baseline + thickness * 1.5);
        if (font->decoration & litehtml::font_decoration_linethrough) line(baseline - font->metrics.x_height / 2.0);
        if (font->decoration & litehtml::font_decoration_overline) line(baseline - font->metrics.ascent);
    }
    cairo_restore(cr);
}

int PageContainer::pt_to_px(int pt) const { return static_cast<int>(std::lround(pt * 96.0 / 72.0)); }
int PageContainer::get_default_font_size() const { return 16; }
const litehtml::tchar_t* PageContainer::get_default_font_name() const { return "sans-serif"; }

void PageContainer::transform_text(litehtml::tstring& text, litehtml::text_transform tt) {
    // ASCII letters only: other scripts keep their case.
    bool wordStart = true;
    for (char& c : text) {
        auto u = static_cast<unsigned char>(c);
        if (tt == litehtml::text_transform_uppercase || (tt == litehtml::text_transform_capitalize && wordStart))
            c = static_cast<char>(u < 0x80 ? std::toupper(u) : u);
        else if (tt == litehtml::text_transform_lowercase)
            c = static_cast<char>(u < 0x80 ? std::tolower(u) : u);
        wordStart = u < 0x80 && std::isspace(u);
    }
}

// ---- resources -----------------------------------------------------------------------------------

Ref<NSURL> PageContainer::resolve(const std::string& text, const std::string& base) const {
    std::string t = NSString::stringByTrimmingCharactersInSet(text, NSCharacterSet::whitespaceAndNewlineCharacterSet());
    if (t.empty()) return nullptr;
    // As the page's own links.
    return resolvePageURL(t, base.empty() ? baseURL_ : NSURL::URLWithString(base, baseURL_));
}

std::optional<std::string> PageContainer::readResource(const Ref<NSURL>& url) {
    if (!url || resourcesRead_ >= kMaximumResources) return std::nullopt;
    std::string scheme = NSString::lowercaseString(url->scheme());
    // Only what is at hand: drawing never waits for the network.
    if (scheme != "file" && scheme != "data") return std::nullopt;
    ++resourcesRead_;
    const size_t room = kMaximumResourceBytes - bytesRead_;
    if (room == 0) return std::nullopt;
    // Regular files only: a device or a pipe could keep the read waiting.
    std::error_code error;
    if (scheme == "file" && !std::filesystem::is_regular_file(url->path(), error)) return std::nullopt;
    std::optional<std::string> bytes =
        scheme == "file" ? readFilePrefix(url->path(), room + 1) : dataURLPayload(url->absoluteString());
    if (!bytes) return std::nullopt;
    // Every byte read counts, those of a resource refused as too large too.
    bytesRead_ += std::min(bytes->size(), room);
    if (bytes->size() > room) return std::nullopt;
    return bytes;
}

PageContainer::Picture* PageContainer::picture(const std::string& src, const std::string& base) {
    Ref<NSURL> url = resolve(src, base);
    if (!url) return nullptr;
    auto [it, added] = pictures_.try_emplace(url->absoluteString());
    Picture& picture = it->second;
    if (added) {
        if (std::optional<std::string> bytes = readResource(url)) {
            NSData data(bytes->data(), bytes->size());
            // The pixels count as the header announces them, whether the
            // decoding then succeeds or not.
            const uint64_t pixels = UIImage::decodedPixelCount(data);
            const bool fits = pixels <= kMaximumImagePixels - pixelsAnnounced_;
            pixelsAnnounced_ = fits ? pixelsAnnounced_ + pixels : kMaximumImagePixels;
            if (fits) picture.image = UIImage::imageWithData(data);
        }
    }
    return picture.image ? &picture : nullptr;
}

void PageContainer::load_image(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl, bool) {
    if (src) picture(src, baseurl ? baseurl : "");
}

void PageContainer::get_image_size(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl,
                                   litehtml::size& sz) {
    Picture* p = src ? picture(src, baseurl ? baseurl : "") : nullptr;
    CGSize size = p ? p->image->size() : CGSize{};
    sz.width = static_cast<int>(std::lround(std::min<double>(size.width, INT_MAX / 4)));
    sz.height = static_cast<int>(std::lround(std::min<double>(size.height, INT_MAX / 4)));
}

void PageContainer::import_css(litehtml::tstring& text, const litehtml::tstring& url, litehtml::tstring& baseurl) {
    Ref<NSURL> resolved = resolve(url, baseurl);
    if (!resolved) return;
    if (std::optional<std::string> sheet = readResource(resolved)) {
        TidiedStyle tidied = tidyStyleSheet(*sheet);
        countStylePieces(tidied.pieces);
        text = std::move(tidied.text);
    }
    baseurl = resolved->absoluteString();
}

void PageContainer::set_base_url(const litehtml::tchar_t* base_url) {
    if (Ref<NSURL> url = base_url ? resolve(base_url, "") : nullptr) baseURL_ = url;
}

// ---- painting ------------------------------------------------------------------------------------

void PageContainer::beginDrawing(cairo_t* cr, double paintedArea) {
    // Charged before anything changes: a throw leaves the context as it was.
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    cairo_clip_extents(cr, &x0, &y0, &x1, &y1);
    const double painted = std::min(paintedArea, std::max(0.0, x1 - x0) * std::max(0.0, y1 - y0));
    charge(1 + clips_.size() + static_cast<size_t>(painted / kPaintedAreaPerStep));
    cairo_save(cr);
    constexpr double kFar = 1e7;
    for (const Clip& clip : clips_) {
        double x = clip.validX ? clip.box.x : -kFar, w = clip.validX ? clip.box.width : 2 * kFar;
        double y = clip.validY ? clip.box.y : -kFar, h = clip.validY ? clip.box.height : 2 * kFar;
        cairo_new_path(cr);
        appendBox(cr, x, y, w, h, Radii(clip.radii, w, h));
        cairo_clip(cr);
    }
    cairo_new_path(cr);
}

void PageContainer::fillBox(cairo_t* cr, const litehtml::position& box, const litehtml::web_color& colour) {
    beginDrawing(cr, area(box));
    cairo_rectangle(cr, box.x, box.y, box.width, box.height);
    setColour(cr, colour);
    cairo_fill(cr);
    cairo_restore(cr);
}

void PageContainer::draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg) {
    cairo_t* cr = cairoOf(hdc);
    beginDrawing(cr, bg.is_root ? kWholeArea : area(bg.border_box));
    // The root's background is the canvas: it fills the view, whatever the root's size.
    if (!bg.is_root) {
        const litehtml::position& b = bg.border_box;
        appendBox(cr, b.x, b.y, b.width, b.height, Radii(bg.border_radius, b.width, b.height));
        cairo_clip(cr);
        cairo_rectangle(cr, bg.clip_box.x, bg.clip_box.y, bg.clip_box.width, bg.clip_box.height);
        cairo_clip(cr);
    }
    if (bg.color.alpha > 0) {
        setColour(cr, bg.color);
        cairo_paint(cr);
    }
    Picture* p = bg.image.empty() ? nullptr : picture(bg.image, bg.baseurl);
    double tileW = bg.image_size.width, tileH = bg.image_size.height;
    if (p && tileW >= 1 && tileH >= 1) {
        double x = bg.position_x, y = bg.position_y;
        const litehtml::position& c = bg.clip_box;
        if (bg.repeat == litehtml::background_repeat_repeat_x) cairo_rectangle(cr, c.x, y, c.width, tileH);
        else if (bg.repeat == litehtml::background_repeat_repeat_y) cairo_rectangle(cr, x, c.y, tileW, c.height);
        else if (bg.repeat == litehtml::background_repeat_no_repeat) cairo_rectangle(cr, x, y, tileW, tileH);
        else cairo_rectangle(cr, c.x, c.y, c.width, c.height);
        cairo_clip(cr);
        const CGImageRef& image = p->image->CGImage();
        if (!p->surface && image) p->surface = surfaceFromImage(*image);
        if (p->surface) {
            cairo_pattern_t* pattern = cairo_pattern_create_for_surface(p->surface);
            cairo_matrix_t m;
            cairo_matrix_init_scale(&m, double(image->width) / tileW, double(image->height) / tileH);
            cairo_matrix_translate(&m, -x, -y);
            cairo_pattern_set_matrix(pattern, &m);
            // A single picture is clipped to its tile: its edge pixels pad
            // out, rather than fading into nothing as they are scaled.
            cairo_pattern_set_extend(pattern, bg.repeat == litehtml::background_repeat_no_repeat ? CAIRO_EXTEND_PAD
                                                                                                 : CAIRO_EXTEND_REPEAT);
            cairo_set_source(cr, pattern);
            cairo_paint(cr);
            cairo_pattern_destroy(pattern);
        } else if (image) {
            paintImage(cr, *image, CGRectMake(x, y, tileW, tileH), 1);  // recognised, not decoded
        }
    }
    cairo_restore(cr);
}

void PageContainer::draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& borders,
                                 const litehtml::position& box, bool) {
    const double left = drawnWidth(borders.left), top = drawnWidth(borders.top);
    const double right = drawnWidth(borders.right), bottom = drawnWidth(borders.bottom);
    if (left + top + right + bottom <= 0 || box.width <= 0 || box.height <= 0) return;
    cairo_t* cr = cairoOf(hdc);
    beginDrawing(cr, area(box));
    const double x = box.x, y = box.y, w = box.width, h = box.height;
    Radii outer(borders.radius, w, h);
    // The ring between the border box and the padding box. Every style is
    // drawn solid.
    appendBox(cr, x, y, w, h, outer);
    appendBox(cr, x + left, y + top, w - left - right, h - top - bottom, outer.inset(left, top, right, bottom));
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    const litehtml::border* sides[] = {&borders.top, &borders.right, &borders.bottom, &borders.left};
    const double widths[] = {top, right, bottom, left};
    const litehtml::border* first = nullptr;
    bool oneColour = true;
    for (int i = 0; i < 4; ++i) {
        if (widths[i] <= 0) continue;
        if (!first) first = sides[i];
        oneColour = oneColour && sameColour(sides[i]->color, first->color);
    }
    if (oneColour) {
        setColour(cr, first->color);
        cairo_fill(cr);
        cairo_restore(cr);
        return;
    }
    cairo_clip(cr);
    // Sides of several colours meet on the line from each outer corner through
    // the inner one, taken across the corner's square (radius or widths).
    struct Corner {
        double ox, oy, ex, ey, cx, cy;
    };
    auto corner = [](double ox, double oy, double sx, double sy, double a, double b, double rx, double ry) {
        double cw = std::max(rx, a), ch = std::max(ry, b);
        double t = 1e9;
        if (a > 0) t = std::min(t, cw / a);
        if (b > 0) t = std::min(t, ch / b);
        if (a <= 0 && b <= 0) t = 0;
        return Corner{ox, oy, ox + sx * a * t, oy + sy * b * t, ox + sx * cw, oy + sy * ch};
    };
    const Corner tl = corner(x, y, 1, 1, left, top, outer.topLeftX, outer.topLeftY);
    const Corner tr = corner(x + w, y, -1, 1, right, top, outer.topRightX, outer.topRightY);
    const Corner br = corner(x + w, y + h, -1, -1, right, bottom, outer.bottomRightX, outer.bottomRightY);
    const Corner bl = corner(x, y + h, 1, -1, left, bottom, outer.bottomLeftX, outer.bottomLeftY);
    auto side = [&](int i, const Corner& a, const Corner& b) {
        if (widths[i] <= 0 || sides[i]->color.alpha == 0) return;
        cairo_move_to(cr, a.ox, a.oy);
        cairo_line_to(cr, a.ex, a.ey);
        cairo_line_to(cr, a.cx, a.cy);
        cairo_line_to(cr, b.cx, b.cy);
        cairo_line_to(cr, b.ex, b.ey);
        cairo_line_to(cr, b.ox, b.oy);
        cairo_close_path(cr);
        setColour(cr, sides[i]->color);
        cairo_fill(cr);
    };
    side(0, tl, tr);
    side(1, tr, br);
    side(2, br, bl);
    side(3, bl, tl);
    cairo_restore(cr);
}

void PageContainer::draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker) {
    cairo_t* cr = cairoOf(hdc);
    const litehtml::position& p = marker.pos;
    if (!marker.image.empty()) {
        if (Picture* picture = this->picture(marker.image, marker.baseurl ? marker.baseurl : "")) {
            beginDrawing(cr, area(p));
            if (const CGImageRef& image = picture->image->CGImage())
                paintImage(cr, *image, CGRectMake(p.x, p.y, p.width, p.height), 1);
            cairo_restore(cr);
            return;
        }
    }
    beginDrawing(cr, area(p));
    setColour(cr, marker.color);
    if (marker.marker_type == litehtml::list_style_type_square) {
        cairo_rectangle(cr, p.x, p.y, p.width, p.height);
        cairo_fill(cr);
    } else if (p.width > 0 && p.height > 0) {
        appendEllipse(cr, CGRectMake(p.x, p.y, p.width, p.height));
        if (marker.marker_type == litehtml::list_style_type_circle) {
            cairo_set_line_width(cr, 1);
            cairo_stroke(cr);
        } else {
            cairo_fill(cr);
        }
    }
    cairo_restore(cr);
}

void PageContainer::set_clip(const litehtml::position& pos, const litehtml::border_radiuses& bdr_radius, bool valid_x,
                             bool valid_y) {
    clips_.push_back(Clip{pos, bdr_radius, valid_x, valid_y});
}

void PageContainer::del_clip() {
    if (!clips_.empty()) clips_.pop_back();
}

// ---- the page's surroundings ---------------------------------------------------------------------

void PageContainer::get_client_rect(litehtml::position& client) const {
    client = litehtml::position(0, 0, static_cast<int>(viewport_.width), static_cast<int>(viewport_.height));
}

void PageContainer::get_media_features(litehtml::media_features& media) const {
    CGRect screen = UIScreen::mainScreen()->bounds();
    media.type = litehtml::media_type_screen;
    media.width = static_cast<int>(viewport_.width);
    media.height = static_cast<int>(viewport_.height);
    media.device_width = static_cast<int>(screen.size.width);
    media.device_height = static_cast<int>(screen.size.height);
    media.color = 8;
    media.color_index = 0;
    media.monochrome = 0;
    media.resolution = static_cast<int>(std::lround(96 * UIScreen::mainScreen()->scale()));
}

void PageContainer::get_language(litehtml::tstring& language, litehtml::tstring& culture) const {
    language = "en";
    culture = "en-US";
}

std::shared_ptr<litehtml::element> PageContainer::create_element(const litehtml::tchar_t* tag_name,
                                                                 const litehtml::string_map&,
                                                                 const std::shared_ptr<litehtml::document>& doc) {
    return PageElements::create(tag_name ? tag_name : "", doc, *this);
}

// Nothing to do for these: the drawing is a still picture.
void PageContainer::set_caption(const litehtml::tchar_t*) {}
void PageContainer::link(const std::shared_ptr<litehtml::document>&, const litehtml::element::ptr&) {}
void PageContainer::on_anchor_click(const litehtml::tchar_t*, const litehtml::element::ptr&) {}
void PageContainer::set_cursor(const litehtml::tchar_t*) {}

}  // namespace platform::web
