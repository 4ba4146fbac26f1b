// The presenter protocols every interstitial presenter implements (the
// dialog view over the window and the two full-screen video controllers),
// through which HLInterstitialAd creates, configures and dismisses it, and
// HLInterstitialControlProxy, the type of a presenter conforming to all of
// them. Main thread, except where a method says otherwise.
#pragma once

#include <optional>
#include <string>

#include "halcyon/core/HLAdDisplayProtocols.h"
#include "halcyon/core/HLAdLoadDelegate.h"
#include "halcyon/display/HLAdVideoPlaybackDelegate.h"
#include "platform/ui/UIView.h"

class HLAd;
class HLInterstitialAd;
class HLSdk;

// Made by class name (NSClassFromString) and then this initialiser; the
// wrapper's delegates hear what the presenter reports.
class HLInterstitialExtendedControlProxy : public virtual NSObjectProtocol {
public:
    virtual Ref<NSObject> initWithSdk(const Ref<HLSdk>& sdk, const Ref<HLAd>& currentAd,
                                      const std::optional<std::string>& currentPlacement,
                                      const Ref<HLInterstitialAd>& wrapper) = 0;
};

class HLInterstitialCurrentAdProxy : public virtual NSObjectProtocol {
public:
    virtual Ref<HLAd> currentAd() const = 0;
    // The view display callbacks name.
    virtual Ref<UIView> containingView() = 0;
};

class HLInterstitialDelegateProxy : public virtual NSObjectProtocol {
public:
    virtual Ref<HLAdDisplayDelegate> adDisplayDelegate() const = 0;
    virtual void setAdDisplayDelegate(const Ref<HLAdDisplayDelegate>& delegate) = 0;
    virtual Ref<HLAdVideoPlaybackDelegate> adVideoPlaybackDelegate() const = 0;
    virtual void setAdVideoPlaybackDelegate(const Ref<HLAdVideoPlaybackDelegate>& delegate) = 0;
    // Optional.
    virtual Ref<HLAdLoadDelegate> adLoadDelegate() const { return nullptr; }
    virtual void setAdLoadDelegate(const Ref<HLAdLoadDelegate>&) {}
};

// All optional ("currentFrame", "setCurrentFrame:", "isAdHidden", "setAdHidden:").
class HLInterstitialUIViewControlProxy : public virtual NSObjectProtocol {
public:
    virtual CGRect currentFrame() const { return CGRectZero; }
    virtual void setCurrentFrame(CGRect) {}
    virtual bool isAdHidden() const { return false; }
    virtual void setAdHidden(bool) {}
};

class HLInterstitialControlProxy : public virtual HLInterstitialExtendedControlProxy,
                                   public virtual HLInterstitialCurrentAdProxy,
                                   public virtual HLInterstitialDelegateProxy,
                                   public virtual HLInterstitialUIViewControlProxy,
                                   public virtual HLInterstitialAdDismissProxy {};
