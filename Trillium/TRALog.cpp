#include "Trillium/TRALog.h"

#include <string>

#include "platform/runtime/Log.h"

namespace TRALog {

namespace {
void emit(platform::LogLevel level, std::string_view message) {
    std::string line = "Trillium: ";
    line.append(message);
    platform::log(level, line);
}
}  // namespace

void error(std::string_view message) { emit(platform::LogLevel::Error, message); }
void info(std::string_view message) { emit(platform::LogLevel::Info, message); }

}  // namespace TRALog
