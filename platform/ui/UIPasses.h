// Internal: the layout and display passes run at the end of every run-loop
// pass over the visible windows, top down, where views are marked.
#pragma once

#include "platform/runtime/NSObject.h"

namespace platform {

class UIView;

class UIPasses {
public:
    // Registers the two pass hooks with the main run loop (once per process).
    static void install();
    static void markLayoutDirty();
    static void markDisplayDirty();
    // Lays out `root`'s subtree where marked, top down.
    static void layoutTree(const Ref<UIView>& root);
    // Draws the marked views of `root`'s subtree.
    static void displayTree(const Ref<UIView>& root);
    static void runLayoutPass();
    static void runDisplayPass();
};

}  // namespace platform
