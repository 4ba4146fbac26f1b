// The platform as a libFuzzer target starts it: a fresh home folder under the
// temporary folder (also the bundle), the virtual clock, and no log output,
// which would drown the fuzzer's own.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/foundation/Platform.h"
#include "platform/runtime/Log.h"

namespace platform::fuzzing {

// `name` names the home folder ("<name>-XXXXXX"); aborts when it cannot be made.
inline void startPlatform(const std::string& name) {
    std::string home = (std::filesystem::temp_directory_path() / (name + "-XXXXXX")).string();
    if (!::mkdtemp(home.data())) std::abort();
    PlatformOptions options;
    options.homeDirectory = home;
    options.bundlePath = home;
    options.clock = PlatformOptions::ClockKind::Virtual;
    platform::setLogSink([](platform::LogLevel, std::string_view) {});
    Platform::initialize(options);
}

}  // namespace platform::fuzzing
