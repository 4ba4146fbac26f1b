#include "platform/ui/UIPasses.h"

#include <mutex>

#include "platform/runtime/NSRunLoop.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIView.h"
#include "platform/ui/UIWindow.h"

namespace platform {

namespace {
// Main-thread flags: something may need layout / display.
bool layoutDirty = false;
bool displayDirty = false;
}  // namespace

void UIPasses::install() {
    static std::once_flag once;
    std::call_once(once, [] {
        runtime::addPassHook(runtime::PassPhase::Layout, [] { runLayoutPass(); });
        runtime::addPassHook(runtime::PassPhase::Display, [] { runDisplayPass(); });
    });
}

void UIPasses::markLayoutDirty() { layoutDirty = true; }
void UIPasses::markDisplayDirty() { displayDirty = true; }

void UIPasses::layoutTree(const Ref<UIView>& root) {
    if (!root) return;
    if (root->needsLayout()) root->layoutOwnSubviews();
    for (const auto& sub : root->subviews()) layoutTree(sub);
}

void UIPasses::displayTree(const Ref<UIView>& root) {
    if (!root) return;
    if (root->needsDisplay()) root->displayNow(UIScreen::mainScreen()->scale());
    for (const auto& sub : root->subviews()) displayTree(sub);
}

void UIPasses::runLayoutPass() {
    if (!layoutDirty) return;
    layoutDirty = false;
    for (const auto& w : UIWindow::visibleWindows()) layoutTree(w);
}

void UIPasses::runDisplayPass() {
    if (!displayDirty) return;
    displayDirty = false;
    for (const auto& w : UIWindow::visibleWindows()) displayTree(w);
}

}  // namespace platform
