#include "halcyon/core/HLTaskInitializeSdk.h"

#include <exception>

#include "halcyon/core/HLAdService.h"
#include "halcyon/core/HLAdSpec.h"
#include "halcyon/core/HLEventService.h"
#include "halcyon/core/HLFileManager.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLNativeAd.h"
#include "halcyon/core/HLPersistentPostbackManager.h"
#include "halcyon/core/HLPreloadedNativeAdManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLStringUtils.h"
#include "halcyon/core/HLSystemVersioning.h"
#include "halcyon/core/HLTaskAPISubmitData.h"
#include "halcyon/core/HLTaskManager.h"
#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Log.h"

namespace {
// The string hashing extension is linked when it hashes: a build without the
// client's extension functions cannot reach here at all, so this check
// guards against a broken one instead.
bool hlHashingExtensionPresent() {
    return HLUtils::hl_stringByHashingStringUsingEncoding(std::string_view("abc"), HLUtils::kHLHashSHA1) ==
           "a9993e364706816aba3e25717850c26c9cd0d89d";
}
}  // namespace

bool HLTaskInitializeSdk::prerequisitesHold() {
    // Both checks always run.
    bool hashing = hlHashingExtensionPresent();
    if (!hashing)
        NSLog("Warning: the -ObjC linker flag was not set in your project - this is required to use a static library "
              "such as the Halcyon SDK. Add -ObjC to Other Linker Flags in the target's build settings; see the "
              "platform's documentation on building and linking static libraries.");
    bool system = HLSystemVersioning::currentDeviceVersionIsAtMinimum("6.0");
    return hashing && system;
}

void HLTaskInitializeSdk::run() {
    const Ref<HLSdk>& sdk = this->sdk();
    if (!sdk) return;
    const Ref<HLLogManager>& log = sdk->logManager();
    bool missingPrerequisites = false;
    auto caught = platform::runtime::callCatching([&] {
        log->d(tag(), "Initializing Halcyon SDK %@...", HLSdk::version());
        if (!prerequisitesHold()) {
            missingPrerequisites = true;
            sdk->markInitialized(false);
            log->userError(tag(), "Couldn't initialize the Halcyon SDK due to missing prerequisites; make sure all "
                                  "linker flags are set and that the device is running iOS 6+");
            return;
        }
        sdk->fileManager()->compactCache();
        sdk->markInitialized(true);
        sdk->adService()->scheduleAdPreload();
        if (sdk->boolForKey(kHLSlotAdAutoPreloadNative))
            sdk->preloadedNativeAdManager()->fillPreloadQueueForSpec(HLNativeAd::specNative());
        sdk->taskManager()->execute(NSObject::alloc<HLTaskAPISubmitData>()->initWithSdk(sdk), 0);
        sdk->persistentPostbackManager()->flushPostbackQueue();
        if (auto landing = platform::runtime::callCatching([&] { sdk->eventService()->trackEvent("landing"); }))
            log->eBecauseOf(tag(), "Unable to track landing event", *landing);
        // Written once: a stored value is never overwritten, nor taken for
        // absent while the store cannot be read.
        auto defaults = NSUserDefaults::standardUserDefaults();
        if (defaults->isStoreRead() && !defaults->stringForKey(HLSdk::isFirstRunKey())) {
            defaults->setObject(Value("true"), HLSdk::isFirstRunKey());
            defaults->synchronize();
        }
    });
    if (caught) {
        log->e(tag(), "Unable to initialize SDK. Exception occured: %@", platform::shortenedForLog(*caught));
        sdk->markInitialized(false);
    }
    if (!missingPrerequisites) log->d(tag(), "Halcyon SDK initialization complete");
}
