#include "platform/web/PageElements.h"

#include <litehtml/el_anchor.h>
#include <litehtml/el_base.h>
#include <litehtml/el_before_after.h>
#include <litehtml/el_body.h>
#include <litehtml/el_break.h>
#include <litehtml/el_div.h>
#include <litehtml/el_font.h>
#include <litehtml/el_image.h>
#include <litehtml/el_link.h>
#include <litehtml/el_para.h>
#include <litehtml/el_script.h>
#include <litehtml/el_style.h>
#include <litehtml/el_table.h>
#include <litehtml/el_td.h>
#include <litehtml/el_title.h>
#include <litehtml/el_tr.h>
#include <litehtml/iterators.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <typeinfo>
#include <vector>

#include "platform/web/PageContainer.h"
#include "platform/web/PageStyleSheet.h"

namespace platform::web {

namespace {

using litehtml::element;
using litehtml::tchar_t;

// ---- what litehtml's steps cost ------------------------------------------------------------------

// Steps charged per call, beside one per child or float a call walks over: a
// box laid out costs several times what one selector test or style look-up
// does.
constexpr size_t kLayoutSteps = 4;
constexpr size_t kPlacingSteps = 2;
// Reading an element's styles reads every property's value; a style look-up
// builds the property's name as a string to find it among the element's
// (measured at about four selector tests).
constexpr size_t kStyleReadingSteps = 128;
constexpr size_t kStyleLookUpSteps = 4;
// Passing a child on the way to another, comparing class names or a few
// bytes of attribute values, costs a fraction of a step; reading a
// pseudo-class's name and argument, several.
constexpr size_t kChildrenPassedPerStep = 8;
constexpr size_t kClassNamesComparedPerStep = 4;
constexpr size_t kBytesComparedPerStep = 16;
constexpr size_t kPseudoClassSteps = 16;
// A table's grid: each of its cells (one per column a cell spans, one per
// place a row span covers, and those that pad every row to the widest) is
// made, kept and walked over by every pass of the table's layout; rows
// looked at above a cell while it is placed are cheap. (The work bound lets
// a grid have some 1.2 million cells, some 85 MB.)
constexpr size_t kGridCellSteps = 56;
constexpr size_t kGridRowsLookedAtPerStep = 8;
// An anonymous box litehtml's table fix-ups make: its styles read and the
// memory it holds for the rest of the drawing (a bound of some 40,000 boxes
// lets them hold some 60 MB); then the box of ours that replaces it.
constexpr size_t kAnonymousBoxSteps = 1664;
constexpr size_t kAdoptedBoxSteps = 832;

// Style declarations parsed, by the bytes of their text: shorthands expand
// into several properties each.
size_t declarationSteps(const litehtml::tstring& declarations) { return 8 + 3 * declarations.size(); }

// ---- litehtml's own boxes ------------------------------------------------------------------------

// Whether an element is of litehtml's kind `Kind` itself (none derived from it).
template <class Kind>
bool isExactly(const element::ptr& el) {
    if (!el) return false;
    const element& object = *el;
    return typeid(object) == typeid(Kind);
}

// The boxes litehtml's table fix-ups wrap an element of `display` in when its
// parent's display is `parent`: as many as it lacks (a cell a row, a row
// group and a table), sharing them with the siblings of its display next to it.
size_t wrappersAround(litehtml::style_display display, litehtml::style_display parent) {
    using namespace litehtml;
    const bool inTable = parent == display_table || parent == display_inline_table;
    const bool inGroup = parent == display_table_row_group || parent == display_table_header_group ||
                         parent == display_table_footer_group;
    switch (display) {
        case display_table_cell: return parent == display_table_row ? 0 : 3;
        case display_table_row: return inGroup ? 0 : inTable ? 1 : 2;
        case display_table_row_group:
        case display_table_header_group:
        case display_table_footer_group: return inTable ? 0 : 1;
        default: return 0;
    }
}

// The boxes litehtml wraps a run of children of a table (row groups and
// captions aside), a row group (rows aside) or a row (cells aside) in.
size_t wrappersInside(litehtml::style_display parent, litehtml::style_display child) {
    using namespace litehtml;
    switch (parent) {
        case display_table:
        case display_inline_table:
            return child == display_table_row_group || child == display_table_header_group ||
                           child == display_table_footer_group || child == display_table_caption
                       ? 0
                       : 1;
        case display_table_row_group:
        case display_table_header_group:
        case display_table_footer_group: return child == display_table_row ? 0 : 2;
        case display_table_row: return child == display_table_cell ? 0 : 1;
        default: return 0;
    }
}

// ---- attributes ----------------------------------------------------------------------------------

// A table cell's span as HTML reads it: a non-negative integer after
// optional white space and '+', whatever follows it; `fallback` when there
// is none (or when zero is not allowed and it is zero), at most `most`.
long tableSpan(const char* text, long fallback, long most, bool zeroAllowed) {
    const char* c = text;
    while (*c == ' ' || *c == '\t' || *c == '\n' || *c == '\f' || *c == '\r') ++c;
    bool negative = false;
    if (*c == '-' || *c == '+') negative = *c++ == '-';
    if (*c < '0' || *c > '9') return fallback;
    long value = 0;
    for (; *c >= '0' && *c <= '9'; ++c) value = std::min(value * 10 + (*c - '0'), most + 1);
    if (negative && value > 0) return fallback;
    if (value == 0 && !zeroAllowed) return fallback;
    return std::min(value, most);
}

// The display litehtml is given for a value the page's style gave. litehtml
// lays out the root only as a block, a list item or a table (its table
// fix-ups reach for the parent of a row or cell, which the root has not), so
// the root's display is made a block box's as CSS does for the root (a table
// stays one; none stays none); "inline-text", litehtml's own kind for words,
// means nothing in CSS and is the initial value.
const char* fittedDisplay(const char* value, const char* initial, bool root) {
    if (litehtml::t_strcasecmp(value, "inline-text") == 0) value = initial ? initial : "inline";
    if (!root) return value;
    for (const char* kept : {"none", "block", "list-item", "table"})
        if (litehtml::t_strcasecmp(value, kept) == 0) return kept;
    return litehtml::t_strcasecmp(value, "inline-table") == 0 ? "table" : "block";
}

// One of litehtml's kinds of element (Base), charging its drawing for the
// work litehtml does through it. The overrides charge, then do what Base
// does (those that do more say so): a charge past the drawing's bounds
// throws, which unwinds litehtml.
template <class Base>
class Counted : public Base {
public:
    Counted(const std::shared_ptr<litehtml::document>& document, PageContainer& container)
        : Base(document), container_(container) {}

    // Style attributes are tidied as they are set, and a cell's spans read as
    // HTML reads them (only a td's or th's count). litehtml sets the tag first.
    void set_attr(const tchar_t* name, const tchar_t* value) override {
        if (!name || !value) return;
        const std::string_view attribute(name);
        std::string kept;
        if (attribute == "style") {
            TidiedStyle style = tidyStyleDeclarations(value);
            container_.countStylePieces(style.pieces);
            kept = std::move(style.text);
        } else if (attribute == "colspan" || attribute == "rowspan") {
            const std::string_view tag(this->get_tagName());
            if (tag != "td" && tag != "th") return;
            kept = std::to_string(attribute == "colspan" ? tableSpan(value, 1, 1000, false)
                                                         : tableSpan(value, 1, 65534, true));
        } else {
            kept = value;
        }
        longestAttribute_ = std::max(longestAttribute_, kept.size());
        Base::set_attr(name, kept.c_str());
    }

    // ---- styles and selectors ----
    void apply_stylesheet(const litehtml::css& sheet) override {
        charge(1);
        Base::apply_stylesheet(sheet);
    }
    // Beside its style look-ups (charged as they go), reading an element's
    // styles, and those of its ::before and ::after (litehtml's own).
    void parse_styles(bool isReparse = false) override {
        size_t styled = 1;
        for (const element::ptr& child : this->m_children)
            styled += isExactly<litehtml::el_before>(child) || isExactly<litehtml::el_after>(child);
        charge(kStyleReadingSteps * styled);
        Base::parse_styles(isReparse);
        // litehtml's table fix-ups follow the root's styles.
        if (!this->have_parent()) chargeAnonymousBoxes();
    }
    const tchar_t* get_style_property(const tchar_t* name, bool inherited, const tchar_t* def = nullptr) const override {
        charge(kStyleLookUpSteps);
        const tchar_t* value = Base::get_style_property(name, inherited, def);
        if (value && name && std::strcmp(name, "display") == 0) return fittedDisplay(value, def, !this->have_parent());
        return value;
    }
    int select(const litehtml::css_selector& selector, bool applyPseudo = true) override {
        charge(1);
        const int match = Base::select(selector, applyPseudo);
        // A rule for ::before or ::after is parsed into litehtml's own element.
        if (match & (litehtml::select_match_with_before | litehtml::select_match_with_after))
            charge(declarationSteps(selector.m_style));
        return match;
    }
    int select(const litehtml::css_element_selector& selector, bool applyPseudo = true) override {
        charge(conditionSteps(selector, applyPseudo));
        return Base::select(selector, applyPseudo);
    }
    // litehtml parses a rule's declarations again for each element it matches.
    void add_style(const litehtml::tstring& style, const litehtml::tstring& baseURL) override {
        charge(declarationSteps(style));
        Base::add_style(style, baseURL);
    }
    element::ptr find_ancestor(const litehtml::css_selector& selector, bool applyPseudo = true,
                               bool* isPseudo = nullptr) override {
        charge(1);
        return Base::find_ancestor(selector, applyPseudo, isPseudo);
    }
    element::ptr find_adjacent_sibling(const element::ptr& el, const litehtml::css_selector& selector,
                                       bool applyPseudo = true, bool* isPseudo = nullptr) override {
        charge(childrenWalked());
        return Base::find_adjacent_sibling(el, selector, applyPseudo, isPseudo);
    }
    element::ptr find_sibling(const element::ptr& el, const litehtml::css_selector& selector, bool applyPseudo = true,
                              bool* isPseudo = nullptr) override {
        charge(childrenWalked());
        return Base::find_sibling(el, selector, applyPseudo, isPseudo);
    }
    bool is_nth_child(const element::ptr& el, int num, int off, bool ofType) const override {
        charge(childrenWalked());
        return Base::is_nth_child(el, num, off, ofType);
    }
    bool is_nth_last_child(const element::ptr& el, int num, int off, bool ofType) const override {
        charge(childrenWalked());
        return Base::is_nth_last_child(el, num, off, ofType);
    }
    bool is_only_child(const element::ptr& el, bool ofType) const override {
        charge(childrenWalked());
        return Base::is_only_child(el, ofType);
    }
    void get_text(litehtml::tstring& text) override {
        charge(children());
        Base::get_text(text);
    }

    // ---- layout ----
    void init() override {
        // The root is initialised once, right after litehtml's table fix-ups.
        if (!this->have_parent()) adoptAnonymousBoxes();
        charge(children());
        if (this->m_display == litehtml::display_table || this->m_display == litehtml::display_inline_table)
            chargeTableGrid();
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
    // These three are litehtml's own, charged by the children they look at:
    // asked once for every word of an inline element, they stop at its first
    // (or last) child that is no white space.
    bool is_first_child_inline(const element::ptr& el) const override {
        return firstInline(this->m_children.begin(), this->m_children.end(), el);
    }
    bool is_last_child_inline(const element::ptr& el) override {
        return firstInline(this->m_children.rbegin(), this->m_children.rend(), el);
    }
    bool have_inline_child() const override {
        size_t looked = 1;
        bool found = false;
        for (const element::ptr& child : this->m_children) {
            ++looked;
            if (!child->is_white_space()) {
                found = true;
                break;
            }
        }
        charge(looked);
        return found;
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
    void charge(size_t steps) const { container_.charge(steps); }

private:
    size_t children() const { return 1 + this->m_children.size(); }
    // A walk that only compares each child on its way to one.
    size_t childrenWalked() const { return 1 + this->m_children.size() / kChildrenPassedPerStep; }
    size_t floats() const { return 1 + this->m_floats_left.size() + this->m_floats_right.size(); }

    // What testing one compound selector against this element costs: each
    // class it names against each of the element's, other attributes' values
    // compared (as long as the longest here, at most), and pseudo-classes,
    // whose arguments litehtml reads again at each test.
    size_t conditionSteps(const litehtml::css_element_selector& selector, bool applyPseudo) const {
        size_t steps = 1;
        for (const litehtml::css_attribute_selector& condition : selector.m_attrs) {
            if (condition.condition == litehtml::select_pseudo_class) {
                if (applyPseudo) steps += kPseudoClassSteps + condition.val.size();
            } else if (!condition.class_val.empty()) {  // only a class condition has class names
                steps += 1 + condition.class_val.size() * this->m_class_values.size() / kClassNamesComparedPerStep;
            } else {
                steps += 1 + (condition.val.size() + longestAttribute_) / kBytesComparedPerStep;
            }
        }
        return steps;
    }

    // Whether `el` comes first among the children from `from` on, passing
    // white space and inline elements without inline content.
    template <class Iterator>
    bool firstInline(Iterator from, Iterator to, const element::ptr& el) const {
        size_t looked = 1;
        bool first = false;
        for (; from != to; ++from) {
            ++looked;
            const element::ptr& child = *from;
            if (child->is_white_space()) continue;
            if (child == el) first = true;
            if (first || child->get_display() != litehtml::display_inline || child->have_inline_child()) break;
        }
        charge(looked);
        return first;
    }

    // Calls `visit` with each element of the tree from this one down that can
    // hold others, then goes on into its children as `visit` left them.
    template <class Visit>
    void forEachHolder(Visit visit) {
        std::vector<element::ptr> pending{this->shared_from_this()};
        while (!pending.empty()) {
            const element::ptr node = pending.back();
            pending.pop_back();
            auto tag = std::dynamic_pointer_cast<litehtml::html_tag>(node);
            if (!tag) continue;
            visit(*tag, node);
            for (const element::ptr& child : tag->children()) pending.push_back(child);
        }
    }

    // What litehtml's table fix-ups are about to make, charged before they
    // make it (see wrappersAround and wrappersInside).
    void chargeAnonymousBoxes() {
        size_t boxes = 0;
        forEachHolder([&](litehtml::html_tag& holder, const element::ptr& node) {
            const litehtml::style_display own = node->get_display();
            litehtml::style_display previous = litehtml::display_none;
            bool inRun = false;
            for (const element::ptr& child : holder.children()) {
                if (child->is_white_space()) continue;
                const litehtml::style_display display = child->get_display();
                if (display != previous) boxes += wrappersAround(display, own);
                const size_t inside = wrappersInside(own, display);
                if (inside && !inRun) boxes += inside;
                inRun = inside > 0;
                previous = display;
            }
        });
        charge(1 + boxes * kAnonymousBoxSteps);
    }

    // litehtml's table fix-ups wrap rows and cells that lack them in boxes of
    // its own kind (tables, row groups, rows, cells), made past the element
    // factory: nested, they lay out as nested tables do, each cell several
    // times over at each level, and nothing of theirs was charged. Each is
    // replaced by one of ours, with the same display and children.
    void adoptAnonymousBoxes() {
        forEachHolder([&](litehtml::html_tag& holder, const element::ptr& node) {
            for (element::ptr& child : holder.children())
                if (isExactly<litehtml::html_tag>(child)) child = adopted(child, node);
        });
    }
    element::ptr adopted(const element::ptr& anonymous, const element::ptr& parent) {
        // litehtml's names of its displays, in the order of their values.
        static const litehtml::string_vector kDisplays = [] {
            litehtml::string_vector names;
            litehtml::split_string(style_display_strings, names, ";");
            return names;
        }();
        const auto display = static_cast<size_t>(anonymous->get_display());
        charge(kAdoptedBoxSteps);
        auto box = std::make_shared<Counted<litehtml::html_tag>>(this->get_document(), container_);
        box->parent(parent);
        box->set_attr("style", ("display:" + (display < kDisplays.size() ? kDisplays[display] : "inline")).c_str());
        // Styled before it holds anything: litehtml styles children with their parent.
        box->parse_styles();
        auto& moved = std::static_pointer_cast<litehtml::html_tag>(anonymous)->children();
        for (const element::ptr& child : moved) box->appendChild(child);
        moved.clear();
        return box;
    }

    // litehtml builds a table's grid (in init) row by row: a cell is put at
    // the first column of its row that no cell of a row above spans into
    // (looking up that column's rows to the nearest cell), and takes as many
    // columns as it spans; then every row is padded to the widest. The same
    // placement is followed here, keeping per column only the nearest row
    // with a cell in it, and charged as it goes, so that a grid past the
    // bound is never made.
    void chargeTableGrid() {
        struct Nearest {
            long row = -1;  // none yet
            long rowspan = 1;
        };
        struct Placed {
            long row, rowspan;
        };
        litehtml::go_inside_table inside;
        litehtml::table_rows_selector rows;
        litehtml::table_cells_selector cells;
        std::vector<Nearest> columns;
        std::vector<Placed> placed;
        size_t widest = 0, made = 0;
        long rowCount = 0;
        litehtml::elements_iterator rowIterator(this->shared_from_this(), &inside, &rows);
        for (element::ptr row = rowIterator.next(false); row; row = rowIterator.next(false)) {
            const long r = rowCount++;
            size_t width = 0;
            auto spanned = [&](size_t column) {
                const Nearest nearest = column < columns.size() ? columns[column] : Nearest{};
                const long looked = nearest.row < 0 ? r : r - nearest.row;
                charge(1 + static_cast<size_t>(looked) / kGridRowsLookedAtPerStep);
                return nearest.row >= 0 && nearest.rowspan > 1 && nearest.rowspan >= r - nearest.row + 1;
            };
            litehtml::elements_iterator cellIterator(row, &inside, &cells);
            for (element::ptr cell = cellIterator.next(); cell; cell = cellIterator.next(false)) {
                while (spanned(width)) {
                    charge(kGridCellSteps);
                    ++width;
                }
                const long colspan = std::max(1L, std::strtol(cell->get_attr("colspan", "1"), nullptr, 10));
                const long rowspan = std::strtol(cell->get_attr("rowspan", "1"), nullptr, 10);
                charge(kGridCellSteps * static_cast<size_t>(colspan));
                if (columns.size() <= width) columns.resize(width + 1);
                columns[width] = {r, rowspan};
                placed.push_back({r, rowspan});
                width += static_cast<size_t>(colspan);
            }
            made += width;
            widest = std::max(widest, width);
        }
        // The padding, and the rows each cell's height is spread over.
        charge(kGridCellSteps * (static_cast<size_t>(rowCount) * widest - made));
        size_t covered = 0;
        for (const Placed& cell : placed) covered += static_cast<size_t>(std::clamp(cell.rowspan, 1L, rowCount - cell.row));
        charge(covered);
    }

    PageContainer& container_;
    size_t longestAttribute_ = 0;
};

// <li>: litehtml's own list item numbers itself when first laid out by
// counting the li elements before it among its parent's children, which
// makes a long numbered list cost the square of its items; here the first
// item laid out numbers all its siblings at once, alike: from the parent's
// start attribute (1 without one), each li one more than the li before it,
// whatever its display.
class ListItemElement : public Counted<litehtml::html_tag> {
public:
    using Counted::Counted;

    int render(int x, int y, int maxWidth, bool secondPass = false) override {
        if (m_list_style_type > litehtml::list_style_type_square && !numbered_) numberSiblings();
        return Counted::render(x, y, maxWidth, secondPass);
    }

private:
    void numberSiblings() {
        const element::ptr parent = this->parent();
        numbered_ = !parent;
        if (!parent) return;
        const char* start = parent->get_attr("start");
        // As litehtml reads it, with no overflow past the ends of int.
        unsigned number = start ? static_cast<unsigned>(std::strtol(start, nullptr, 10)) : 1u;
        const size_t count = parent->get_children_count();
        charge(1 + count);
        for (size_t i = 0; i < count; ++i) {
            auto item = std::dynamic_pointer_cast<ListItemElement>(parent->get_child(static_cast<int>(i)));
            if (!item) continue;
            if (!item->numbered_ && item->m_list_style_type > litehtml::list_style_type_square) {
                item->numbered_ = true;
                const int index = static_cast<int>(number);
                // Roman numerals reach 3999, and decimal ones stand past
                // them, as CSS has it: litehtml writes an M per thousand.
                const litehtml::list_style_type type = item->m_list_style_type;
                if ((type == litehtml::list_style_type_lower_roman || type == litehtml::list_style_type_upper_roman) &&
                    (index < 1 || index > 3999))
                    item->m_list_style_type = litehtml::list_style_type_decimal;
                item->set_attr("list_index", std::to_string(index).c_str());
            }
            ++number;
        }
    }

    bool numbered_ = false;
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
    // Every element is made here: none is left to litehtml's own kinds.
    if (tag == "li") return std::make_shared<ListItemElement>(document, container);
    // Scripts are never drawn (nor given to the drawing): litehtml's kind keeps nothing.
    if (tag == "script") return std::make_shared<litehtml::el_script>(document);
    if (tag == "style") return std::make_shared<StyleSheetElement>(document, container);
    if (tag == "video" || tag == "canvas") return std::make_shared<PictureBoxElement>(document, container, tag == "video");
    auto kind = kinds.find(tag);
    return kind != kinds.end() ? kind->second(document, container) : make<litehtml::html_tag>(document, container);
}

}  // namespace platform::web
