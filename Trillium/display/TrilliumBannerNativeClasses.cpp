#include "Trillium/display/TrilliumBannerNativeClasses.h"

#include "Trillium/display/TRABannerAd.h"
#include "Trillium/display/TRABannerProxy.h"
#include "Trillium/display/TRABannerView.h"
#include "Trillium/display/TRANativeAd.h"
#include "Trillium/display/TRANativeAdDetails.h"
#include "Trillium/display/TRANativeAdModel.h"
#include "Trillium/display/TRANativeAdPreferences.h"
#include "Trillium/display/TRANativeAdRequest.h"
#include "Trillium/display/TRATrilliumNativeAd.h"
#include "platform/foundation/NSClassRegistry.h"

void registerTrilliumBannerNativeClasses() {
    NSClassRegistry::registerClass<TRABannerView>();
    NSClassRegistry::registerClass<TRABannerProxy>();
    NSClassRegistry::registerClass<TRABannerAd>();
    NSClassRegistry::registerClass<TRATrilliumNativeAd>();
    NSClassRegistry::registerClass<TRANativeAdPreferences>();
    NSClassRegistry::registerClass<TRANativeAdRequest>();
    NSClassRegistry::registerClass<TRANativeAd>();
    NSClassRegistry::registerClass<TRANativeAdModel>();
    NSClassRegistry::registerClass<TRANativeAdDetails>();
}
