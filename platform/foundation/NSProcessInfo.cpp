#include "platform/foundation/NSProcessInfo.h"

#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>

#include "platform/foundation/DeviceProfile.h"
#include "platform/runtime/Clock.h"

extern char** environ;

namespace platform {

Ref<NSProcessInfo> NSProcessInfo::processInfo() {
    // Never destroyed: other threads may use it during exit.
    static const Ref<NSProcessInfo>& info = *new Ref<NSProcessInfo>(NSProcessInfo::alloc<NSProcessInfo>());
    return info;
}

std::string NSProcessInfo::processName() const { return program_invocation_short_name; }

int NSProcessInfo::processIdentifier() const { return static_cast<int>(::getpid()); }

std::vector<std::string> NSProcessInfo::arguments() const {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    for (size_t start = 0; start < all.size();) {
        const size_t end = all.find('\0', start);
        args.push_back(all.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return args;
}

Value NSProcessInfo::environment() const {
    ValueDictionary env;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string text = *entry;
        const size_t equals = text.find('=');
        if (equals != std::string::npos) env.set(text.substr(0, equals), text.substr(equals + 1));
    }
    return Value(std::move(env));
}

double NSProcessInfo::systemUptime() const { return Clock::current()->uptime(); }

NSOperatingSystemVersion NSProcessInfo::operatingSystemVersion() const {
    NSOperatingSystemVersion version;
    DeviceProfile::current().systemVersionComponents(version.majorVersion, version.minorVersion, version.patchVersion);
    return version;
}

}  // namespace platform
