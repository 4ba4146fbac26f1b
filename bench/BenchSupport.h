// What the benchmark programs share: the platform started once per process
// on a fresh home folder and the virtual clock, with its log lines dropped.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/foundation/Platform.h"
#include "platform/runtime/Log.h"

// Starts the platform (once; later calls do nothing) and returns its home folder.
inline const std::string& startBenchPlatform(const char* name) {
    static const std::string home = [name] {
        std::string folder = (std::filesystem::temp_directory_path() / (std::string(name) + "-XXXXXX")).string();
        if (!::mkdtemp(folder.data())) std::abort();
        PlatformOptions options;
        options.homeDirectory = folder;
        options.bundlePath = folder;
        options.clock = PlatformOptions::ClockKind::Virtual;
        platform::setLogSink([](platform::LogLevel, std::string_view) {});
        Platform::initialize(options);
        return folder;
    }();
    return home;
}
