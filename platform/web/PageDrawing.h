// Internal to the web module: draws a web view's current document into a
// snapshot of the view that shows it (its PageScrollView), as the page's
// scripts left it (elements, attributes, inline styles, <style> sheets and
// the file or data style sheets it links), with litehtml through
// PageContainer: laid out for the view's width, scrolled to the top, clipped
// to the view. Nothing of the page runs and the document does not change.
// A document that does not lay out draws nothing (what lies beneath stays)
// and logs one line. One over the bounds below, or whose drawing passes a
// bound of PageContainer (work, text boxes, style pieces), draws only its own
// background (from its root, body and style sheets: kBackgroundElements) and
// logs one line naming the bound. What a drawing allocated is handed back to
// the system when it ends. Elements nested deeper than the parser builds
// (kMaximumDepth, which bounds the layout engine's recursion) are left out.
// Main thread.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "platform/ui/CGContext.h"
#include "platform/ui/CGGeometry.h"

namespace platform::testing {
// Test seam: the steps of work the last drawing of a page charged, from its
// start to where it was drawn or stopped (what drawing its background alone
// took is not counted), and the bound on them (PageContainer::kMaximumWork).
struct PageDrawingWork {
    size_t charged = 0;
    size_t bound = 0;
};
PageDrawingWork lastPageDrawingWork();
// Test seam: the processor time a drawing may take (PageContainer's
// kMaximumDrawingSeconds until set; 0 restores it), for the process.
void setPageDrawingTimeLimit(double seconds);
// Test seam: the steps of work between readings of a drawing's processor
// time (PageContainer's kStepsBetweenTimeChecks until set; 0 restores it),
// for the process.
void setPageDrawingStepsBetweenTimeChecks(size_t steps);
}  // namespace platform::testing

namespace platform::web {

class PageEnvironment;

class PageDrawing {
public:
    static constexpr size_t kMaximumElements = 10000;
    static constexpr size_t kMaximumMarkup = 2u << 20;  // characters
    // Nodes and attributes read (text nodes and attributes count too).
    static constexpr size_t kMaximumReads = 250000;
    // What a page's background is drawn from past a bound: its root and body
    // with their attributes, and the elements that carry its style sheets.
    static constexpr std::array<std::string_view, 5> kBackgroundElements{"html", "body", "style", "link", "base"};

    // Draws in the view's bounds space (`bounds` as the view's).
    static void draw(CGContextRef context, const PageEnvironment& page, CGRect bounds);
};

}  // namespace platform::web
