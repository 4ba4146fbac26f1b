#include "Trillium/display/TRAFullScreenAd.h"

#include "Trillium/TRALog.h"
#include "Trillium/TRAPlacementRequest.h"
#include "Trillium/display/TRALifecycleAdRequests.h"

Ref<TRAFullScreenAd> TRAFullScreenAd::initWithAdType(int64_t adType, int64_t eventType) {
    TRAHtmlAd::init();
    setAdType(adType);
    switch (eventType) {
        case 0: setAdRequest(NSObject::alloc<TRAOverlayAdRequest>()->init()); break;
        case 1: setAdRequest(NSObject::alloc<TRAReturnAdRequest>()->init()); break;
        case 2: setAdRequest(NSObject::alloc<TRASplashAdRequest>()->init()); break;
        default: TRALog::errorf("Event type %lld has no request; the ad cannot load.", eventType); break;
    }
    return self<TRAFullScreenAd>();
}
