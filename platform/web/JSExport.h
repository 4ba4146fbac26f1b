// Native objects exported into a script context: a class lists its methods
// by selector, and page script calls them under names made by the rule in
// jsNameForSelector.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/NSObject.h"
#include "platform/web/JSValue.h"

namespace platform {

class JSContext;

struct JSExportMethod {
    // Spelled as the selector: "addEvent:Listener:", "expand:", "getVersion".
    std::string selector;
    // Runs on main, synchronously, from page script. At least one argument
    // per colon of the selector (missing ones are undefined); extra ones are
    // passed on. A method without a result returns JSValue() (undefined).
    std::function<JSValue(JSContext& context, const std::vector<JSValue>& args)> call;
};

class JSExport : public virtual NSObjectProtocol {
public:
    // In declaration order.
    virtual std::vector<JSExportMethod> exportedMethods() const = 0;
};

// The script name of a selector: the colons dropped and the letter after each
// inner colon capitalised ("addEvent:Listener:" → "addEventListener").
std::string jsNameForSelector(std::string_view selector);

}  // namespace platform

using platform::JSExport;
using platform::JSExportMethod;
using platform::jsNameForSelector;
