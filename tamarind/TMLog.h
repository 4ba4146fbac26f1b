// The Tamarind client's levelled log: logDebug, logInfo, logWarn and logError
// write one formatted line ("%@" formatting) with the prefix "TamarindAd
// [Debug]: ", "[Info]", "[Warn]" or "[Error]" when the current level enables
// it. The level is process-wide and may be changed from any thread; the
// default, Warn, keeps warnings and errors. Lines a page's calls or
// navigations give go through logFolded, so that a page looping on a call
// writes a few lines, not one per call.
#pragma once

#include <string>
#include <string_view>

#include "platform/foundation/NSString.h"

namespace platform::web {
class RepeatedRefusals;
}

enum class TMLogLevel { Debug = 0, Info = 1, Warn = 2, Error = 3, None = 4 };

namespace TMLog {

void setLogLevel(TMLogLevel level);
TMLogLevel logLevel();
bool enabled(TMLogLevel level);
void write(TMLogLevel level, std::string_view message);
// "0x…": an object's address for log lines that name the instance.
std::string pointerText(const void* object);

template <class... Args>
void logDebug(std::string_view format, const Args&... args) {
    if (enabled(TMLogLevel::Debug)) write(TMLogLevel::Debug, NSString::stringWithFormat(format, args...));
}
template <class... Args>
void logInfo(std::string_view format, const Args&... args) {
    if (enabled(TMLogLevel::Info)) write(TMLogLevel::Info, NSString::stringWithFormat(format, args...));
}
template <class... Args>
void logWarn(std::string_view format, const Args&... args) {
    if (enabled(TMLogLevel::Warn)) write(TMLogLevel::Warn, NSString::stringWithFormat(format, args...));
}
template <class... Args>
void logError(std::string_view format, const Args&... args) {
    if (enabled(TMLogLevel::Error)) write(TMLogLevel::Error, NSString::stringWithFormat(format, args...));
}

// How often a folded line's count is written while its kind goes on.
inline constexpr double kFoldedLinePeriod = 10;

// A page-driven line, when `level` is enabled: folded with the earlier lines
// of `kind` in `lines` (the first at once, then a count per period while they
// go on) and written at `level`. Off the main thread it is written at once.
void writeFolded(platform::web::RepeatedRefusals& lines, TMLogLevel level, const std::string& kind, std::string line);
// writeFolded with the format as the line's kind.
template <class... Args>
void logFolded(platform::web::RepeatedRefusals& lines, TMLogLevel level, std::string_view format, const Args&... args) {
    if (enabled(level)) writeFolded(lines, level, std::string(format), NSString::stringWithFormat(format, args...));
}

}  // namespace TMLog
