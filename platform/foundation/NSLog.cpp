#include "platform/foundation/NSLog.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "platform/foundation/NSDateFormatter.h"

namespace platform {

void NSLogMessage(std::string_view message, LogLevel level) {
    const NSDate now = NSDate::date();
    std::string line = NSDateFormatter::format(now, "yyyy-MM-dd HH:mm:ss.SSS", *NSTimeZone::localTimeZone());
    line += ' ';
    line += program_invocation_short_name;
    line += '[' + std::to_string(::getpid()) + ':' + std::to_string(static_cast<long>(::syscall(SYS_gettid))) + "] ";
    line += message;
    log(level, line);
}

void systemLog(std::string_view message) { NSLogMessage(message, LogLevel::System); }

}  // namespace platform
