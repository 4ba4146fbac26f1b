#include "tamarind/TMATMraidExpandViewController.h"

#include "tamarind/TMATBaseAdContainer.h"
#include "tamarind/TMATBridgeManager.h"
#include "tamarind/TMLog.h"
#include "tamarind/TMUtility.h"

namespace {
constexpr CGFloat kTMATExpandCloseButtonSide = 50;
constexpr CGFloat kTMATExpandCloseButtonInset = 8;
}  // namespace

Ref<TMATMraidExpandViewController> TMATMraidExpandViewController::init() {
    UIViewController::init();
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
    adContainer_ = container;
    oldSuperview_ = container ? container->superview() : nullptr;
    if (container) container->removeFromSuperview();
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
    auto container = adContainer();
    auto bridges = container ? container->bridgeManager() : nullptr;
    if (auto mraid = bridges ? bridges->mraidBridge() : nullptr) mraid->close();
}

void TMATMraidExpandViewController::closeExpandedView() {
    closeButton_->removeFromSuperview();
    if (auto container = adContainer()) {
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
}
