// The Halcyon client's root object (public): one instance per SDK key, kept
// for the life of the process. It owns every manager and service of the
// client, holds the start-up state flags and forwards typed settings reads by
// slot. Creating it starts the client: the initialisation task runs on queue
// 0, and tasks wait on queue 1 until it ends.
//
// The application calls shared() (key from Info.plist "HalcyonSdkKey") or
// sharedWithKey(key, settings) from any thread; concurrent calls for one key
// yield one instance and one initialisation. Its user-defaults keys begin
// with kHLSdkIdentifier: ".lastKnownVersionCode" and ".isFirstRun".
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "halcyon/core/HLConstants.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

namespace platform {
class NSLayoutConstraint;
class UIView;
}  // namespace platform

class HLAdService;
class HLConnectionManager;
class HLDataCollector;
class HLEventService;
class HLFileManager;
class HLLogManager;
class HLNativeAdService;
class HLPersistentPostbackManager;
class HLPostbackService;
class HLPreloadedAdManager;
class HLPreloadedNativeAdManager;
class HLSdkSettings;
class HLSettingsManager;
class HLStatsManager;
class HLTargetingData;
class HLTaskManager;

class HLSdk : public NSObject {
public:
    // "3.4.3".
    static std::string version() { return kHLSdkVersion; }
    // The instance for the Info.plist key; null (with three console lines)
    // when the key is missing or empty.
    static Ref<HLSdk> shared();
    // With publisher settings built from the Info.plist switches.
    static Ref<HLSdk> sharedWithKey(const std::optional<std::string>& key);
    // The registered instance for `key`, created and registered when there is
    // none. Null (with a console line) for an empty key or null settings.
    static Ref<HLSdk> sharedWithKey(const std::optional<std::string>& key, const Ref<HLSdkSettings>& settings);
    // Creates (and so initialises) the shared instance.
    static void initializeSdk();

    // Builds the managers in their fixed order, runs the update check, loads
    // the stored settings, applies the publisher's and starts initialising.
    // Not registered: the registry is sharedWithKey's.
    Ref<HLSdk> initWithKey(std::string key, Ref<HLSdkSettings> settings);

    const std::string& sdkKey() const { return sdkKey_; }
    const Ref<HLSdkSettings>& settings() const { return settings_; }
    const Ref<HLLogManager>& logManager() const { return logManager_; }
    const Ref<HLSettingsManager>& settingsManager() const { return settingsManager_; }
    const Ref<HLConnectionManager>& connectionManager() const { return connectionManager_; }
    const Ref<HLTaskManager>& taskManager() const { return taskManager_; }
    const Ref<HLStatsManager>& statsManager() const { return statsManager_; }
    const Ref<HLFileManager>& fileManager() const { return fileManager_; }
    const Ref<HLAdService>& adService() const { return adService_; }
    const Ref<HLNativeAdService>& nativeAdService() const { return nativeAdService_; }
    const Ref<HLPostbackService>& postbackService() const { return postbackService_; }
    const Ref<HLEventService>& eventService() const { return eventService_; }
    const Ref<HLPreloadedAdManager>& preloadedAdManager() const { return preloadedAdManager_; }
    const Ref<HLPreloadedNativeAdManager>& preloadedNativeAdManager() const { return preloadedNativeAdManager_; }
    const Ref<HLPersistentPostbackManager>& persistentPostbackManager() const { return persistentPostbackManager_; }
    const Ref<HLDataCollector>& dataCollector() const { return dataCollector_; }
    const Ref<HLTargetingData>& targetingData() const { return targetingData_; }

    // Slot 10, persisted.
    void setPluginVersion(const std::string& version);

    // Settings by slot (see HLSettingsManager).
    std::optional<std::string> stringForKey(int64_t slot) const;
    int64_t integerForKey(int64_t slot) const;
    double timeIntervalForKey(int64_t slot) const;
    bool boolForKey(int64_t slot) const;
    Value numberForKey(int64_t slot) const;
    std::vector<Ref<platform::NSLayoutConstraint>> constraintsForKeys(
        const std::vector<int64_t>& slots, const std::map<std::string, Ref<platform::UIView>>& bindings) const;

    // State flags: read and written from every queue.
    bool isInitializing() const { return initializing_.load(); }
    bool isEnabled() const { return enabled_.load(); }
    bool hasNetworkError() const { return networkError_.load(); }
    bool isEnabledAndInitialized() const { return enabled_.load(); }
    // initializing true, then an HLTaskInitializeSdk run directly on queue 0.
    void attemptInitialize();
    void markInitialized(bool ok);
    void markNetworkError();

    // Targeting, counters and settings cleared, the empty settings persisted:
    // the server refused the key.
    void resetSdkState();

    // The user-defaults keys of the version check and the first-run flag.
    static std::string lastKnownVersionCodeKey();
    static std::string isFirstRunKey();

private:
    void handleSdkUpdate();

    std::string sdkKey_;
    Ref<HLSdkSettings> settings_;
    Ref<HLLogManager> logManager_;
    Ref<HLSettingsManager> settingsManager_;
    Ref<HLConnectionManager> connectionManager_;
    Ref<HLTaskManager> taskManager_;
    Ref<HLStatsManager> statsManager_;
    Ref<HLFileManager> fileManager_;
    Ref<HLAdService> adService_;
    Ref<HLNativeAdService> nativeAdService_;
    Ref<HLPostbackService> postbackService_;
    Ref<HLEventService> eventService_;
    Ref<HLPreloadedAdManager> preloadedAdManager_;
    Ref<HLPreloadedNativeAdManager> preloadedNativeAdManager_;
    Ref<HLPersistentPostbackManager> persistentPostbackManager_;
    Ref<HLDataCollector> dataCollector_;
    Ref<HLTargetingData> targetingData_;

    std::atomic<bool> initializing_{false};
    std::atomic<bool> enabled_{false};
    std::atomic<bool> networkError_{false};
};
