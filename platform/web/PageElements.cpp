#include "platform/web/PageElements.h"

#include <litehtml/el_anchor.h>
#include <litehtml/el_base.h>
#include <litehtml/el_body.h>
#include <litehtml/el_break.h>
#include <litehtml/el_div.h>
#include <litehtml/el_font.h>
#include <litehtml/el_image.h>
#include <litehtml/el_link.h>
#include <litehtml/el_para.h>
#include <litehtml/el_style.h>
#include <litehtml/el_table.h>
#include <litehtml/el_td.h>
#include <litehtml/el_title.h>
#include <litehtml/el_tr.h>

#include <map>

#include "platform/web/PageContainer.h"
#include "platform/web/PageStyleSheet.h"

namespace platform::web {

namespace {

using litehtml::element;
using litehtml::tchar_t;

// Steps charged per call, beside one per child or float a call walks over: a
// box laid out costs several times what one selector test or style look-up
// does.
constexpr size_t kLayoutSteps = 4;
constexpr size_t kPlacingSteps = 2;

// One of litehtml's kinds of element (Base), charging its drawing for the
// work litehtml does through it. The overrides only charge, then do what
// Base does: a charge past the drawing's bounds throws, which unwinds litehtml.
template <class Base>
class Counted : public Base {
public:
    Counted(const std::shared_ptr<litehtml::document>& document, PageContainer& container)
        : Base(document), container_(container) {}

    // Style attributes are tidied as they are set.
    void set_attr(const tchar_t* name, const tchar_t* value) override {
        if (name && value && std::string_view(name) == "style") {
            TidiedStyle style = tidyStyleDeclarations(value);
            container_.countStylePieces(style.pieces);
            Base::set_attr(name, style.text.c_str());
            return;
        }
        Base::set_attr(name, value);
    }

    // ---- styles and selectors ----
    void apply_stylesheet(const litehtml::css& sheet) override {
        charge(1);
        Base::apply_stylesheet(sheet);
    }
    void parse_styles(bool isReparse = false) override {
        charge(1);
        Base::parse_styles(isReparse);
    }
    const tchar_t* get_style_property(const tchar_t* name, bool inherited, const tchar_t* def = nullptr) const override {
        charge(1);
        return Base::get_style_property(name, inherited, def);
    }
    int select(const litehtml::css_selector& selector, bool applyPseudo = true) override {
        charge(1);
        return Base::select(selector, applyPseudo);
    }
    int select(const litehtml::css_element_selector& selector, bool applyPseudo = true) override {
        charge(1);
        return Base::select(selector, applyPseudo);
    }
    element::ptr find_ancestor(const litehtml::css_selector& selector, bool applyPseudo = true,
                               bool* isPseudo = nullptr) override {
        charge(1);
        return Base::find_ancestor(selector, applyPseudo, isPseudo);
    }
    element::ptr find_adjacent_sibling(const element::ptr& el, const litehtml::css_selector& selector,
                                       bool applyPseudo = true, bool* isPseudo = nullptr) override {
        charge(children());
        return Base::find_adjacent_sibling(el, selector, applyPseudo, isPseudo);
    }
    element::ptr find_sibling(const element::ptr& el, const litehtml::css_selector& selector, bool applyPseudo = true,
                              bool* isPseudo = nullptr) override {
        charge(children());
        return Base::find_sibling(el, selector, applyPseudo, isPseudo);
    }
    bool is_nth_child(const element::ptr& el, int num, int off, bool ofType) const override {
        charge(children());
        return Base::is_nth_child(el, num, off, ofType);
    }
    bool is_nth_last_child(const element::ptr& el, int num, int off, bool ofType) const override {
        charge(children());
        return Base::is_nth_last_child(el, num, off, ofType);
    }
    bool is_only_child(const element::ptr& el, bool ofType) const override {
        charge(children());
        return Base::is_only_child(el, ofType);
    }
    void get_text(litehtml::tstring& text) override {
        charge(children());
        Base::get_text(text);
    }

    // ---- layout ----
    void init() override {
        charge(children());
        Base::init();
    }
    int render(int x, int y, int maxWidth, bool secondPass = false) override {
        charge(kLayoutSteps);
        return Base::render(x, y, maxWidth, secondPass);
    }
    int render_inline(const element::ptr& container, int maxWidth) override {
        charge(kLayoutSteps);
        return Base::render_inline(container, maxWidth);
    }
    int place_element(const element::ptr& el, int maxWidth) override {
        charge(kPlacingSteps);
        return Base::place_element(el, maxWidth);
    }
    void get_content_size(litehtml::size& size, int maxWidth) override {
        charge(1);
        Base::get_content_size(size, maxWidth);
    }
    void get_inline_boxes(litehtml::position::vector& boxes) override {
        charge(1);
        Base::get_inline_boxes(boxes);
    }
    bool is_first_child_inline(const element::ptr& el) const override {
        charge(children());
        return Base::is_first_child_inline(el);
    }
    bool is_last_child_inline(const element::ptr& el) override {
        charge(children());
        return Base::is_last_child_inline(el);
    }
    bool have_inline_child() const override {
        charge(children());
        return Base::have_inline_child();
    }
    bool fetch_positioned() override {
        charge(children());
        return Base::fetch_positioned();
    }
    void render_positioned(litehtml::render_type type = litehtml::render_all) override {
        charge(1 + this->m_positioned.size());
        Base::render_positioned(type);
    }
    void apply_vertical_align() override {
        charge(1);
        Base::apply_vertical_align();
    }
    void calc_document_size(litehtml::size& size, int x = 0, int y = 0) override {
        charge(children());
        Base::calc_document_size(size, x, y);
    }

    // ---- floats: each look-up walks the floats placed so far ----
    int get_floats_height(litehtml::element_float kind = litehtml::float_none) const override {
        charge(floats());
        return Base::get_floats_height(kind);
    }
    int get_left_floats_height() const override {
        charge(floats());
        return Base::get_left_floats_height();
    }
    int get_right_floats_height() const override {
        charge(floats());
        return Base::get_right_floats_height();
    }
    int get_line_left(int y) override {
        charge(floats());
        return Base::get_line_left(y);
    }
    int get_line_right(int y, int defRight) override {
        charge(floats());
        return Base::get_line_right(y, defRight);
    }
    void get_line_left_right(int y, int defRight, int& left, int& right) override {
        charge(floats());
        Base::get_line_left_right(y, defRight, left, right);
    }
    int find_next_line_top(int top, int width, int defRight) override {
        charge(floats());
        return Base::find_next_line_top(top, width, defRight);
    }
    void add_float(const element::ptr& el, int x, int y) override {
        charge(1);
        Base::add_float(el, x, y);
    }
    void update_floats(int dy, const element::ptr& parent) override {
        charge(floats());
        Base::update_floats(dy, parent);
    }

    // ---- painting ----
    void draw(litehtml::uint_ptr hdc, int x, int y, const litehtml::position* clip) override {
        charge(1);
        Base::draw(hdc, x, y, clip);
    }
    void draw_background(litehtml::uint_ptr hdc, int x, int y, const litehtml::position* clip) override {
        charge(1);
        Base::draw_background(hdc, x, y, clip);
    }
    void draw_children(litehtml::uint_ptr hdc, int x, int y, const litehtml::position* clip, litehtml::draw_flag flag,
                       int zindex) override {
        charge(children());
        Base::draw_children(hdc, x, y, clip, flag, zindex);
    }
    void draw_stacking_context(litehtml::uint_ptr hdc, int x, int y, const litehtml::position* clip,
                               bool withPositioned) override {
        charge(children());
        Base::draw_stacking_context(hdc, x, y, clip, withPositioned);
    }
    int get_zindex() const override {
        charge(1);
        return Base::get_zindex();
    }

protected:
    PageContainer& container() const { return container_; }

private:
    void charge(size_t steps) const { container_.charge(steps); }
    size_t children() const { return 1 + this->m_children.size(); }
    size_t floats() const { return 1 + this->m_floats_left.size() + this->m_floats_right.size(); }

    PageContainer& container_;
};

// <style>: its text is tidied before litehtml reads it as a sheet.
class StyleSheetElement : public litehtml::el_style {
public:
    StyleSheetElement(const std::shared_ptr<litehtml::document>& document, PageContainer& container)
        : el_style(document), container_(container) {}

    bool appendChild(const element::ptr& el) override {
        if (el) el->get_text(text_);
        return true;
    }
    void parse_attributes() override {
        TidiedStyle sheet = tidyStyleSheet(text_);
        text_ = std::string();
        container_.countStylePieces(sheet.pieces);
        if (auto document = get_document()) document->add_stylesheet(sheet.text.c_str(), nullptr, get_attr("media"));
    }

private:
    PageContainer& container_;
    std::string text_;
};

// <video> and <canvas>: boxes sized by their width and height attributes as
// browsers size them, whose pictures are never drawn (nor their fallback
// content): a video's box is black, as the player layer is; a canvas shows
// only its own background and border.
class PictureBoxElement : public Counted<litehtml::html_tag> {
public:
    PictureBoxElement(const std::shared_ptr<litehtml::document>& document, PageContainer& container, bool black)
        : Counted(document, container), black_(black) {}

    void parse_attributes() override {
        for (const char* name : {"width", "height"})
            if (const char* value = get_attr(name)) m_style.add_property(name, value, nullptr, false, this);
        Counted::parse_attributes();
    }

    // Fallback content is never shown.
    bool appendChild(const element::ptr&) override { return false; }

    void draw(litehtml::uint_ptr hdc, int x, int y, const litehtml::position* clip) override {
        Counted::draw(hdc, x, y, clip);
        if (!black_) return;
        litehtml::position box = m_pos;
        box.x += x;
        box.y += y;
        container().fillBox(reinterpret_cast<cairo_t*>(hdc), box, litehtml::web_color(0, 0, 0));
    }

private:
    bool black_;
};

using Make = std::shared_ptr<element> (*)(const std::shared_ptr<litehtml::document>&, PageContainer&);

template <class Kind>
std::shared_ptr<element> make(const std::shared_ptr<litehtml::document>& document, PageContainer& container) {
    return std::make_shared<Counted<Kind>>(document, container);
}

}  // namespace

std::shared_ptr<element> PageElements::create(std::string_view tag, const std::shared_ptr<litehtml::document>& document,
                                              PageContainer& container) {
    // The tags litehtml gives kinds of their own (the rest are plain tags).
    static const std::map<std::string_view, Make> kinds = {
        {"a", make<litehtml::el_anchor>},  {"base", make<litehtml::el_base>}, {"body", make<litehtml::el_body>},
        {"br", make<litehtml::el_break>},  {"div", make<litehtml::el_div>},   {"font", make<litehtml::el_font>},
        {"img", make<litehtml::el_image>}, {"link", make<litehtml::el_link>}, {"p", make<litehtml::el_para>},
        {"table", make<litehtml::el_table>}, {"td", make<litehtml::el_td>}, {"th", make<litehtml::el_td>},
        {"title", make<litehtml::el_title>}, {"tr", make<litehtml::el_tr>},
    };
    if (tag == "li" || tag == "script") return nullptr;
    if (tag == "style") return std::make_shared<StyleSheetElement>(document, container);
    if (tag == "video" || tag == "canvas") return std::make_shared<PictureBoxElement>(document, container, tag == "video");
    auto kind = kinds.find(tag);
    return kind != kinds.end() ? kind->second(document, container) : make<litehtml::html_tag>(document, container);
}

}  // namespace platform::web
