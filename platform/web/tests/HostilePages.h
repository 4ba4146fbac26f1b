// Pages whose drawing litehtml would take seconds or hundreds of megabytes
// over, were it not bounded: one of each kind, by name, shared by the
// drawing's tests (page_drawing_bounds_test.cpp) and its benchmark
// (bench/web_page_drawing.cpp). Each page's own background is
// kHostileBackground, and each says which bound stops its drawing (none: it
// is drawn, within its resource bounds). Main thread, with the platform
// started (pictures are made through UIGraphics).
#pragma once

#include <array>
#include <cstdint>
#include <string>
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

// The pages, by name.
inline constexpr std::array<const char*, 10> kHostilePageNames{
    "nested_tables", "descendant_selector", "rules_over_spans", "truncated_images", "many_words",
    "large_images", "floats", "stacked_layers", "sibling_selectors", "style_text"};

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
    if (name == "sibling_selectors")
        return {"<style>span:nth-child(3n+1) { color: red } span:nth-last-child(2) { color: blue }"
                " span ~ b { color: green }</style>" +
                    body + repeated("<span>a</span>", 9000),
                "steps of work"};
    // Comments, braces that close nothing, blocks nested deep and a selector of
    // many steps (no spaces: each space of a style text is a text box too).
    if (name == "style_text")
        return {"<style>" + repeated("/**/", 100000) + repeated("}", 100000) + repeated("@media{", 20000) +
                    "</style><style>" + repeated("a>", 200000) + "a{color:red}</style>" + body + "text",
                ""};
    return {};
}

}  // namespace webtest
