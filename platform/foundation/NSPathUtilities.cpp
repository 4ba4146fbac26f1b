#include "platform/foundation/NSPathUtilities.h"

#include "platform/foundation/Platform.h"

namespace platform {

std::vector<std::string> NSSearchPathForDirectoriesInDomains(NSSearchPathDirectory directory,
                                                             unsigned long domainMask, bool expandTilde) {
    if ((domainMask & NSUserDomainMask) == 0) return {};
    const char* relative = nullptr;
    switch (directory) {
    case NSLibraryDirectory: relative = "Library"; break;
    case NSDocumentDirectory: relative = "Documents"; break;
    case NSCachesDirectory: relative = "Library/Caches"; break;
    case NSApplicationSupportDirectory: relative = "Library/Application Support"; break;
    }
    if (!relative) return {};
    return {(expandTilde ? NSHomeDirectory() : std::string("~")) + "/" + relative};
}

std::string NSHomeDirectory() { return Platform::homeDirectory(); }

std::string NSTemporaryDirectory() { return NSHomeDirectory() + "/tmp/"; }

}  // namespace platform
