// Internal to the web module: the elements a drawn page is laid out with.
// They are litehtml's own kinds, each charging the work litehtml does through
// it to its drawing (PageContainer::charge): selector matching, style look-ups,
// layout, floats, painting, and every walk over its children or floats. Style
// sheets and style attributes are tidied (PageStyleSheet) before litehtml
// parses them. Video and canvas elements are boxes whose pictures are never
// drawn. List items stay litehtml's own (their numbering is private to it):
// their work is charged through their parents and children. Main thread.
#pragma once

#include <litehtml/litehtml.h>

#include <memory>
#include <string_view>

namespace platform::web {

class PageContainer;

class PageElements {
public:
    // The element for a tag of the page; null for litehtml's own kind.
    static std::shared_ptr<litehtml::element> create(std::string_view tag,
                                                     const std::shared_ptr<litehtml::document>& document,
                                                     PageContainer& container);
};

}  // namespace platform::web
