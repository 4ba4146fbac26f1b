// The application's standard folders, all under the home folder that
// Platform::initialize settled.
#pragma once

#include <string>
#include <vector>

namespace platform {

enum NSSearchPathDirectory : unsigned long {
    NSLibraryDirectory = 5,
    NSDocumentDirectory = 9,
    NSCachesDirectory = 13,
    NSApplicationSupportDirectory = 14,
};

enum NSSearchPathDomainMask : unsigned long {
    NSUserDomainMask = 1,
};

// <home>/Documents, <home>/Library/Caches, <home>/Library and
// <home>/Library/Application Support; "~/…" when expandTilde is false.
// Empty for a domain without the user domain.
std::vector<std::string> NSSearchPathForDirectoriesInDomains(NSSearchPathDirectory directory,
                                                             unsigned long domainMask, bool expandTilde);
// The home folder, without a trailing "/".
std::string NSHomeDirectory();
// <home>/tmp/ (with the trailing "/").
std::string NSTemporaryDirectory();

}  // namespace platform

using platform::NSApplicationSupportDirectory;
using platform::NSCachesDirectory;
using platform::NSDocumentDirectory;
using platform::NSHomeDirectory;
using platform::NSLibraryDirectory;
using platform::NSSearchPathDirectory;
using platform::NSSearchPathDomainMask;
using platform::NSSearchPathForDirectoriesInDomains;
using platform::NSTemporaryDirectory;
using platform::NSUserDomainMask;
