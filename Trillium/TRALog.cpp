#include "Trillium/TRALog.h"

#include <string>

#include "platform/runtime/Log.h"
#include "platform/web/RepeatedRefusals.h"

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

void writeFolded(platform::web::RepeatedRefusals& lines, bool isError, std::string_view kind, std::string message) {
    lines.refuse(std::string(kind), std::move(message), [isError](const std::string& line) {
        emit(isError ? platform::LogLevel::Error : platform::LogLevel::Info, line);
    });
}

}  // namespace TRALog
