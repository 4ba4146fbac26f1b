#include "platform/foundation/Platform.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

#include "platform/foundation/ASIdentifierManager.h"
#include "platform/foundation/CLLocationManager.h"
#include "platform/foundation/CTTelephonyNetworkInfo.h"
#include "platform/foundation/DeviceLocale.h"
#include "platform/foundation/NSClassRegistry.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/NSURL.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSThread.h"
#include "platform/runtime/SystemClock.h"
#include "platform/runtime/VirtualClock.h"

namespace platform {

namespace {

struct State {
    std::mutex mutex;
    bool initialized = false;
    std::string home;
    std::string bundle;
    std::vector<std::function<void()>> registrations;
    std::atomic<bool> flushWritesToDisk{true};  // read by every atomic write, on any thread
};

State& state() {
    // Never destroyed: other threads may use it during exit.
    static State& s = *new State();
    return s;
}

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string executableFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::current_path(ec).string() : exe.parent_path().string();
}

std::string resolveBundlePath(const PlatformOptions& options) {
    if (!options.bundlePath.empty()) return withoutTrailingSlash(options.bundlePath);
    if (std::string env = environment("PLATFORM_BUNDLE"); !env.empty()) return withoutTrailingSlash(env);
    return executableFolder() + "/resources";
}

std::string resolveHomeDirectory(const PlatformOptions& options, const std::optional<std::string>& bundleIdentifier) {
    if (!options.homeDirectory.empty()) return withoutTrailingSlash(options.homeDirectory);
    if (std::string env = environment("PLATFORM_HOME"); !env.empty()) return withoutTrailingSlash(env);
    std::string user = environment("HOME");
    if (user.empty()) user = "/tmp";
    const std::string name =
        bundleIdentifier && !bundleIdentifier->empty() ? *bundleIdentifier : std::string(program_invocation_short_name);
    return withoutTrailingSlash(user) + "/.local/share/" + name;
}

void createHomeFolders(const std::string& home) {
    for (const char* folder : {"Documents", "Library", "Library/Caches", "Library/Preferences", "tmp"}) {
        std::error_code ec;
        std::filesystem::create_directories(home + "/" + folder, ec);
        if (ec) log(LogLevel::Error, "Platform: cannot create " + home + "/" + folder + ": " + ec.message());
    }
}

void settleDeviceProfile(const PlatformOptions& options, const std::string& home) {
    if (options.deviceProfile) {
        DeviceProfile::current() = *options.deviceProfile;
    } else if (std::optional<Value> stored = PropertyList::valueWithContentsOfFile(home + "/Library/DeviceProfile.plist")) {
        DeviceProfile::current() = DeviceProfile::fromValue(*stored);
    }
    DeviceProfile::reloadPersistedIdentifiers();
    // Time zone and locale answer from the profile from now on.
    setDeviceLocaleSource([] {
        const DeviceProfile& profile = DeviceProfile::current();
        return DeviceLocaleFacts{profile.timeZoneName, profile.localeIdentifier, profile.preferredLanguages};
    });
}

// The device-fact classes that clients look up by name, and the archivable ones.
void registerFoundationClasses() {
    NSClassRegistry::registerClass<ASIdentifierManager>();
    NSClassRegistry::registerClass<CLLocationManager>();
    NSClassRegistry::registerClass<CTCarrier>();
    NSClassRegistry::registerClass<CTTelephonyNetworkInfo>();
    NSClassRegistry::registerClass<NSURL>();  // archived by keyed archives
}

}  // namespace

void Platform::initialize(const PlatformOptions& options) {
    runtime::setMainThread();
    if (options.clock == PlatformOptions::ClockKind::Virtual) Clock::setCurrent(std::make_shared<VirtualClock>());
    else Clock::setCurrent(std::make_shared<SystemClock>());

    state().flushWritesToDisk = options.flushWritesToDisk;
    const std::string bundle = resolveBundlePath(options);
    {
        std::scoped_lock lock(state().mutex);
        state().bundle = bundle;
    }
    NSBundle::loadMainBundle(bundle);

    const std::string home = resolveHomeDirectory(options, NSBundle::mainBundle()->bundleIdentifier());
    {
        std::scoped_lock lock(state().mutex);
        state().home = home;
    }
    createHomeFolders(home);
    settleDeviceProfile(options, home);
    NSUserDefaults::resetStandardUserDefaults();

    registerFoundationClasses();
    std::vector<std::function<void()>> registrations;
    {
        std::scoped_lock lock(state().mutex);
        registrations = state().registrations;
        state().initialized = true;
    }
    for (const auto& registration : registrations) runtime::callAtBoundary(registration, "class registration");
}

void Platform::shutdown() {
    runtime::shutdownWorkerPool();
    std::scoped_lock lock(state().mutex);
    state().initialized = false;
}

bool Platform::isInitialized() {
    std::scoped_lock lock(state().mutex);
    return state().initialized;
}

std::string Platform::homeDirectory() {
    {
        std::scoped_lock lock(state().mutex);
        if (!state().home.empty()) return state().home;
    }
    return resolveHomeDirectory({}, NSBundle::mainBundle()->bundleIdentifier());
}

std::string Platform::bundlePath() {
    {
        std::scoped_lock lock(state().mutex);
        if (!state().bundle.empty()) return state().bundle;
    }
    return resolveBundlePath({});
}

bool Platform::flushesWritesToDisk() { return state().flushWritesToDisk.load(); }

void Platform::addClassRegistration(std::function<void()> registration) {
    if (!registration) return;
    bool runNow = false;
    {
        std::scoped_lock lock(state().mutex);
        state().registrations.push_back(registration);
        runNow = state().initialized;
    }
    if (runNow) runtime::callAtBoundary(registration, "class registration");
}

}  // namespace platform
