#include "tamarind/TMAViewabilityCalculator.h"

#include <algorithm>
#include <cmath>

#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/SaturatingCast.h"
#include "platform/ui/CAGradientLayer.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UIWindow.h"
#include "tamarind/TMAWireContract.h"

TMAViewabilityCalculator::~TMAViewabilityCalculator() {
    if (timer_) timer_->invalidate();
    if (notificationCenter_) notificationCenter_->removeObserver(static_cast<const void*>(this));
}

Ref<NSNotificationCenter> TMAViewabilityCalculator::notificationCenter() {
    if (!notificationCenter_) notificationCenter_ = NSNotificationCenter::defaultCenter();
    return notificationCenter_;
}

// ---- running -------------------------------------------------------------------------------------------

void TMAViewabilityCalculator::startCalculationsWithInterval(double seconds) {
    stopCalculations();
    // A zero or bad interval would spin the run loop.
    if (!(seconds > 0) || !std::isfinite(seconds)) seconds = TMAWire::kDefaultViewableInterval;
    auto self = this->self<TMAViewabilityCalculator>();
    timer_ = TMMPTimer::timerWithTimeInterval(seconds, self, &TMAViewabilityCalculator::triggerViewabilityCalculation,
                                              Value(), true);
    timer_->scheduleNow();
    auto center = notificationCenter();
    center->addObserver(self, &TMAViewabilityCalculator::applicationWillResign, UIApplicationWillResignActiveNotification);
    center->addObserver(self, &TMAViewabilityCalculator::applicationDidBecomeActive,
                        UIApplicationDidBecomeActiveNotification);
}

void TMAViewabilityCalculator::stopCalculations() {
    if (!timer_) return;
    timer_->invalidate();
    timer_ = nullptr;
    notificationCenter()->removeObserver(static_cast<const void*>(this));
}

void TMAViewabilityCalculator::applicationWillResign(const NSNotification&) {
    reportViewability(0, CGRectZero);
    if (timer_) timer_->pause();
    setAppDismissed(true);
}

void TMAViewabilityCalculator::applicationDidBecomeActive(const NSNotification&) {
    setAppDismissed(false);
    if (timer_) timer_->resume();
}

// ---- one measurement ---------------------------------------------------------------------------------

Ref<UIWindow> TMAViewabilityCalculator::keyWindow() {
    auto application = measuringApplication();
    return application ? application->keyWindow() : nullptr;
}

CGRect TMAViewabilityCalculator::frameInWindow(const Ref<UIView>& view, const Ref<UIWindow>& keyWindow) {
    auto superview = view->superview();
    return superview ? superview->convertRectToView(view->frame(), keyWindow) : CGRectZero;
}

void TMAViewabilityCalculator::triggerViewabilityCalculation() {
    auto view = measuredView();
    if (!view) return;
    auto key = keyWindow();
    CGRect adFrame = frameInWindow(view, key);
    bool onScreen = false;
    if (key) {
        CGRect shown = CGRectIntersection(adFrame, key->frame());
        onScreen = !CGRectIsNull(shown) && !CGRectIsEmpty(shown);
    }
    // A hidden view counts as not shown, as a translucent one does.
    if (!view->window() || CGRectIsEmpty(view->frame()) || view->alpha() < 1.0f || view->isHidden() || !onScreen ||
        appDismissed()) {
        reportViewability(0, adFrame);
        return;
    }
    CGRect visible = calcVisibleRectFromSuperviews(view);
    float percentage = 0;
    if (adFrame.size.width > 0 && adFrame.size.height > 0 && !CGRectIsNull(visible))
        percentage = (visible.size.height / adFrame.size.height) * (visible.size.width / adFrame.size.width) * 100;
    if (percentage == 0) {
        reportViewability(0, adFrame);
        return;
    }
    startOverlapCalculationForAdFrame(adFrame, visible, percentage);
}

CGRect TMAViewabilityCalculator::calcVisibleRectFromSuperviews(const Ref<UIView>& view) {
    auto key = keyWindow();
    if (!key) return CGRectZero;
    CGRect visible = CGRectIntersection(frameInWindow(view, key), key->frame());
    if (CGRectIsEmpty(visible)) return visible;
    for (auto ancestor = view->superview(); ancestor && ancestor->superview(); ancestor = ancestor->superview()) {
        if (ancestor->isHidden() || ancestor->alpha() < 1.0f) return CGRect{visible.origin, CGSizeZero};
        if (ancestor->clipsToBounds()) visible = CGRectIntersection(visible, frameInWindow(ancestor, key));
    }
    return visible;
}

void TMAViewabilityCalculator::startOverlapCalculationForAdFrame(CGRect adFrame, CGRect visibleFrame,
                                                                 float viewablePercentage) {
    Weak<TMAViewabilityCalculator> weak = self<TMAViewabilityCalculator>();
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0),
                   [weak, adFrame, visibleFrame, viewablePercentage] {
                       dispatch_async(dispatch_get_main_queue(), [weak, adFrame, visibleFrame, viewablePercentage] {
                           if (auto calculator = weak.lock())
                               calculator->finishOverlapCalculation(adFrame, visibleFrame, viewablePercentage);
                       });
                   });
}

void TMAViewabilityCalculator::finishOverlapCalculation(CGRect adFrame, CGRect visibleFrame, float viewablePercentage) {
    auto view = measuredView();
    if (!view) return;
    auto overlaps = findOverlappingViews(view, visibleFrame);
    if (overlaps.empty()) {
        reportViewability(viewablePercentage, adFrame);
        return;
    }
    float covered = calculateOverlapPercentage(visibleFrame, std::move(overlaps));
    reportViewability((1 - covered) * viewablePercentage, adFrame);
}

// ---- covering views ----------------------------------------------------------------------------------

std::vector<CGRect> TMAViewabilityCalculator::findOverlappingViews(const Ref<UIView>& view, CGRect visibleRect) {
    std::vector<CGRect> overlaps;
    // The view's own later siblings draw above it too, so the walk starts at the view.
    for (auto node = view; node && node->superview(); node = node->superview()) {
        auto siblings = node->superview()->subviews();
        auto at = std::find(siblings.begin(), siblings.end(), node);
        if (at == siblings.end()) continue;
        for (auto later = at + 1; later != siblings.end(); ++later) traverseViewTreeNode(*later, overlaps, visibleRect);
    }
    auto application = measuringApplication();
    auto key = keyWindow();
    if (!application || !key) return overlaps;
    auto windows = application->windows();
    auto at = std::find(windows.begin(), windows.end(), key);
    if (at != windows.end())
        for (auto later = at + 1; later != windows.end(); ++later) traverseViewTreeNode(*later, overlaps, visibleRect);
    return overlaps;
}

void TMAViewabilityCalculator::traverseViewTreeNode(const Ref<UIView>& node, std::vector<CGRect>& overlaps,
                                                    CGRect adRect) {
    if (!node->superview()) {
        for (const auto& subview : node->subviews()) traverseViewTreeNode(subview, overlaps, adRect);
        return;
    }
    CGRect shared = CGRectIntersection(frameInWindow(node, keyWindow()), adRect);
    // A hidden, transparent or distant node hides nothing, nor does anything inside it.
    if (CGRectIsNull(shared) || node->isHidden() || node->alpha() == 0) return;
    CGRect relative = CGRectOffset(shared, -adRect.origin.x, -adRect.origin.y);
    if (!CGRectIsEmpty(relative) && !viewIsNotVisible(node)) overlaps.push_back(relative);
    for (const auto& subview : node->subviews()) traverseViewTreeNode(subview, overlaps, adRect);
}

bool TMAViewabilityCalculator::viewIsNotVisible(const Ref<UIView>& view) {
    if (view->isKindOfClass<UIImageView>()) return false;
    for (const auto& sublayer : view->layer()->sublayers())
        if (std::dynamic_pointer_cast<CAGradientLayer>(sublayer)) return false;
    auto background = view->backgroundColor();
    if (background && !background->isEqual(*UIColor::clearColor())) return false;
    auto window = view->window();
    auto superview = view->superview();
    if (!window || !superview) return true;
    CGPoint centre = superview->convertPointToView(view->center(), window);
    return window->hitTest(centre, nullptr) != view;
}

// A row scan one point apart over the rectangles sorted by x: each row merges
// the spans it meets into runs and counts their length. Rows are counted
// inclusively at both ends, so a cover of height h counts h + 1 rows. The
// function starts on a 64-byte boundary: where its inner loop fell against
// the processor's fetch blocks moved its cost by half between builds that
// changed only other files.
[[gnu::aligned(64)]] float TMAViewabilityCalculator::calculateOverlapPercentage(CGRect visibleRect, std::vector<CGRect> overlappingViews) {
    if (overlappingViews.empty()) return 0;
    int64_t total = platform::saturatingCast<int64_t>(static_cast<double>(visibleRect.size.width) *
                                                      static_cast<double>(visibleRect.size.height));
    // A rectangle under one square point would divide by zero.
    if (total <= 0) return 0;
    // Sixteen bytes a rectangle, sorted by x: the row scan reads them all for every row.
    struct Span {
        CGFloat minY, maxY;
        int32_t minX, maxX;
    };
    std::vector<std::pair<CGFloat, Span>> byX;
    byX.reserve(overlappingViews.size());
    CGFloat lowest = 0;
    CGFloat highest = 0;
    for (const auto& r : overlappingViews) {
        CGFloat minX = CGRectGetMinX(r), minY = CGRectGetMinY(r), maxY = CGRectGetMaxY(r);
        byX.push_back({minX, {minY, maxY, platform::saturatingCast<int32_t>(minX),
                              platform::saturatingCast<int32_t>(CGRectGetMaxX(r))}});
        lowest = std::min(lowest, minY);
        highest = std::max(highest, maxY);
    }
    std::stable_sort(byX.begin(), byX.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<Span> spans;
    spans.reserve(byX.size());
    for (const auto& entry : byX) spans.push_back(entry.second);
    int64_t firstRow = platform::saturatingCast<int64_t>(lowest);
    int64_t lastRow = platform::saturatingCast<int64_t>(highest);

    int64_t covered = 0;
    for (int64_t y = firstRow; y <= lastRow; ++y) {
        const auto row = static_cast<CGFloat>(y);
        int32_t start = 0;
        int32_t end = 0;
        // Without branches on the data: rows meet the rectangles at random,
        // and mispredicted branches would make large sets cost more per rectangle.
        for (const auto& span : spans) {
            const bool inRow = span.minY <= row && row <= span.maxY;
            const bool extends = inRow && span.minX >= start && span.minX <= end;
            const bool opens = inRow && !extends;
            covered += opens ? end - start : 0;
            end = opens ? span.maxX : (extends ? std::max(end, span.maxX) : end);
            start = opens ? span.minX : start;
        }
        covered += end - start;
    }
    double fraction = std::round(static_cast<double>(covered) / static_cast<double>(total) * 100) / 100;
    return static_cast<float>(std::min(fraction, 1.0));
}
