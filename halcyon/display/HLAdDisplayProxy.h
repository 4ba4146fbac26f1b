// Forwarders the HTML ad view puts on the shared interstitial when an
// interstitial-size ad is rendered into it: display and video playback
// events go on, unchanged and on the caller's thread, to the delegate each
// was made around (held strongly; a null one hears nothing).
#pragma once

#include "halcyon/core/HLAdDisplayProtocols.h"
#include "halcyon/display/HLAdVideoPlaybackDelegate.h"
#include "platform/ui/UIView.h"

class HLAdDisplayProxy : public NSObject, public HLAdDisplayDelegate {
public:
    Ref<HLAdDisplayProxy> initWithDisplayDelegate(const Ref<HLAdDisplayDelegate>& delegate);
    Ref<HLAdDisplayDelegate> delegate() const { return delegate_; }

    void adWasDisplayedIn(const Ref<HLAd>& ad, const Ref<UIView>& view) override;
    void adWasHiddenIn(const Ref<HLAd>& ad, const Ref<UIView>& view) override;
    void adWasClickedIn(const Ref<HLAd>& ad, const Ref<UIView>& view) override;

private:
    Ref<HLAdDisplayDelegate> delegate_;
};

class HLAdVideoPlaybackProxy : public NSObject, public HLAdVideoPlaybackDelegate {
public:
    Ref<HLAdVideoPlaybackProxy> initWithVideoPlaybackDelegate(const Ref<HLAdVideoPlaybackDelegate>& delegate);
    Ref<HLAdVideoPlaybackDelegate> delegate() const { return delegate_; }

    void videoPlaybackBeganInAd(const Ref<HLAd>& ad) override;
    void videoPlaybackEndedInAd(const Ref<HLAd>& ad, const Value& atPlaybackPercent, bool fullyWatched) override;

private:
    Ref<HLAdVideoPlaybackDelegate> delegate_;
};
