// The process-wide log sink: one whole line per call, from any thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace platform {

enum class LogLevel { Debug, Info, Warning, Error, System };

// Writes one line through the installed sink (stderr by default, under a lock).
void log(LogLevel level, std::string_view line);
inline void logError(std::string_view line) { log(LogLevel::Error, line); }
inline void logInfo(std::string_view line) { log(LogLevel::Info, line); }

using LogSink = std::function<void(LogLevel, std::string_view)>;
// Replaces the sink (null restores stderr). Tests capture lines through it.
void setLogSink(LogSink sink);

}  // namespace platform
