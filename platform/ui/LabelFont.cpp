#include "platform/ui/LabelFont.h"

#include <cairo-ft.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>

#include "platform/foundation/Utf8.h"
#include "platform/runtime/Log.h"
#include "platform/ui/CairoContext.h"

namespace platform {

namespace {

constexpr const char* kLabelFontRegular = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char* kLabelFontBold = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

// Faces made from the files, kept for the process and released at exit so
// leak checkers see a clean process.
struct LabelFontFaces {
    std::mutex mutex;
    std::string files[2] = {kLabelFontRegular, kLabelFontBold};
    FT_Library library = nullptr;
    cairo_font_face_t* faces[2] = {nullptr, nullptr};
    bool reported[2] = {false, false};
    cairo_font_face_t* empty = nullptr;  // releaseHeldScaledFonts

    void releaseFaces() {
        for (auto*& face : faces) {
            if (face) cairo_font_face_destroy(face);
            face = nullptr;
        }
    }
};

LabelFontFaces& labelFontFaces() {
    static auto* faces = new LabelFontFaces();
    static std::once_flag once;
    std::call_once(once, [] {
        std::atexit([] {
            auto& state = labelFontFaces();
            std::lock_guard lock(state.mutex);
            state.releaseFaces();
            if (state.empty) cairo_font_face_destroy(state.empty);
            state.empty = nullptr;
            cairo_debug_reset_static_data();
            if (state.library) FT_Done_FreeType(state.library);
            state.library = nullptr;
        });
    });
    return *faces;
}

const cairo_user_data_key_t kLabelFontFaceKey{};

}  // namespace

std::string LabelFont::fontFile(bool bold) {
    auto& state = labelFontFaces();
    std::lock_guard lock(state.mutex);
    return state.files[bold ? 1 : 0];
}

bool LabelFont::isAvailable() {
    return ::access(fontFile(false).c_str(), R_OK) == 0 && ::access(fontFile(true).c_str(), R_OK) == 0;
}

void LabelFont::setFontFilesForTesting(std::string regular, std::string bold) {
    auto& state = labelFontFaces();
    std::lock_guard lock(state.mutex);
    state.releaseFaces();
    state.files[0] = regular.empty() ? kLabelFontRegular : std::move(regular);
    state.files[1] = bold.empty() ? kLabelFontBold : std::move(bold);
    state.reported[0] = state.reported[1] = false;
}

cairo_font_face_t* labelFontFace(bool bold) {
    auto& state = labelFontFaces();
    std::lock_guard lock(state.mutex);
    const int which = bold ? 1 : 0;
    if (state.faces[which]) return state.faces[which];
    if (!state.library && FT_Init_FreeType(&state.library) != 0) state.library = nullptr;
    FT_Face ftFace = nullptr;
    if (!state.library || FT_New_Face(state.library, state.files[which].c_str(), 0, &ftFace) != 0) {
        if (!state.reported[which])
            logError("UILabel: the label font " + state.files[which] +
                     " is missing; text is not drawn (scripts/install-deps.sh installs fonts-dejavu-core)");
        state.reported[which] = true;
        return nullptr;
    }
    cairo_font_face_t* face = cairo_ft_font_face_create_for_ft_face(ftFace, 0);
    // The FreeType face lives as long as the cairo face.
    if (cairo_font_face_set_user_data(face, &kLabelFontFaceKey, ftFace,
                                      [](void* f) { FT_Done_Face(static_cast<FT_Face>(f)); }) != CAIRO_STATUS_SUCCESS) {
        cairo_font_face_destroy(face);
        FT_Done_Face(ftFace);
        return nullptr;
    }
    state.faces[which] = face;
    return face;
}

namespace {
// Unhinted outlines and metrics: advances scale with the size alone, so text
// measures the same in points whatever the screen scale it is drawn at.
cairo_font_options_t* createLabelFontOptions() {
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_subpixel_order(options, CAIRO_SUBPIXEL_ORDER_DEFAULT);
    return options;
}
}  // namespace

void applyLabelFontOptions(cairo_t* cr) {
    cairo_font_options_t* options = createLabelFontOptions();
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);
}

size_t labelFontGlyphCount(bool bold) {
    cairo_font_face_t* face = labelFontFace(bold);
    auto* ftFace = face ? static_cast<FT_Face>(cairo_font_face_get_user_data(face, &kLabelFontFaceKey)) : nullptr;
    return ftFace ? static_cast<size_t>(std::max<FT_Long>(0, ftFace->num_glyphs)) : 0;
}

void releaseHeldScaledFonts() {
    // As many as cairo holds (its CAIRO_SCALED_FONT_MAX_HOLDOVERS), each of
    // its own size: a face of no glyphs makes them at next to no cost.
    constexpr int kHeldScaledFonts = 256;
    auto& state = labelFontFaces();
    cairo_font_face_t* empty = nullptr;
    {
        std::lock_guard lock(state.mutex);
        if (!state.empty) state.empty = cairo_user_font_face_create();
        empty = cairo_font_face_reference(state.empty);
    }
    cairo_matrix_t identity;
    cairo_matrix_init_identity(&identity);
    cairo_font_options_t* options = cairo_font_options_create();
    for (int i = 1; i <= kHeldScaledFonts; ++i) {
        cairo_matrix_t size;
        cairo_matrix_init_scale(&size, i, i);
        cairo_scaled_font_destroy(cairo_scaled_font_create(empty, &size, &identity, options));
    }
    cairo_font_options_destroy(options);
    cairo_font_face_destroy(empty);
}

std::string labelFontText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        utf8::Decoded d = utf8::decode(text, i);
        utf8::append(out, d.codePoint);
        i += d.size;
    }
    return out;
}

cairo_scaled_font_t* createLabelScaledFont(bool bold, const cairo_matrix_t& fontMatrix) {
    cairo_font_face_t* face = labelFontFace(bold);
    if (!face) return nullptr;
    cairo_matrix_t identity;
    cairo_matrix_init_identity(&identity);
    cairo_font_options_t* options = createLabelFontOptions();
    cairo_scaled_font_t* font = cairo_scaled_font_create(face, &fontMatrix, &identity, options);
    cairo_font_options_destroy(options);
    return font;
}

std::optional<double> LabelFont::widthOfLine(std::string_view text, double size, bool bold) {
    if (!labelFontFace(bold)) return std::nullopt;
    if (text.empty() || !std::isfinite(size) || size <= 0) return 0.0;
    cairo_matrix_t fontMatrix;
    cairo_matrix_init_scale(&fontMatrix, size, size);
    cairo_scaled_font_t* font = createLabelScaledFont(bold, fontMatrix);
    double width = 0;
    if (font && cairo_scaled_font_status(font) == CAIRO_STATUS_SUCCESS) {
        cairo_text_extents_t extents;
        cairo_scaled_font_text_extents(font, labelFontText(text).c_str(), &extents);
        // Blank text has no ink: its extents are all zero but the advance.
        double inkRight = extents.width > 0 ? extents.x_bearing + extents.width : 0;
        width = std::max(extents.x_advance, inkRight);
    }
    if (font) cairo_scaled_font_destroy(font);
    return width;
}

}  // namespace platform
