// Internal to the web module: the elements a drawn page is laid out with,
// every one of them (litehtml makes only words, white space, ::before and
// ::after, and the anonymous boxes its table fix-ups add, whose work is
// charged through their parents and children). They are litehtml's own
// kinds, each charging the work litehtml does through it to its drawing
// (PageContainer::charge): selector matching, style look-ups, layout, floats,
// painting, tables' grids, and the children or floats each call walks over.
// Style sheets and style attributes are tidied (PageStyleSheet) before
// litehtml parses them, and so are what litehtml cannot lay out safely: a
// table cell's spans are read as HTML reads them, and the root's display is a
// block box's (PageElements.cpp). Video and canvas elements are boxes whose
// pictures are never drawn; list items are numbered in one walk over their
// list. Main thread.
#pragma once

#include <litehtml/litehtml.h>

#include <memory>
#include <string_view>

namespace platform::web {

class PageContainer;

class PageElements {
public:
    // The element for a tag of the page.
    static std::shared_ptr<litehtml::element> create(std::string_view tag,
                                                     const std::shared_ptr<litehtml::document>& document,
                                                     PageContainer& container);
};

}  // namespace platform::web
