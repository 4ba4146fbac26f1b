// The "C" locale as a handle, for number parsing and printing that must not
// follow the process locale (a "," decimal point must never reach a wire).
#pragma once

#include <locale.h>

namespace platform {

inline locale_t cLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

}  // namespace platform
