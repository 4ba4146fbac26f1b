// Internal to the net module: ordered header lists with case-insensitive names.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/NSString.h"

namespace platform::net {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

inline bool sameFieldName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && NSString::caseInsensitiveCompare(a, b) == NSComparisonResult::OrderedSame;
}

inline const std::string* findField(const HeaderList& list, std::string_view name) {
    for (const auto& [n, v] : list)
        if (sameFieldName(n, name)) return &v;
    return nullptr;
}

}  // namespace platform::net
