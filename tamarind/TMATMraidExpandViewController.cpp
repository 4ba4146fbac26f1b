#include "tamarind/TMATMraidExpandViewController.h"

#include <utility>

#include "tamarind/TMATBaseAdContainer.h"
#include "tamarind/TMATBridgeManager.h"
#include "tamarind/TMLog.h"
#include "tamarind/TMUtility.h"

namespace {
constexpr CGFloat kTMATExpandCloseButtonSide = 50;
constexpr CGFloat kTMATExpandCloseButtonInset = 8;
}  // namespace

Ref<TMATMraidExpandViewController> TMATMraidExpandViewController::initWithBridge(const Ref<TMATMraidBridge>& bridge) {
    UIViewController::init();
    bridge_ = bridge;
    auto self = this->self<TMATMraidExpandViewController>();
    closeButton_ = UIButton::buttonWithType(UIButtonTypeCustom);
    closeButton_->imageView()->setAccessibilityIdentifier("nativeCloseButtonImage");
    closeButton_->addTarget(self, &TMATMraidExpandViewController::closeButtonPressed, UIControlEventTouchUpInside);
    return self;
}

TMATMraidExpandViewController::~TMATMraidExpandViewController() {
    TMLog::logDebug("%@ dealloc", "TMATMraidExpandViewController");
    closeButton_.reset();
}

void TMATMraidExpandViewController::expandAdView(const Ref<TMATBaseAdContainer>& container, bool) {
    expandedBridge_ = bridge_.lock();
    adContainer_ = container;
    oldSuperview_ = container ? container->superview() : nullptr;
    if (container) container->removeFromSuperview();
}

void TMATMraidExpandViewController::twoPartExpand(const Ref<TMATBaseAdContainer>& container, const Ref<NSURL>& url,
                                                  bool) {
    expandedBridge_ = bridge_.lock();
    adContainer_ = container;
    // The second page gets the kinds of bridges the ad has, new ones of its own.
    auto adBridges = container ? container->bridgeManager() : nullptr;
    auto enabled = adBridges ? adBridges->bridgesEnabled() : TMAJSBridgesEnabled::defaultJSBridgesEnabled();
    enabled->setMraid(true);
    twoPartBridges_ = TMATBridgeManager::bridgeManager(enabled, expandedBridge_ ? expandedBridge_->adController() : nullptr);
    if (expandedBridge_) twoPartBridges_->mraidBridge()->becomeTwoPartPage(expandedBridge_);
    twoPartView_ = TMATBaseAdContainer::containerWithFrame<TMATInterstitialAdContainer>(view()->bounds());
    twoPartView_->setDelegate(self<TMATMraidExpandViewController>());
    if (container) twoPartView_->setSlotID(container->slotID());
    twoPartView_->prerenderUrl(url, twoPartBridges_);
}

bool TMATMraidExpandViewController::expandWithSubview(const Ref<UIView>& view, bool useCustomButton,
                                                      const Ref<UIViewController>& presenter) {
    auto own = this->view();
    view->setFrame(own->frame());
    view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    own->addSubview(view);
    layoutCloseButton(useCustomButton);
    setModalPresentationStyle(UIModalPresentationOverFullScreen);
    auto self = this->self<TMATMraidExpandViewController>();
    if (presenter) presenter->presentViewController(self, true, nullptr);
    return presenter && presenter->presentedViewController() == self;
}

void TMATMraidExpandViewController::layoutCloseButton(bool custom) {
    auto own = view();
    CGFloat width = own->frame().size.width;
    closeButton_->setFrame(CGRectMake(width - kTMATExpandCloseButtonSide - kTMATExpandCloseButtonInset,
                                      kTMATExpandCloseButtonInset, kTMATExpandCloseButtonSide,
                                      kTMATExpandCloseButtonSide));
    closeButton_->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin);
    closeButton_->setAccessibilityIdentifier("nativeCloseButton");
    closeButton_->setIsAccessibilityElement(false);
    if (custom)
        hideCloseButton();
    else
        showCloseButton();
    own->addSubview(closeButton_);
    own->bringSubviewToFront(closeButton_);
}

void TMATMraidExpandViewController::showCloseButton() {
    auto utility = TMUtility::sharedUtility();
    closeButton_->setImage(utility->defaultCloseButtonImageNormal(), UIControlStateNormal);
    closeButton_->setImage(utility->defaultCloseButtonImageHighlighted(), UIControlStateHighlighted);
}

void TMATMraidExpandViewController::hideCloseButton() {
    closeButton_->setImage(nullptr, UIControlStateNormal);
    closeButton_->setImage(nullptr, UIControlStateHighlighted);
}

void TMATMraidExpandViewController::closeButtonPressed() {
    TMLog::logDebug("MRAID: Close button pressed");
    if (auto bridge = expandedBridge_) bridge->close();
}

void TMATMraidExpandViewController::closeExpandedView() {
    // Letting go of the bridge may release this controller.
    auto keep = self<TMATMraidExpandViewController>();
    closeButton_->removeFromSuperview();
    if (auto page = std::exchange(twoPartView_, nullptr)) {
        page->setDelegate(nullptr);
        page->webView()->stopLoading();
        page->removeFromSuperview();
        twoPartBridges_.reset();
    } else if (auto container = adContainer()) {
        container->removeFromSuperview();
        if (auto old = oldSuperview()) {
            container->setFrame(old->frame());
            old->addSubview(container);
        } else {
            TMLog::logWarn("MRAID: the expanded ad's old superview is gone; the ad is not put back.");
        }
    }
    if (presentingViewController()) dismissViewControllerAnimated(true, nullptr);
    adContainer_.reset();
    oldSuperview_.reset();
    expandedBridge_.reset();
}

// ---- the second page's load ------------------------------------------------------------------------

void TMATMraidExpandViewController::interstitialDidPrerender() {
    // Held: the bridge may close the expansion meanwhile.
    if (auto bridge = expandedBridge_) bridge->twoPartPageDidLoad();
}

void TMATMraidExpandViewController::interstitialDidFailToPrerenderWithError(Ref<NSError> error) {
    // A page that asks for failing expansions again and again gets a count: folded with its bridge's lines.
    std::string reason = error ? error->localizedDescription() : std::string("no error");
    if (auto owner = bridge_.lock())
        owner->logPageLine(TMLogLevel::Warn, "MRAID: the expanded page failed to load: %@", reason);
    else
        TMLog::logWarn("MRAID: the expanded page failed to load: %@", reason);
    if (auto bridge = expandedBridge_) bridge->twoPartPageDidFail();
}
