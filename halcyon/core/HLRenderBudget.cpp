#include "halcyon/core/HLRenderBudget.h"

#include <algorithm>

std::optional<std::string> HLRenderBudget::expand(std::string_view text, std::string_view macro,
                                                  std::string_view value) {
    if (isSpent()) return std::nullopt;
    size_t count = 0;
    if (!macro.empty())
        for (size_t at = text.find(macro); at != std::string_view::npos; at = text.find(macro, at + macro.size()))
            ++count;
    // The result's length, compared without overflow: the text without the
    // macros, then count × the value against what the bounds leave.
    const size_t limit = std::min(kMaximumAddressLength, remaining());
    const size_t rest = text.size() - count * macro.size();
    if (rest > limit || (count > 0 && value.size() > (limit - rest) / count)) {
        spend(limit == kMaximumAddressLength
                  ? "an address would pass " + std::to_string(kMaximumAddressLength) + " bytes"
                  : "the render would pass " + std::to_string(kMaximumRenderedLength) + " bytes");
        return std::nullopt;
    }
    std::string out;
    out.reserve(rest + count * value.size());
    size_t from = 0;
    for (size_t at = count ? text.find(macro) : std::string_view::npos; at != std::string_view::npos;
         at = text.find(macro, from)) {
        out.append(text, from, at - from);
        out.append(value);
        from = at + macro.size();
    }
    out.append(text, from, std::string_view::npos);
    return out;
}

bool HLRenderBudget::admitAddress(std::string_view address) {
    if (isSpent()) return false;
    if (address.size() > kMaximumAddressLength) {
        spend("an address would pass " + std::to_string(kMaximumAddressLength) + " bytes");
        return false;
    }
    return admit(address.size());
}

bool HLRenderBudget::admit(size_t length) {
    if (isSpent()) return false;
    if (length > remaining()) {
        spend("the render would pass " + std::to_string(kMaximumRenderedLength) + " bytes");
        return false;
    }
    used_ += length;
    return true;
}

void HLRenderBudget::spend(std::string reason) {
    if (!isSpent()) failure_ = std::move(reason);
}
