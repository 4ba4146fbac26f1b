// The platform as a fuzz target or a benchmark starts it: a fresh home folder
// under the temporary folder (also the bundle), the virtual clock, and no log
// output, which would drown the tool's own.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/foundation/Platform.h"
#include "platform/runtime/Log.h"

namespace platform {

// `name` names the home folder ("<name>-XXXXXX"), which is returned; aborts
// when it cannot be made.
inline std::string startQuietPlatform(const std::string& name) {
    std::string home = (std::filesystem::temp_directory_path() / (name + "-XXXXXX")).string();
    if (!::mkdtemp(home.data())) std::abort();
    PlatformOptions options;
    options.homeDirectory = home;
    options.bundlePath = home;
    options.clock = PlatformOptions::ClockKind::Virtual;
    setLogSink([](LogLevel, std::string_view) {});
    Platform::initialize(options);
    return home;
}

}  // namespace platform
