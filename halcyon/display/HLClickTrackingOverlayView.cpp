#include "halcyon/display/HLClickTrackingOverlayView.h"

#include "halcyon/core/HLColorUtils.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/display/HLDisplayConstants.h"
#include "platform/runtime/NSOperationQueue.h"
#include "platform/ui/NSLayoutConstraint.h"

Ref<HLClickTrackingOverlayView> HLClickTrackingOverlayView::initWithSdk(const Ref<HLSdk>& sdk) {
    UIView::initWithFrame(CGRectZero);
    sdk_ = sdk;
    baseInit();
    return self<HLClickTrackingOverlayView>();
}

void HLClickTrackingOverlayView::baseInit() {
    Ref<HLSdk> sdk = sdk_.lock();
    setTranslatesAutoresizingMaskIntoConstraints(false);
    setBackgroundColor(HLUtils::hl_colorWithHexString(sdk ? sdk->stringForKey(kHLSlotClickOverlayColor).value_or("")
                                                          : std::string("#66000000")));
    activityIndicator_ = UIActivityIndicatorView::alloc()->initWithActivityIndicatorStyle(
        sdk ? sdk->integerForKey(kHLSlotClickOverlayIndicatorStyle) : 0);
    addSubview(activityIndicator_);
    activityIndicator_->setTranslatesAutoresizingMaskIntoConstraints(false);
    addConstraint(NSLayoutConstraint::constraintWithItem(activityIndicator_, NSLayoutAttributeCenterX,
                                                         NSLayoutRelationEqual, self<UIView>(),
                                                         NSLayoutAttributeCenterX, 1, 0));
    addConstraint(NSLayoutConstraint::constraintWithItem(activityIndicator_, NSLayoutAttributeCenterY,
                                                         NSLayoutRelationEqual, self<UIView>(),
                                                         NSLayoutAttributeCenterY, 1, 0));
    if (sdk)
        addConstraints(sdk->constraintsForKeys({kHLSlotClickOverlayIndicatorH, kHLSlotClickOverlayIndicatorV},
                                               {{"activityIndicator", activityIndicator_}}));
    activityIndicator_->startAnimating();
}

void HLClickTrackingOverlayView::attachToView(const Ref<UIView>& view, double duration) {
    auto overlay = self<HLClickTrackingOverlayView>();
    NSOperationQueue::mainQueue()->addOperationWithBlock([overlay, view, duration] {
        if (!view) return;
        overlay->setAlpha(0);
        view->addSubview(overlay);
        if (Ref<HLSdk> sdk = overlay->sdk())
            view->addConstraints(sdk->constraintsForKeys({kHLSlotClickOverlayEmbeddingH, kHLSlotClickOverlayEmbeddingV},
                                                         {{"overlayView", overlay}}));
        UIView::animateWithDuration(duration, [overlay] { overlay->setAlpha(1); });
    });
}

double HLClickTrackingOverlayView::fadeTimeForSdk(const Ref<HLSdk>& sdk) {
    return sdk ? sdk->timeIntervalForKey(kHLSlotClickOverlayFadeTime) / 1000 : 0.5;
}
