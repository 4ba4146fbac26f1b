#include "halcyon/display/HLAdDisplayProxy.h"

#include "platform/ui/UIView.h"

Ref<HLAdDisplayProxy> HLAdDisplayProxy::initWithDisplayDelegate(const Ref<HLAdDisplayDelegate>& delegate) {
    delegate_ = delegate;
    return self<HLAdDisplayProxy>();
}

void HLAdDisplayProxy::adWasDisplayedIn(const Ref<HLAd>& ad, const Ref<UIView>& view) {
    if (delegate_) delegate_->adWasDisplayedIn(ad, view);
}

void HLAdDisplayProxy::adWasHiddenIn(const Ref<HLAd>& ad, const Ref<UIView>& view) {
    if (delegate_) delegate_->adWasHiddenIn(ad, view);
}

void HLAdDisplayProxy::adWasClickedIn(const Ref<HLAd>& ad, const Ref<UIView>& view) {
    if (delegate_) delegate_->adWasClickedIn(ad, view);
}

Ref<HLAdVideoPlaybackProxy> HLAdVideoPlaybackProxy::initWithVideoPlaybackDelegate(
    const Ref<HLAdVideoPlaybackDelegate>& delegate) {
    delegate_ = delegate;
    return self<HLAdVideoPlaybackProxy>();
}

void HLAdVideoPlaybackProxy::videoPlaybackBeganInAd(const Ref<HLAd>& ad) {
    if (delegate_) delegate_->videoPlaybackBeganInAd(ad);
}

void HLAdVideoPlaybackProxy::videoPlaybackEndedInAd(const Ref<HLAd>& ad, const Value& atPlaybackPercent,
                                                    bool fullyWatched) {
    if (delegate_) delegate_->videoPlaybackEndedInAd(ad, atPlaybackPercent, fullyWatched);
}
