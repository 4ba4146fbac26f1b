#include "Trillium/display/TRATrilliumAdBasic.h"

#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRAHtmlAd.h"
#include "Trillium/TRALog.h"

namespace {
Ref<TRATrilliumAd>& shared() {
    // Never destroyed: other threads may use it during exit.
    static Ref<TRATrilliumAd>& ad = *new Ref<TRATrilliumAd>();
    return ad;
}
}  // namespace

Ref<TRATrilliumAd> TRATrilliumAdBasic::sharedAd() { return shared(); }

bool TRATrilliumAdBasic::showAd() {
    Ref<TRATrilliumAd>& ad = shared();
    if (!ad) {
        // One load for the first call: asking again at once would only
        // duplicate the request for the same ad.
        ad = NSObject::alloc<TRATrilliumAd>()->init();
        ad->loadAd();
        return false;
    }
    if (!ad->isReady()) {
        ad->loadAd();
        return false;
    }
    std::string reason = TRAAdSDKUtils::canShowAd();
    if (reason.empty() && !TRAHtmlAd::canMakeAdScreen()) reason = "no full-screen ad screen is available";
    if (!reason.empty()) {
        TRALog::infof("Basic ad not shown: %@", reason);
        return false;
    }
    ad->showAd();
    return true;
}
