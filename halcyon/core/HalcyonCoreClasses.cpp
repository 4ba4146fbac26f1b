#include "halcyon/core/HalcyonCoreClasses.h"

#include "halcyon/core/HLAd.h"
#include "halcyon/core/HLAdLoadState.h"
#include "halcyon/core/HLAdService.h"
#include "halcyon/core/HLAdServicePostbackProxy.h"
#include "halcyon/core/HLAdSize.h"
#include "halcyon/core/HLAdSpec.h"
#include "halcyon/core/HLAdType.h"
#include "halcyon/core/HLConnectionManager.h"
#include "halcyon/core/HLConnectionUtils.h"
#include "halcyon/core/HLDataCollector.h"
#include "halcyon/core/HLEvent.h"
#include "halcyon/core/HLEventService.h"
#include "halcyon/core/HLFileManager.h"
#include "halcyon/core/HLInternalSdkSettings.h"
#include "halcyon/core/HLLRUCache.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLNativeAd.h"
#include "halcyon/core/HLNativeAdLoadCoordinator.h"
#include "halcyon/core/HLNativeAdService.h"
#include "halcyon/core/HLNativeAdUserBasedPrecacheCoordinator.h"
#include "halcyon/core/HLPersistentPostbackManager.h"
#include "halcyon/core/HLPostbackRequest.h"
#include "halcyon/core/HLPostbackService.h"
#include "halcyon/core/HLPreloadedAdManager.h"
#include "halcyon/core/HLPreloadedAdQueue.h"
#include "halcyon/core/HLPreloadedNativeAdManager.h"
#include "halcyon/core/HLReachability.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLSdkSettings.h"
#include "halcyon/core/HLSettingsManager.h"
#include "halcyon/core/HLStatsManager.h"
#include "halcyon/core/HLSystemVersioning.h"
#include "halcyon/core/HLTargetingData.h"
#include "halcyon/core/HLTaskAPISubmitData.h"
#include "halcyon/core/HLTaskCacheNativeAdBase.h"
#include "halcyon/core/HLTaskDispatchPostback.h"
#include "halcyon/core/HLTaskInitializeSdk.h"
#include "halcyon/core/HLTaskFetchNextAd.h"
#include "halcyon/core/HLTaskFetchNextNativeAd.h"
#include "halcyon/core/HLTaskManager.h"
#include "halcyon/core/HLTaskRenderIOSAd.h"
#include "halcyon/core/HLTaskRenderNativeAd.h"
#include "halcyon/core/HLTaskRepeatRequest.h"
#include "halcyon/core/HLTaskTimer.h"
#include "halcyon/core/HLUpdateAdTask.h"
#include "halcyon/core/HLVideoButtonProperties.h"
#include "platform/foundation/NSClassRegistry.h"

void registerHalcyonCoreClasses() {
    NSClassRegistry::registerClass<HLSdk>();
    NSClassRegistry::registerClass<HLSdkSettings>();
    NSClassRegistry::registerClass<HLInternalSdkSettings>();
    NSClassRegistry::registerClass<HLSettingsManager>();
    NSClassRegistry::registerClass<HLLogManager>();
    NSClassRegistry::registerClass<HLTaskManager>();
    NSClassRegistry::registerClass<HLScheduledOperation>();
    NSClassRegistry::registerClass<HLTask>();
    NSClassRegistry::registerClass<HLTaskTimer>();
    NSClassRegistry::registerClass<HLTimedTaskResult>();
    NSClassRegistry::registerClass<HLTaskInitializeSdk>();
    NSClassRegistry::registerClass<HLConnectionManager>();
    NSClassRegistry::registerClass<HLConnectionUtils>();
    NSClassRegistry::registerClass<HLTaskRepeatRequest>();
    NSClassRegistry::registerClass<HLDataCollector>();
    NSClassRegistry::registerClass<HLTaskAPISubmitData>();
    NSClassRegistry::registerClass<HLReachability>();
    NSClassRegistry::registerClass<HLSystemVersioning>();
    NSClassRegistry::registerClass<HLAdSize>();
    NSClassRegistry::registerClass<HLAdType>();
    NSClassRegistry::registerClass<HLAdSpec>();
    NSClassRegistry::registerClass<HLAd>();
    NSClassRegistry::registerClass<HLStatsManager>();
    NSClassRegistry::registerClass<HLFileManager>();
    NSClassRegistry::registerClass<HLAdService>();
    NSClassRegistry::registerClass<HLAdLoadState>();
    NSClassRegistry::registerClass<HLAdServiceLoadProxy>();
    NSClassRegistry::registerClass<HLAdServicePostbackProxy>();
    NSClassRegistry::registerClass<HLAdServiceVideoPostbackProxy>();
    NSClassRegistry::registerClass<HLUpdateAdTask>();
    NSClassRegistry::registerClass<HLTaskFetchNextAd>();
    NSClassRegistry::registerClass<HLTaskRenderAd>();
    NSClassRegistry::registerClass<HLTaskRenderIOSAd>();
    NSClassRegistry::registerClass<HLVideoButtonProperties>();
    NSClassRegistry::registerClass<HLPreloadedAdQueue>();
    NSClassRegistry::registerClass<HLNativeAdService>();
    NSClassRegistry::registerClass<HLPostbackService>();
    NSClassRegistry::registerClass<HLEventService>();
    NSClassRegistry::registerClass<HLPreloadedAdManager>();
    NSClassRegistry::registerClass<HLPreloadedNativeAdManager>();
    NSClassRegistry::registerClass<HLPersistentPostbackManager>();
    NSClassRegistry::registerClass<HLTargetingData>();
    NSClassRegistry::registerClass<HLPostbackRequest>();
    NSClassRegistry::registerClass<HLPersistentPostbackManagerDelegateProxy>();
    NSClassRegistry::registerClass<HLTaskDispatchPostback>();
    NSClassRegistry::registerClass<HLEvent>();
    NSClassRegistry::registerClass<HLLRUCache>();
    NSClassRegistry::registerClass<HLLRUCacheEntry>();
    NSClassRegistry::registerClass<HLNativeAd>();
    NSClassRegistry::registerClass<HLNativeAdLoadCoordinator>();
    NSClassRegistry::registerClass<HLNativeAdUserBasedPrecacheCoordinator>();
    NSClassRegistry::registerClass<HLTaskFetchNextNativeAd>();
    NSClassRegistry::registerClass<HLTaskRenderNativeAd>();
    NSClassRegistry::registerClass<HLTaskCacheNativeAdImages>();
    NSClassRegistry::registerClass<HLTaskCacheNativeAdVideos>();
}
