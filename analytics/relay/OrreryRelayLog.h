// Relay's diagnostics: printed only when the analytics log level is 2 or more.
#pragma once

#include <string_view>

#include "analytics/OrreryLog.h"
#include "platform/foundation/NSString.h"

namespace OrreryRelayLog {

inline void log(std::string_view message) { OrreryLog::log(OrreryLog::kDiagnostics, message); }

template <class... Args>
void log(std::string_view format, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) log(format);
    else OrreryLog::log(OrreryLog::kDiagnostics, NSString::stringWithFormat(format, args...));
}

}  // namespace OrreryRelayLog
