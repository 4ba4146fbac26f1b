#include "analytics/OrreryLog.h"

#include <string>

#include "analytics/OrreryUtil.h"
#include "platform/runtime/Log.h"

namespace OrreryLog {

namespace {
void emit(platform::LogLevel level, std::string_view message) {
    std::string line = "Orrery: ";
    line.append(message);
    platform::log(level, line);
}
}  // namespace

void error(std::string_view message) { emit(platform::LogLevel::Error, message); }

void log(int minLevel, std::string_view message) {
    if (OrreryUtil::logLevel() >= minLevel) emit(platform::LogLevel::Info, message);
}

}  // namespace OrreryLog
