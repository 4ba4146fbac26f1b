// Pages whose drawing litehtml would take seconds or hundreds of megabytes
// over, were it not bounded: one of each kind, by name, shared by the
// drawing's tests (page_drawing_bounds_test.cpp) and its benchmark
// (bench/web_page_drawing.cpp); and a dense page of the kind creatives send,
// which the bounds must let draw. Each page's own background is
// kHostileBackground, and each says which bound stops its drawing (none: it
// is drawn, within its resource bounds). Main thread, with the platform
// started (pictures are made through UIGraphics).
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>
#include <string_view>

#include "platform/foundation/NSData.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIImage.h"

namespace webtest {

struct HostilePage {
    std::string html;
    // What the log line names as the bound that stops the drawing ("steps of
    // work", "text boxes"); empty when the page is drawn.
    std::string bound;
};

inline constexpr uint32_t kHostileBackground = 0xFF123456u;  // as the snapshot reads it

// PNG bytes of a picture of one colour.
inline std::string plainPNG(int width, int height, float red) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(width, height), true, 1);
    CGContextSetFillColorWithColor(UIGraphicsGetCurrentContext(), UIColor::colorWithRed(red, 0.5f, 0.2f, 1)->CGColor());
    CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, width, height));
    auto png = UIImagePNGRepresentation(UIGraphicsGetImageFromCurrentImageContext());
    UIGraphicsEndImageContext();
    return png ? png->toString() : std::string();
}

inline std::string pngDataURL(const std::string& bytes) {
    return "data:image/png;base64," + NSData(bytes.data(), bytes.size()).base64EncodedStringWithOptions();
}

inline std::string repeated(const std::string& piece, size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

// A page as a careless generator could write it, the same for a seed: style
// rules of mixed selectors (types, classes, ids, attributes, pseudo-classes,
// every combinator) over markup nested a few deep, with text between.
inline std::string mixedPage(uint32_t seed, int rules, int tokens) {
    std::mt19937 random(seed);
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    static constexpr const char* kTags[] = {"div", "span", "p", "a", "b", "i", "ul", "li", "em", "section", "td"};
    static constexpr const char* kPseudo[] = {":first-child", ":last-child", ":nth-child(2n+1)", ":nth-last-child(3)",
                                              ":only-child", ":not(.c3)", ":nth-of-type(2)", ":empty"};
    static constexpr const char* kCombinators[] = {" ", " > ", " + ", " ~ "};
    static constexpr const char* kDeclarations[] = {
        "color:#a33", "background:#eee", "margin:2px 3px", "padding:1px", "border:1px solid #999",
        "display:inline-block", "display:block", "float:left", "font-size:13px", "width:40%", "position:relative",
        "text-decoration:underline", "line-height:1.4", "display:table-cell", "display:list-item"};
    auto simple = [&] {
        std::string s;
        switch (pick(5)) {
            case 0: s = kTags[pick(std::size(kTags))]; break;
            case 1: s = ".c" + std::to_string(pick(40)); break;
            case 2: s = "#i" + std::to_string(pick(60)); break;
            case 3: s = std::string(kTags[pick(std::size(kTags))]) + "[data-k=\"" + std::to_string(pick(9)) + "\"]"; break;
            default: s = std::string(kTags[pick(std::size(kTags))]) + kPseudo[pick(std::size(kPseudo))]; break;
        }
        if (pick(3) == 0) s += ".c" + std::to_string(pick(40));
        return s;
    };
    std::string sheet;
    for (int r = 0; r < rules; ++r) {
        for (int list = 1 + static_cast<int>(pick(3)); list > 0; --list) {
            sheet += simple();
            for (int steps = static_cast<int>(pick(5)); steps > 0; --steps)
                sheet += std::string(kCombinators[pick(std::size(kCombinators))]) + simple();
            sheet += list > 1 ? ", " : " ";
        }
        sheet += "{ ";
        for (int d = 1 + static_cast<int>(pick(4)); d > 0; --d) sheet += std::string(kDeclarations[pick(std::size(kDeclarations))]) + "; ";
        sheet += "}\n";
    }
    std::string body;
    std::vector<std::string> open;
    for (int t = 0; t < tokens; ++t) {
        const size_t what = pick(10);
        if (what < 4 && open.size() < 12) {
            const std::string tag = kTags[pick(std::size(kTags))];
            body += "<" + tag + " class='c" + std::to_string(pick(40)) + " c" + std::to_string(pick(40)) + "' id='i" +
                    std::to_string(pick(60)) + "' data-k='" + std::to_string(pick(9)) + "' title='" +
                    repeated("x", pick(30)) + "'>";
            open.push_back(tag);
        } else if (what < 7 && !open.empty()) {
            body += "</" + open.back() + ">";
            open.pop_back();
        } else {
            for (int w = 1 + static_cast<int>(pick(6)); w > 0; --w) body += repeated("w", 1 + pick(8)) + " ";
        }
    }
    return "<style>" + sheet + "</style><body style='margin:0;background:#123456'>" + body;
}

// The 94 printable ASCII characters, as markup.
inline std::string printableCharacters() {
    std::string out;
    for (char c = '!'; c <= '~'; ++c) {
        if (c == '<') out += "&lt;";
        else if (c == '&') out += "&amp;";
        else out += c;
    }
    return out;
}

// `text` in white at `count` sizes, `largest` px and each a px smaller, a
// block of each stacked at the view's top left (the largest drawn last).
inline std::string largeTextPage(const std::string& text, int largest, int count) {
    std::string blocks;
    for (int i = count - 1; i >= 0; --i)
        blocks += "<div style='position:absolute;left:0;top:0;line-height:1;color:#ffffff;font-size:" +
                  std::to_string(largest - i) + "px'>" + text + "</div>";
    return "<body style='margin:0;background:#123456'>" + blocks;
}

// A headline as a creative zooms it: `count` sizes from `smallest` to
// `largest` px, stacked at the view's top left.
inline std::string zoomedHeadline(int smallest, int largest, int count) {
    std::string blocks;
    for (int i = 0; i < count; ++i)
        blocks += "<div style='position:absolute;left:0;top:0;line-height:1;color:#ffffff;font-weight:bold;font-size:" +
                  std::to_string(smallest + (largest - smallest) * i / std::max(1, count - 1)) +
                  "px'>MEGA SALE 50% OFF TODAY ONLY</div>";
    return "<body style='margin:0;background:#123456'>" + blocks;
}

// An ad as creative tools write them, the same for a seed: a long sheet of
// class rules (compound, descendant and child selectors, states, a few
// attribute and pseudo-element rules, media blocks) over containers nested
// up to 16 deep, each of one to five classes, with words, links, buttons and
// images.
inline std::string adPage(uint32_t seed, int rules, int elements) {
    std::mt19937 random(seed);
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    const size_t classes = std::max<size_t>(60, static_cast<size_t>(elements) / 3);
    auto name = [&] { return "gx-" + std::to_string(pick(classes)); };
    static constexpr const char* kTags[] = {"div", "div", "div",    "div",     "span", "span", "a",
                                            "p",   "img", "button", "section", "ul",   "li"};
    static constexpr const char* kDeclarations[] = {
        "position:absolute", "position:relative", "left:12px", "top:40%", "width:300px", "height:250px",
        "width:100%", "height:auto", "margin:0 auto", "padding:4px 8px", "color:#ffffff", "color:#1a1a1a",
        "background-color:#e4002b", "background:#fafafa", "border:1px solid #d0d0d0", "border-radius:4px",
        "font-size:14px", "font-size:11px", "font-weight:bold", "line-height:1.3", "text-align:center",
        "display:block", "display:inline-block", "display:none", "overflow:hidden", "opacity:0.9",
        "z-index:3", "float:left", "white-space:nowrap", "text-decoration:none", "box-sizing:border-box",
        "transition:opacity .3s", "transform:translate(-50%,-50%)", "cursor:pointer", "visibility:visible"};
    auto selector = [&] {
        switch (pick(20)) {
            case 0: case 1: case 2: case 3: return "." + name();
            case 4: case 5: return "." + name() + " ." + name() + " ." + name();
            case 6: return "." + name() + " " + kTags[pick(std::size(kTags))];
            case 7: case 8: case 9: return "." + name() + " ." + name();
            case 10: case 11: return "." + name() + ">." + name();
            case 12: case 13: return "." + name() + "." + name();
            case 14: return "#a" + std::to_string(pick(200)) + " ." + name();
            case 15: return "." + name() + std::string(pick(2) ? ":hover" : ":first-child");
            case 16: return std::string(kTags[pick(std::size(kTags))]) + "." + name();
            case 17: return "." + name() + " ." + name() + " " + kTags[pick(std::size(kTags))];
            case 18: return "[data-role=\"r" + std::to_string(pick(20)) + "\"] ." + name();
            default: return "." + name() + (pick(4) ? "::after" : "::before");
        }
    };
    std::string sheet;
    for (int r = 0; r < rules; ++r) {
        const bool media = r % 150 == 149;
        if (media) sheet += "@media (max-width:480px){";
        for (int list = pick(10) < 6 ? 1 : 2 + static_cast<int>(pick(2)); list > 0; --list)
            sheet += selector() + (list > 1 ? "," : "");
        sheet += "{";
        for (int d = 3 + static_cast<int>(pick(6)); d > 0; --d)
            sheet += std::string(kDeclarations[pick(std::size(kDeclarations))]) + ";";
        sheet += media ? "}}\n" : "}\n";
    }
    static constexpr const char* kWords[] = {"Play", "now", "free", "levels", "Get", "it", "on", "the", "store",
                                             "limited", "offer", "50%", "off", "Install", "rated", "4.8"};
    std::string body;
    std::vector<std::string> open;
    for (int e = 0; e < elements; ++e) {
        const std::string tag = kTags[pick(std::size(kTags))];
        body += "<" + tag + " class='" + name();
        for (int c = static_cast<int>(pick(5)); c > 0; --c) body += " " + name();
        body += "'";
        if (pick(6) == 0) body += " id='a" + std::to_string(pick(200)) + "'";
        if (pick(4) == 0) body += " data-role='r" + std::to_string(pick(20)) + "'";
        if (pick(8) == 0) body += " style='" + std::string(kDeclarations[pick(std::size(kDeclarations))]) + "'";
        if (tag == "img") {
            body += " src='i" + std::to_string(pick(40)) + ".png' width=" + std::to_string(20 + pick(280)) + ">";
            continue;
        }
        body += ">";
        for (int w = static_cast<int>(pick(5)); w > 0; --w) body += std::string(kWords[pick(std::size(kWords))]) + " ";
        if (open.size() < 16 && pick(3) != 0) {
            open.push_back(tag);
            continue;
        }
        body += "</" + tag + ">";
        for (int close = static_cast<int>(pick(3)); close > 0 && !open.empty(); --close) {
            body += "</" + open.back() + ">";
            open.pop_back();
        }
    }
    return "<style>" + sheet + "</style><body style='margin:0;background:#123456'>" + body;
}

// The pages, by name.
inline constexpr std::array<const char*, 25> kHostilePageNames{
    "nested_tables", "descendant_selector", "rules_over_spans", "truncated_images", "many_words",
    "large_images", "floats", "stacked_layers", "sibling_selectors", "style_text",
    "huge_colspan", "wide_colspans", "deep_rowspans", "rules_over_list_items", "long_inline_text",
    "mixed_selectors", "matched_rules", "roman_numerals", "nested_table_rows", "table_pseudo_elements",
    "nested_header_groups", "large_text_sizes", "zoomed_headline", "dense_ad", "long_word"};

// The page of that name (kHostilePageNames), built alone: some hold pictures
// of 4096 × 4096 that take a while to make. An empty page for another name.
inline HostilePage hostilePage(std::string_view name) {
    const std::string body = "<body style='margin:0;background:#123456'>";
    if (name == "nested_tables") return {body + repeated("<table><tr><td>", 18) + "deep", "steps of work"};
    if (name == "descendant_selector")
        return {"<style>p div div div div div { color: red }</style>" + body + repeated("<div>", 500) + "deep",
                "steps of work"};
    if (name == "rules_over_spans") {
        std::string sheet;
        for (int i = 0; i < 6000; ++i) sheet += ".c" + std::to_string(i) + " span { color: #" + std::to_string(100 + i % 900) + " }\n";
        return {"<style>" + sheet + "</style>" + body + repeated("<span>a</span>", 9000), "steps of work"};
    }
    if (name == "truncated_images") {
        // Each cut short after its first chunks: the header claims 4096 × 4096.
        const std::string whole = plainPNG(4096, 4096, 0.1f);
        std::string images;
        for (int i = 0; i < 70; ++i)
            images += "<img src='" + pngDataURL(whole.substr(0, 100 + i)) + "' width=10 height=10>";
        return {body + images, ""};
    }
    if (name == "many_words") return {body + "<p>" + repeated("ab ", 600000), "text boxes"};
    if (name == "large_images")
        return {body + "<img src='" + pngDataURL(plainPNG(4096, 4096, 0.3f)) + "' style='width:100px;height:50px'>" +
                    "<img src='" + pngDataURL(plainPNG(4096, 4096, 0.6f)) + "' style='width:100px;height:50px'>",
                ""};
    if (name == "floats") {
        std::string floats;
        for (int i = 0; i < 9000; ++i)
            floats += "<div style='float:left;width:" + std::to_string(i % 50 + 1) + "px;height:" + std::to_string(i % 7 + 1) +
                      "px'></div>";
        return {body + floats, "steps of work"};
    }
    if (name == "stacked_layers") {
        std::string layers;
        for (int i = 0; i < 9000; ++i) layers += "<div class=l style='z-index:" + std::to_string(i) + "'></div>";
        return {"<style>.l { position: absolute; left: 0; top: 0; width: 100%; height: 100%;"
                " background: rgba(0, 0, 0, 0.01) }</style>" + body + layers,
                "steps of work"};
    }
    // Each test walks the siblings before (or after) the span: drawn, at
    // what those walks cost.
    if (name == "sibling_selectors")
        return {"<style>span:nth-child(3n+1) { color: red } span:nth-last-child(2) { color: blue }"
                " span ~ b { color: green }</style>" +
                    body + repeated("<span>a</span>", 9000),
                ""};
    // Comments, braces that close nothing, blocks nested deep and a selector of
    // many steps (no spaces: each space of a style text is a text box too).
    if (name == "style_text")
        return {"<style>" + repeated("/**/", 100000) + repeated("}", 100000) + repeated("@media{", 20000) +
                    "</style><style>" + repeated("a>", 200000) + "a{color:red}</style>" + body + "text",
                ""};
    // A span as large as an int holds: litehtml would make a grid cell for each column.
    if (name == "huge_colspan") return {body + "<table><tr><td colspan=2000000000>wide</td></tr></table>", ""};
    if (name == "wide_colspans")
        return {body + "<table>" + repeated("<tr><td colspan=100000>a</td><td>b</td></tr>", 100) + "</table>", ""};
    // Each row's cell spans all the rows below: a grid as wide as it is tall,
    // and a look up every column above for each place in it.
    if (name == "deep_rowspans")
        return {body + "<table>" + repeated("<tr><td rowspan=65534>a</td></tr>", 4000) + "</table>", "steps of work"};
    if (name == "rules_over_list_items") {
        std::string sheet;
        for (int i = 0; i < 15000; ++i) sheet += ".c" + std::to_string(i) + "{color:#" + std::to_string(100 + i % 900) + "}\n";
        return {"<style>" + sheet + "</style>" + body + "<ol>" + repeated("<li>a", 9500) + "</ol>", "steps of work"};
    }
    // Terms in one link and one span, as creatives write them: drawn. The
    // margin keeps the text off the corner the tests read.
    if (name == "long_inline_text")
        return {body + "<div style='margin-right:40px;font-size:4px;color:#ffffff'><a href='#terms'>" +
                    repeated("terms ", 1000) + "</a> <span>" + repeated("apply ", 1000) + "</span></div>",
                ""};
    if (name == "mixed_selectors") return {mixedPage(20240611, 2000, 12000), "steps of work"};
    // Rules that match every element: their declarations are parsed again
    // for each, shorthands and all.
    if (name == "matched_rules")
        return {"<style>" +
                    repeated("div { border: 1px solid #999; margin: 1px 2px; padding: 3px; background: #eee }\n", 100) +
                    "</style>" + body + repeated("<div>a</div>", 4000),
                "steps of work"};
    // Rows inside rows: litehtml wraps each in a table of its own making,
    // nested as deep as the rows are.
    if (name == "nested_table_rows")
        return {"<style>div { display: table-row }</style>" + body + repeated("<div>", 500) + "deep", "steps of work"};
    // Header groups in header groups, each with many properties: litehtml
    // looks each inherited property up through every ancestor, which costs
    // more than its steps say once the chain no longer fits the caches
    // (stopped by its processor time in an optimised build).
    if (name == "nested_header_groups")
        return {"<style>div { display: table-header-group; margin: 1px; padding: 1px; border: 0 solid red;"
                " min-width: 0; max-width: none; min-height: 0; max-height: none; overflow: visible;"
                " vertical-align: baseline; text-indent: 0; background-color: transparent; clear: none;"
                " float: none; position: static; left: auto; top: auto; width: auto; height: auto }</style>" +
                    body + repeated("<div>", 3000) + "deep",
                "steps of work"};
    // A ::before shown as a table cell and an ::after as a row, for each
    // element: litehtml wraps each in boxes of its own making up to a table.
    if (name == "table_pseudo_elements")
        return {"<style>b::before { content: 'before'; display: table-cell }"
                " b::after { content: 'after'; display: table-row }</style>" +
                    body + repeated("<b>x</b> ", 9000),
                "steps of work"};
    // Glyphs as large as a font may be, at many sizes (each size's glyphs
    // are new to the drawing), over the view and far past its right edge.
    if (name == "large_text_sizes") return {largeTextPage(printableCharacters(), 1000, 100), ""};
    if (name == "zoomed_headline") return {zoomedHeadline(600, 1000, 12), ""};
    // One word of small text far longer than the view is wide: its glyphs'
    // pictures are made once, and only those in the view are drawn.
    if (name == "long_word") return {body + "<p style='color:#ffffff;font-size:16px'>" + repeated("x", 1900000), ""};
    // An ad of 1,845 rules over 3,052 elements (390 KB): drawn in about 0.7 s
    // of processor time in an optimised build.
    if (name == "dense_ad") return {adPage(1, 1845, 3052), ""};
    // Numbers past what roman numerals write (litehtml writes an M per thousand).
    if (name == "roman_numerals")
        return {body + "<ol start=2000000000 style='list-style-type:upper-roman'>" + repeated("<li>a", 9000) + "</ol>", ""};
    return {};
}

}  // namespace webtest
