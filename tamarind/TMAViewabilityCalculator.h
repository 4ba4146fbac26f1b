// The viewability measurement both Tamarind calculators share: on a
// repeating main-run-loop timer, the measured view's frame in the key window,
// cut down by every clipping ancestor, less what views drawn above it and
// later windows cover, as a percentage reported with the frame. While the
// application is inactive the timer is paused, after one 0 % report. Each
// measurement that finds the ad partly visible passes through a global queue
// and back to the main queue before it looks for covering views; a
// calculator released meanwhile reports nothing. Main thread.
#pragma once

#include <atomic>
#include <vector>

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIView.h"
#include "platform/ui/UIWindow.h"
#include "tamarind/TMMPTimer.h"

class TMAViewabilityCalculator : public NSObject {
public:
    ~TMAViewabilityCalculator() override;

    // Restarts the repeating timer (a non-positive interval counts as 0.2 s)
    // and follows the application's resign-active and become-active notices.
    void startCalculationsWithInterval(double seconds);
    // Ends the timer and the notices; nothing when not running.
    void stopCalculations();
    bool timerActive() const { return timer_ != nullptr; }
    Ref<TMMPTimer> timer() const { return timer_; }

    // One 0 % report with a zero frame, then the timer pauses.
    void applicationWillResign(const NSNotification& notification);
    void applicationDidBecomeActive(const NSNotification& notification);
    bool appDismissed() const { return appDismissed_.load(); }
    void setAppDismissed(bool dismissed) { appDismissed_.store(dismissed); }

    // One measurement of the view now (the timer's action).
    void triggerViewabilityCalculation();
    // The view's frame in the key window, cut by the window and every
    // clipping ancestor below it; zero-sized under a hidden or translucent one.
    CGRect calcVisibleRectFromSuperviews(const Ref<UIView>& view);
    void startOverlapCalculationForAdFrame(CGRect adFrame, CGRect visibleFrame, float viewablePercentage);
    // What covers the visible rectangle, relative to its origin: later
    // siblings of the view and of each ancestor below the window, and every
    // window after the key window, with their subviews.
    std::vector<CGRect> findOverlappingViews(const Ref<UIView>& view, CGRect visibleRect);
    void traverseViewTreeNode(const Ref<UIView>& node, std::vector<CGRect>& overlaps, CGRect adRect);
    // True when the view does not hide what lies below it: not an image view,
    // no gradient layer, no colour, and not the hit-test target at its centre.
    bool viewIsNotVisible(const Ref<UIView>& view);
    // The share (0…1, two decimals) of the visible rectangle the overlaps
    // cover, by rows one point apart counted inclusively; 0 without overlaps
    // or for a rectangle under one square point.
    static float calculateOverlapPercentage(CGRect visibleRect, std::vector<CGRect> overlappingViews);

    // Made on first read (the default center).
    Ref<NSNotificationCenter> notificationCenter();

protected:
    // What the subclass measures (null once it is gone), in which application,
    // and to whom it reports.
    virtual Ref<UIView> measuredView() const = 0;
    virtual Ref<UIApplication> measuringApplication() = 0;
    virtual void reportViewability(float percentage, CGRect adFrame) = 0;

private:
    void finishOverlapCalculation(CGRect adFrame, CGRect visibleFrame, float viewablePercentage);
    // The view's frame in the key window's coordinates (zero without a superview).
    static CGRect frameInWindow(const Ref<UIView>& view, const Ref<UIWindow>& keyWindow);
    Ref<UIWindow> keyWindow();

    std::atomic<bool> appDismissed_{false};
    Ref<TMMPTimer> timer_;
    Ref<NSNotificationCenter> notificationCenter_;
};
