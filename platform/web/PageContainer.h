// Internal to the web module: litehtml's document container for drawing one
// page on a cairo context, in points: text in the label font's faces (the
// size, weight and a slanted italic the page asks for, whatever its family),
// images through UIImage and linked style sheets from file and data URLs
// (http ones are not drawn: there is no URL cache, and drawing never fetches),
// backgrounds, borders and rounded clips; its elements are PageElements.
// Glyphs are drawn from the pictures cairo makes of them while they are
// small and a drawing's pictures fit a budget, and filled as outlines
// otherwise; either way only those within the view. Resources are bounded
// per drawing, and so are the work, text boxes and style pieces litehtml
// makes of the page: past one of those bounds, the drawing stops
// (BoundExceeded). Main thread.
#pragma once

#include <cairo.h>
#include <litehtml/litehtml.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/foundation/NSURL.h"
#include "platform/ui/CGGeometry.h"
#include "platform/ui/UIImage.h"

namespace platform::web {

class PageContainer : public litehtml::document_container {
public:
    // Resources one drawing may read; more are not drawn.
    static constexpr size_t kMaximumResources = 64;
    static constexpr size_t kMaximumResourceBytes = 16u << 20;  // all files and data URLs together
    // All images together, counted as their headers announce them: one image
    // of the largest size UIImage decodes.
    static constexpr size_t kMaximumImagePixels = 16u << 20;

    // What litehtml may make of one page. Work is counted in steps of about
    // the cost of one selector test (PageElements, and text and painting
    // here): about a second of a desktop processor for dense pages (many
    // rules over a few thousand elements, some 17 ns a step), less for most
    // others. Steps cost more where memory is slow to reach (long chains of
    // style look-ups), so the processor time a drawing takes is bounded too
    // (kMaximumDrawingSeconds, read every kStepsBetweenTimeChecks steps).
    static constexpr size_t kMaximumWork = 64u << 20;
    static constexpr double kMaximumDrawingSeconds = 1.5;
    static constexpr size_t kStepsBetweenTimeChecks = 1u << 16;
    static constexpr size_t kMaximumTextBoxes = 100000;    // words and spaces of text, style text too
    static constexpr size_t kMaximumStylePieces = 60000;   // rules, selectors and declarations

    // Thrown out of litehtml at the first step after a bound was passed; what()
    // names the bound.
    class BoundExceeded : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    // `documentURL` resolves relative URLs (until the page names a <base>);
    // `viewport` is the view's size in points. The drawing's processor time
    // counts from here.
    PageContainer(Ref<NSURL> documentURL, CGSize viewport);

    // The bound on a drawing's processor time, kMaximumDrawingSeconds until
    // a test sets another (sanitizer builds run several times slower).
    static void setDrawingTimeLimit(double seconds);
    // The steps between readings of the processor time,
    // kStepsBetweenTimeChecks until a test sets another (0 restores it).
    static void setStepsBetweenTimeChecks(size_t steps);
    ~PageContainer();
    PageContainer(const PageContainer&) = delete;
    PageContainer& operator=(const PageContainer&) = delete;

    // Fills `box` (document coordinates) with `colour` under the current clips.
    void fillBox(cairo_t* cr, const litehtml::position& box, const litehtml::web_color& colour);

    // A step of litehtml's work; throws BoundExceeded once any bound is passed.
    void charge(size_t steps);
    // Pieces of style parsed (TidiedStyle). Never throws: the next charge does.
    void countStylePieces(size_t pieces);
    // The bound passed, described ("100000 text boxes"); null within them all.
    std::optional<std::string> exceededBound() const;
    // The steps of work charged so far.
    size_t work() const { return work_; }

    // ---- litehtml::document_container ----
    litehtml::uint_ptr create_font(const litehtml::tchar_t* faceName, int size, int weight, litehtml::font_style italic,
                                   unsigned int decoration, litehtml::font_metrics* fm) override;
    void delete_font(litehtml::uint_ptr hFont) override;
    int text_width(const litehtml::tchar_t* text, litehtml::uint_ptr hFont) override;
    void draw_text(litehtml::uint_ptr hdc, const litehtml::tchar_t* text, litehtml::uint_ptr hFont,
                   litehtml::web_color color, const litehtml::position& pos) override;
    int pt_to_px(int pt) const override;
    int get_default_font_size() const override;
    const litehtml::tchar_t* get_default_font_name() const override;
    void draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker) override;
    void load_image(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl, bool redraw_on_ready) override;
    void get_image_size(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl, litehtml::size& sz) override;
    void draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg) override;
    void draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& borders, const litehtml::position& draw_pos,
                      bool root) override;
    void set_caption(const litehtml::tchar_t* caption) override;
    void set_base_url(const litehtml::tchar_t* base_url) override;
    void link(const std::shared_ptr<litehtml::document>& doc, const litehtml::element::ptr& el) override;
    void on_anchor_click(const litehtml::tchar_t* url, const litehtml::element::ptr& el) override;
    void set_cursor(const litehtml::tchar_t* cursor) override;
    void transform_text(litehtml::tstring& text, litehtml::text_transform tt) override;
    void import_css(litehtml::tstring& text, const litehtml::tstring& url, litehtml::tstring& baseurl) override;
    void set_clip(const litehtml::position& pos, const litehtml::border_radiuses& bdr_radius, bool valid_x,
                  bool valid_y) override;
    void del_clip() override;
    void get_client_rect(litehtml::position& client) const override;
    std::shared_ptr<litehtml::element> create_element(const litehtml::tchar_t* tag_name,
                                                      const litehtml::string_map& attributes,
                                                      const std::shared_ptr<litehtml::document>& doc) override;
    void get_media_features(litehtml::media_features& media) const override;
    void get_language(litehtml::tstring& language, litehtml::tstring& culture) const override;
    // Counts the boxes; past kMaximumTextBoxes none is made.
    void split_text(const char* text, const std::function<void(const litehtml::tchar_t*)>& on_word,
                    const std::function<void(const litehtml::tchar_t*)>& on_space) override;

    // A font handed to litehtml (defined in the source).
    struct Font;

private:
    enum class Bound { None, Work, Time, TextBoxes, StylePieces };
    struct Clip {
        litehtml::position box;
        litehtml::border_radiuses radii;
        bool validX = true;
        bool validY = true;
    };
    struct Picture {
        Ref<UIImage> image;
        cairo_surface_t* surface = nullptr;  // made on first draw; null for placeholders
    };

    Ref<NSURL> resolve(const std::string& text, const std::string& base) const;
    // The bytes behind a file or data URL, within the drawing's budget.
    std::optional<std::string> readResource(const Ref<NSURL>& url);
    Picture* picture(const std::string& src, const std::string& base);
    // cairo_save and the clips in force; undone by cairo_restore. Charges the
    // painting of `area` (square points; the clips then bound it).
    void beginDrawing(cairo_t* cr, double paintedArea);
    void pass(Bound bound);

    Ref<NSURL> baseURL_;  // the document's URL until the page names a <base>
    CGSize viewport_;
    std::vector<Clip> clips_;
    std::map<std::string, Picture> pictures_;  // by resolved URL (or the text, when it does not resolve)
    size_t resourcesRead_ = 0;
    size_t bytesRead_ = 0;
    size_t pixelsAnnounced_ = 0;
    size_t work_ = 0;
    size_t nextTimeCheck_ = 0;  // the work at which the time is read next
    double started_ = 0;        // the thread's processor seconds at the start
    size_t glyphPictureBytes_ = 0;  // what the pictures of the glyphs drawn take
    size_t textBoxes_ = 0;
    size_t stylePieces_ = 0;
    Bound exceeded_ = Bound::None;  // the first bound passed
};

}  // namespace platform::web
