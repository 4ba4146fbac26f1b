// NSLog: a formatted line with a time stamp, the process name, its id and the
// thread's id, through the process log sink; and the system log.
#pragma once

#include <string>
#include <string_view>

#include "platform/foundation/NSString.h"
#include "platform/runtime/Log.h"

namespace platform {

// Writes "<yyyy-MM-dd HH:mm:ss.SSS> <process>[<pid>:<tid>] <message>" (local
// time of the device's zone) as one line.
void NSLogMessage(std::string_view message, LogLevel level = LogLevel::Info);

// NSLog(fmt, args…): NSString::stringWithFormat, then one whole line.
template <class... Args>
void NSLog(std::string_view fmt, const Args&... args) {
    NSLogMessage(NSString::stringWithFormat(fmt, args...));
}

// The system log: the same line, with level System.
void systemLog(std::string_view message);

}  // namespace platform

using platform::NSLog;
