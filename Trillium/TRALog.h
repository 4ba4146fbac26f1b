// The Trillium client's log: every line carries the prefix "Trillium: ",
// at the error or the information level.
#pragma once

#include <string_view>

#include "platform/foundation/NSString.h"

namespace TRALog {

void error(std::string_view message);
void info(std::string_view message);

template <class... Args>
void errorf(std::string_view format, const Args&... args) {
    error(NSString::stringWithFormat(format, args...));
}
template <class... Args>
void infof(std::string_view format, const Args&... args) {
    info(NSString::stringWithFormat(format, args...));
}

}  // namespace TRALog
