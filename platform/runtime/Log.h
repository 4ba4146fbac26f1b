// The process-wide log sink: one whole line per call, from any thread.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

enum class LogLevel { Debug, Info, Warning, Error, System };

// Writes one line through the installed sink (stderr by default, under a lock).
// Control bytes (line breaks included) and bytes that are not UTF-8 are
// written escaped (printableLogLine), so a line read from a damaged file, a
// key or a class name can neither break the log nor hide in it. A line whose
// escaped form passes kLogLineLimit bytes is cut there (between characters,
// never inside an escape), then "… (<n> bytes)", the length it was given: a
// backstop for outside text that reached a line unshortened.
inline constexpr size_t kLogLineLimit = 4096;
void log(LogLevel level, std::string_view line);
inline void logError(std::string_view line) { log(LogLevel::Error, line); }
inline void logInfo(std::string_view line) { log(LogLevel::Info, line); }

// The text with C0 controls and DEL as "\n", "\r", "\t" or "\xNN" and every
// byte outside a valid UTF-8 sequence as "\xNN"; other text unchanged.
std::string printableLogLine(std::string_view text);

// A text of any length that a page or a server supplies (a URL), fit for a
// log line: whole up to `limit` bytes; beyond, its start (cut before a UTF-8
// sequence, never within one) then "… (<n> bytes)", its whole length.
inline constexpr size_t kLoggedTextLimit = 200;
std::string shortenedForLog(std::string_view text, size_t limit = kLoggedTextLimit);
// The same for a text of which only the start is at hand (a long one need
// not be converted whole): `start` holds at least its first `limit` + 1
// bytes, or all of it; `length` is the whole text's.
std::string shortenedForLog(std::string_view start, size_t length, size_t limit);
// A URL fit for a log line: as shortenedForLog, its user name and password
// (the authority's text up to its last "@") replaced by "***" first, so that
// no part of them reaches a log. Text that is no URL is only shortened.
std::string urlForLog(std::string_view url, size_t limit = kLoggedTextLimit);
// The same for a URL of which only the start is at hand (as shortenedForLog's
// `start` and `length`). When the start ends inside the authority, all of the
// authority it shows is hidden: its "@" may lie past the start.
std::string urlForLog(std::string_view start, size_t length, size_t limit);

using LogSink = std::function<void(LogLevel, std::string_view)>;
// Replaces the sink (null restores stderr). Tests capture lines through it.
void setLogSink(LogSink sink);

}  // namespace platform
