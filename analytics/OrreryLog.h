// The analytics client's levelled log: every line carries the prefix
// "Orrery: "; errors always print, other lines only up to the set log level.
#pragma once

#include <string_view>

namespace OrreryLog {

// Log levels as the application sets them (Orrery::setLogLevel): 0 errors
// only, 1 information, 2 and more diagnostics (Relay prints at 2 or more).
inline constexpr int kErrors = 0;
inline constexpr int kInfo = 1;
inline constexpr int kDiagnostics = 2;

// Always printed.
void error(std::string_view message);
// Printed when the log level is at least `minLevel`.
void log(int minLevel, std::string_view message);

}  // namespace OrreryLog
