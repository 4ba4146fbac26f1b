// The device's system identification as the device profile states it. Code
// never asks the C library, which would describe the host instead.
#pragma once

#include <string>

namespace platform {

struct UtsName {
    std::string sysname;   // the profile's systemName
    std::string nodename;  // the device's name
    std::string release;   // the profile's systemVersion
    std::string version;
    std::string machine;   // "iPhone8,1", "iPad5,3" or the profile's
};

UtsName uname();

}  // namespace platform
