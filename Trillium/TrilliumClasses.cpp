#include "Trillium/TrilliumClasses.h"

#include "Trillium/TRAAbstractAd.h"
#include "Trillium/TRAAdCache.h"
#include "Trillium/TRAAdPreferences.h"
#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRAAdVideoPreferences.h"
#include "Trillium/TRAAdapptManager.h"
#include "Trillium/TRAAnalytics.h"
#include "Trillium/TRABannerAdRequest.h"
#include "Trillium/TRACacheAdLoader.h"
#include "Trillium/TRACacheKey.h"
#include "Trillium/TRADataToBase64String.h"
#include "Trillium/TRAHtmlAd.h"
#include "Trillium/TRAJsonAd.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/TRANetworkData.h"
#include "Trillium/TRAPlacementRequest.h"
#include "Trillium/TRASDKPreferences.h"
#include "Trillium/TRATransportHttp.h"
#include "Trillium/TRATrilliumAd.h"
#include "Trillium/TRATrilliumSDK.h"
#include "Trillium/TRAVisualCache.h"
#include "platform/foundation/NSClassRegistry.h"

void registerTrilliumClasses() {
    NSClassRegistry::registerClass<TRATrilliumSDK>();
    NSClassRegistry::registerClass<TRAMetadata>();
    NSClassRegistry::registerClass<TRAAdapptManager>();
    NSClassRegistry::registerClass<TRANetworkData>();
    NSClassRegistry::registerClass<TRAReachability>();
    NSClassRegistry::registerClass<TRAAdCache>();
    NSClassRegistry::registerClass<TRACacheAdLoader>();
    NSClassRegistry::registerClass<TRACacheKey>();
    NSClassRegistry::registerClass<TRAVisualCache>();
    NSClassRegistry::registerClass<TRAAdSDKUtils>();
    NSClassRegistry::registerClass<TRAAnalytics>();
    NSClassRegistry::registerClass<TRATransportHttp>();
    NSClassRegistry::registerClass<TRADataToBase64String>();
    NSClassRegistry::registerClass<TRABaseRequest>();
    NSClassRegistry::registerClass<TRABannerAdRequest>();
    NSClassRegistry::registerClass<TRAFixedPlacementRequest>();
    NSClassRegistry::registerClass<TRAOverlayAdRequest>();
    NSClassRegistry::registerClass<TRASDKPreferences>();
    NSClassRegistry::registerClass<TRAAdPreferences>();
    NSClassRegistry::registerClass<TRAUserLocation>();
    NSClassRegistry::registerClass<TRAAbstractAd>();
    NSClassRegistry::registerClass<TRAAd>();
    NSClassRegistry::registerClass<TRAHtmlAd>();
    NSClassRegistry::registerClass<TRAJsonAd>();
    NSClassRegistry::registerClass<TRATrilliumAd>();
    NSClassRegistry::registerClass<TRAAdVideoPreferences>();
}
