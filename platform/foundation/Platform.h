// Start-up and shut-down of the platform layer: the main thread, the clock,
// the home and bundle folders, Info.plist, the device profile and the class
// registrations of every platform library.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/DeviceProfile.h"

namespace platform {

struct PlatformOptions {
    enum class ClockKind { System, Virtual };

    // Empty: env PLATFORM_HOME, else ~/.local/share/<CFBundleIdentifier>.
    std::string homeDirectory;
    // Empty: env PLATFORM_BUNDLE, else <executable dir>/resources.
    std::string bundlePath;
    ClockKind clock = ClockKind::System;
    // Absent: <home>/Library/DeviceProfile.plist when present, else the
    // profile as it stands (its defaults unless fields were set).
    std::optional<DeviceProfile> deviceProfile;
    // Atomic file writes flush the file and its folder to the disk before
    // they return. A home thrown away when the process ends needs no more
    // than the rename (a crash still leaves the old file or the new one
    // whole): false spares it the disk's waits.
    bool flushWritesToDisk = true;
};

class Platform {
public:
    // On the thread that becomes the main thread: records it, installs the
    // clock, loads Info.plist, creates the home folders (Documents, Library,
    // Library/Caches, Library/Preferences, tmp), settles the device profile and
    // runs the class registrations. May be called again after shutdown().
    static void initialize(const PlatformOptions& options = {});
    // Lets queued work finish and joins the worker threads.
    static void shutdown();
    static bool isInitialized();

    // The home folder (before initialize: where it would be without options).
    static std::string homeDirectory();
    // The main bundle's folder (before initialize: as above).
    static std::string bundlePath();
    // What PlatformOptions::flushWritesToDisk said (true before initialize).
    static bool flushesWritesToDisk();

    // Adds a class registration (a library's register…Classes function). It
    // runs at every initialize, and at once when the platform is already up.
    static void addClassRegistration(std::function<void()> registration);
};

}  // namespace platform

using platform::Platform;
using platform::PlatformOptions;
