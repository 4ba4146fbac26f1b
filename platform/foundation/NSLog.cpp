#include "platform/foundation/NSLog.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/foundation/NSDateFormatter.h"

namespace platform {

namespace {

// The program's own file name, not argv[0], which whatever started it may
// have set to anything ("exec -a"); argv[0]'s only where the executable's
// cannot be read. Never destroyed: other threads may log during exit.
const std::string& loggedProcessName() {
    static const std::string& name = *new std::string([] {
        std::error_code ec;
        std::string exe = std::filesystem::read_symlink("/proc/self/exe", ec).filename().string();
        constexpr std::string_view kDeleted = " (deleted)";
        if (exe.ends_with(kDeleted)) exe.resize(exe.size() - kDeleted.size());
        return exe.empty() ? std::string(program_invocation_short_name) : exe;
    }());
    return name;
}

}  // namespace

void NSLogMessage(std::string_view message, LogLevel level) {
    const NSDate now = NSDate::date();
    std::string line = NSDateFormatter::format(now, "yyyy-MM-dd HH:mm:ss.SSS", *NSTimeZone::localTimeZone());
    line += ' ';
    line += loggedProcessName();
    line += '[' + std::to_string(::getpid()) + ':' + std::to_string(static_cast<long>(::syscall(SYS_gettid))) + "] ";
    line += message;
    log(level, line);
}

void systemLog(std::string_view message) { NSLogMessage(message, LogLevel::System); }

}  // namespace platform
