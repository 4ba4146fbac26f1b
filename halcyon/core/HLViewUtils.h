// The client's view extension: pinning a view to its superview with visual
// formats, and the interface-file loader (which finds nothing here: the
// platform loads no interface files). Main thread, as every view call.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui/UIView.h"

namespace HLUtils {

// The first top-level object of the interface file named `className` in the
// main bundle: always null, as no interface files are loaded.
Ref<NSObject> hl_instantiateFromXib(const std::string& className);
// Nothing without a superview; else turns off resizing-mask constraints and
// adds "H:|-left-[subview]-right-|" and "V:|-top-[subview]-bottom-|" to the
// superview.
void hl_pinToSuperviewWithTop(const Ref<UIView>& view, uint64_t top, uint64_t left, uint64_t bottom, uint64_t right);
void hl_pinToSuperview(const Ref<UIView>& view);

}  // namespace HLUtils
