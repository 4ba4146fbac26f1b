// The Trillium client's log: every line carries the prefix "Trillium: ",
// at the error or the information level. Lines a page's calls or
// navigations give go through the folded forms, so that a page looping on a
// bad navigation writes a few lines, not one per navigation.
#pragma once

#include <string>
#include <string_view>

#include "platform/foundation/NSString.h"

namespace platform::web {
class RepeatedRefusals;
}

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

// How often a folded line's count is written while its kind goes on.
inline constexpr double kFoldedLinePeriod = 10;

// A page-driven line, folded with the earlier lines of its format in `lines`
// (the first at once, then a count per period while they go on). Off the
// main thread it is written at once.
void writeFolded(platform::web::RepeatedRefusals& lines, bool isError, std::string_view kind, std::string message);
template <class... Args>
void errorFolded(platform::web::RepeatedRefusals& lines, std::string_view format, const Args&... args) {
    writeFolded(lines, true, format, NSString::stringWithFormat(format, args...));
}
template <class... Args>
void infoFolded(platform::web::RepeatedRefusals& lines, std::string_view format, const Args&... args) {
    writeFolded(lines, false, format, NSString::stringWithFormat(format, args...));
}

}  // namespace TRALog
