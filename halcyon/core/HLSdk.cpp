#include "halcyon/core/HLSdk.h"

#include <map>
#include <mutex>

#include "halcyon/core/HLAdService.h"
#include "halcyon/core/HLConnectionManager.h"
#include "halcyon/core/HLDataCollector.h"
#include "halcyon/core/HLEventService.h"
#include "halcyon/core/HLFileManager.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLNativeAdService.h"
#include "halcyon/core/HLPersistentPostbackManager.h"
#include "halcyon/core/HLPostbackService.h"
#include "halcyon/core/HLPreloadedAdManager.h"
#include "halcyon/core/HLPreloadedNativeAdManager.h"
#include "halcyon/core/HLSdkSettings.h"
#include "halcyon/core/HLSettingsManager.h"
#include "halcyon/core/HLStatsManager.h"
#include "halcyon/core/HLTargetingData.h"
#include "halcyon/core/HLTaskInitializeSdk.h"
#include "halcyon/core/HLTaskManager.h"
#include "halcyon/core/HLUtils.h"
#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/runtime/NSThread.h"

namespace {
// The process-wide registry from SDK key to instance. Never destroyed: an
// instance lives as long as the process, and queued tasks may still reach
// it while the process exits.
struct HLSdkRegistry {
    std::mutex mutex;  // guards `instances`; held while an instance is created
    std::map<std::string, Ref<HLSdk>> instances;
};
HLSdkRegistry& hlSdkRegistry() {
    static auto* registry = new HLSdkRegistry;
    return *registry;
}

Ref<HLSdkSettings> hlInfoPlistSettings() {
    auto settings = NSObject::alloc<HLSdkSettings>()->init();
    settings->setIsVerboseLogging(HLUtils::verboseLoggingOn());
    settings->setAutoPreloadAdSizes(HLUtils::autoPreloadAdSizes());
    settings->setAutoPreloadAdTypes(HLUtils::autoPreloadAdTypes());
    return settings;
}
}  // namespace

// ---- Creation and the registry

Ref<HLSdk> HLSdk::shared() {
    std::optional<std::string> key = HLUtils::sdkKey();
    if (!key || key->empty()) {
        NSLog("Unable to find Halcyon SDK key. Please make sure that the SDK key is declared in your Info.plist file. "
              "The property name for the key should be HalcyonSdkKey, the value should your SDK key as shown on the "
              "Halcyon integration docs.");
        NSLog("If you are attempting to use [HLSdk sharedWithKey...], you must pass a reference to your SDK instance "
              "explicitly to HLAdView and HLInterstitialAd via [...initWithSdk]");
        Value stack = Value::array({});
        for (const std::string& frame : NSThread::callStackSymbols()) stack.append(frame);
        NSLog("Called with an invalid SDK key from: %@", stack);
        return nullptr;
    }
    return sharedWithKey(key, hlInfoPlistSettings());
}

Ref<HLSdk> HLSdk::sharedWithKey(const std::optional<std::string>& key) {
    return sharedWithKey(key, hlInfoPlistSettings());
}

Ref<HLSdk> HLSdk::sharedWithKey(const std::optional<std::string>& key, const Ref<HLSdkSettings>& settings) {
    if (!key || key->empty()) {
        NSLog("Halcyon SDK can not be created: no SDK key provided");
        return nullptr;
    }
    if (!settings) {
        NSLog("Halcyon SDK can not be created: no settings provided");
        return nullptr;
    }
    HLSdkRegistry& registry = hlSdkRegistry();
    // Created under the lock, so that racing callers for one key get one
    // instance and one initialisation.
    std::scoped_lock lock(registry.mutex);
    Ref<HLSdk>& instance = registry.instances[*key];
    if (!instance) instance = NSObject::alloc<HLSdk>()->initWithKey(*key, settings);
    return instance;
}

void HLSdk::initializeSdk() { shared(); }

Ref<HLSdk> HLSdk::initWithKey(std::string key, Ref<HLSdkSettings> settings) {
    Ref<HLSdk> sdk = self<HLSdk>();
    sdkKey_ = std::move(key);
    settings_ = std::move(settings);
    logManager_ = NSObject::alloc<HLLogManager>()->init();
    settingsManager_ = NSObject::alloc<HLSettingsManager>()->initWithSdk(sdk);
    handleSdkUpdate();
    connectionManager_ = NSObject::alloc<HLConnectionManager>()->initWithSdk(sdk);
    taskManager_ = NSObject::alloc<HLTaskManager>()->initWithSdk(sdk);
    statsManager_ = NSObject::alloc<HLStatsManager>()->initWithSdk(sdk);
    fileManager_ = NSObject::alloc<HLFileManager>()->initWithSdk(sdk);
    logManager_->d("HLSdk", "Initializing Halcyon SDK %@...", version());
    // From here on the verbose switch (slot 9) governs console output.
    logManager_->setSettingsManager(settingsManager_);
    adService_ = NSObject::alloc<HLAdService>()->initWithSdk(sdk);
    nativeAdService_ = NSObject::alloc<HLNativeAdService>()->initWithSdk(sdk);
    postbackService_ = NSObject::alloc<HLPostbackService>()->initWithSdk(sdk);
    eventService_ = NSObject::alloc<HLEventService>()->initWithSdk(sdk);
    preloadedAdManager_ = NSObject::alloc<HLPreloadedAdManager>()->initWithSdk(sdk);
    preloadedNativeAdManager_ = NSObject::alloc<HLPreloadedNativeAdManager>()->initWithSdk(sdk);
    persistentPostbackManager_ = NSObject::alloc<HLPersistentPostbackManager>()->initWithSdk(sdk);
    dataCollector_ = NSObject::alloc<HLDataCollector>()->initWithSdk(sdk);
    targetingData_ = NSObject::alloc<HLTargetingData>()->initWithSdk(sdk);

    settingsManager_->loadAll();
    statsManager_->loadAll();
    statsManager_->clearKey("ad_imp_session");
    if (settingsManager_->boolForKey(kHLSlotHonorPublisherSettings)) {
        settingsManager_->loadFromUserSettings(settings_);
        settingsManager_->persistAll();
    }
    // Read once the settings are in (the attempt limit applies as stored),
    // and before the start-up task flushes it.
    persistentPostbackManager_->loadStoredQueue();
    attemptInitialize();
    return sdk;
}

std::string HLSdk::lastKnownVersionCodeKey() { return std::string(kHLSdkIdentifier) + ".lastKnownVersionCode"; }
std::string HLSdk::isFirstRunKey() { return std::string(kHLSdkIdentifier) + ".isFirstRun"; }

void HLSdk::handleSdkUpdate() {
    auto defaults = NSUserDefaults::standardUserDefaults();
    // The version last run is not known while the store cannot be read: the
    // migration, which clears the stored settings, waits for a start that can tell.
    if (!defaults->isStoreRead()) {
        logManager_->d("HLSdk", "The version last run cannot be read now; an update is looked for at a later start");
        return;
    }
    auto last = static_cast<uint64_t>(defaults->integerForKey(lastKnownVersionCodeKey()));
    if (last > 342) {
        logManager_->d("HLSdk", "SDK has not been updated since last run. Continuing...");
    } else {
        NSLog("[HLTaskInitializeSdk] Handling an SDK update migration...");
        settingsManager_->clearAll();
        settingsManager_->persistAll();
    }
    defaults->setInteger(kHLSdkVersionCode, lastKnownVersionCodeKey());
    defaults->synchronize();
}

// ---- State

void HLSdk::attemptInitialize() {
    initializing_.store(true);
    taskManager_->executeInitTask(NSObject::alloc<HLTaskInitializeSdk>()->initWithSdk(self<HLSdk>()));
}

// The flags other than `initializing` are written first: a task that sees
// initialisation over then also sees its outcome.
void HLSdk::markInitialized(bool ok) {
    enabled_.store(ok);
    networkError_.store(false);
    initializing_.store(false);
}

void HLSdk::markNetworkError() {
    enabled_.store(false);
    networkError_.store(true);
    initializing_.store(false);
}

void HLSdk::resetSdkState() {
    targetingData_->clearAll();
    statsManager_->clearAll();
    settingsManager_->clearAll();
    settingsManager_->persistAll();
}

// ---- Settings

void HLSdk::setPluginVersion(const std::string& version) {
    settingsManager_->putString(version, kHLSlotPluginVersion);
    settingsManager_->persistAll();
}

std::optional<std::string> HLSdk::stringForKey(int64_t slot) const { return settingsManager_->stringForKey(slot); }
int64_t HLSdk::integerForKey(int64_t slot) const { return settingsManager_->integerForKey(slot); }
double HLSdk::timeIntervalForKey(int64_t slot) const { return settingsManager_->timeIntervalForKey(slot); }
bool HLSdk::boolForKey(int64_t slot) const { return settingsManager_->boolForKey(slot); }
Value HLSdk::numberForKey(int64_t slot) const { return settingsManager_->numberForKey(slot); }

std::vector<Ref<platform::NSLayoutConstraint>> HLSdk::constraintsForKeys(
    const std::vector<int64_t>& slots, const std::map<std::string, Ref<platform::UIView>>& bindings) const {
    return settingsManager_->constraintsForKeys(slots, bindings);
}
