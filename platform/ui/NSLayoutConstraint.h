// Auto Layout constraints: item1.attribute1 (relation) multiplier ×
// item2.attribute2 + constant, built directly or from the visual format
// language (the subset the clients use). A format that does not parse gives
// an empty array and an error, never an exception.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"
#include "platform/ui/CGGeometry.h"

namespace platform {

class UIView;

enum NSLayoutAttribute : int64_t {
    NSLayoutAttributeLeft = 1,
    NSLayoutAttributeRight = 2,
    NSLayoutAttributeTop = 3,
    NSLayoutAttributeBottom = 4,
    NSLayoutAttributeLeading = 5,
    NSLayoutAttributeTrailing = 6,
    NSLayoutAttributeWidth = 7,
    NSLayoutAttributeHeight = 8,
    NSLayoutAttributeCenterX = 9,
    NSLayoutAttributeCenterY = 10,
    NSLayoutAttributeNotAnAttribute = 0,
};

enum NSLayoutRelation : int64_t {
    NSLayoutRelationLessThanOrEqual = -1,
    NSLayoutRelationEqual = 0,
    NSLayoutRelationGreaterThanOrEqual = 1,
};

using UILayoutPriority = float;
inline constexpr UILayoutPriority UILayoutPriorityRequired = 1000;
inline constexpr UILayoutPriority UILayoutPriorityDefaultHigh = 750;
inline constexpr UILayoutPriority UILayoutPriorityDefaultLow = 250;

using NSLayoutFormatOptions = uint64_t;

// The error code of a visual format that cannot be used (NSCocoaErrorDomain).
inline constexpr int64_t NSLayoutFormatErrorCode = 2048;

class NSLayoutConstraint : public NSObject {
public:
    static Ref<NSLayoutConstraint> alloc() { return std::make_shared<NSLayoutConstraint>(); }

    static Ref<NSLayoutConstraint> constraintWithItem(const Ref<UIView>& item1, NSLayoutAttribute attribute1,
                                                      NSLayoutRelation relation, const Ref<UIView>& item2,
                                                      NSLayoutAttribute attribute2, CGFloat multiplier,
                                                      CGFloat constant);

    // The visual format language: optional "H:"/"V:", "|" for the superview,
    // connections "-n-", "-(n)-", "-metric-", "-(>=n)-", "-" (standard 8) and
    // "][" (adjacent), views "[name]", "[name(n)]", "[name(==n)]",
    // "[name(>=n,<=m)]", "[name(==other)]", "@priority" after a predicate;
    // numbers may be metric names. Options other than 0 are ignored with a
    // log line. On failure: an empty array, `error` set (NSCocoaErrorDomain
    // 2048) and the format and position logged.
    static std::vector<Ref<NSLayoutConstraint>> constraintsWithVisualFormat(
        const std::string& format, NSLayoutFormatOptions options, const Value& metrics,
        const std::map<std::string, Ref<UIView>>& views, Ref<NSError>* error = nullptr);

    Ref<UIView> firstItem() const { return first_.lock(); }
    Ref<UIView> secondItem() const { return second_.lock(); }
    NSLayoutAttribute firstAttribute() const { return attribute1_; }
    NSLayoutAttribute secondAttribute() const { return attribute2_; }
    NSLayoutRelation relation() const { return relation_; }
    CGFloat multiplier() const { return multiplier_; }
    CGFloat constant() const { return constant_; }
    void setConstant(CGFloat c);
    UILayoutPriority priority() const { return priority_; }
    void setPriority(UILayoutPriority p) { priority_ = p; }
    // An inactive constraint is kept by its view but not solved.
    bool isActive() const { return active_; }
    void setActive(bool a);

    std::string description() const override;

    // Whether `view` is one of the items.
    bool involves(const UIView* view) const;
    // The view that holds the constraint (set by addConstraint).
    Ref<UIView> holder() const { return holder_.lock(); }
    // For the solver's log lines: true the first time each is asked.
    bool firstConflictReport() { return !std::exchange(reportedConflict_, true); }
    bool firstForeignReport() { return !std::exchange(reportedForeign_, true); }

private:
    friend class UIView;
    // The items are the views' own business: held weakly, as a view holds
    // constraints that name itself.
    Weak<UIView> first_;
    Weak<UIView> second_;
    NSLayoutAttribute attribute1_ = NSLayoutAttributeNotAnAttribute;
    NSLayoutAttribute attribute2_ = NSLayoutAttributeNotAnAttribute;
    NSLayoutRelation relation_ = NSLayoutRelationEqual;
    CGFloat multiplier_ = 1;
    CGFloat constant_ = 0;
    UILayoutPriority priority_ = UILayoutPriorityRequired;
    bool active_ = true;
    bool reportedConflict_ = false;
    bool reportedForeign_ = false;
    Weak<UIView> holder_;
};

}  // namespace platform

using platform::NSLayoutAttribute;
using platform::NSLayoutAttributeBottom;
using platform::NSLayoutAttributeCenterX;
using platform::NSLayoutAttributeCenterY;
using platform::NSLayoutAttributeHeight;
using platform::NSLayoutAttributeLeading;
using platform::NSLayoutAttributeLeft;
using platform::NSLayoutAttributeNotAnAttribute;
using platform::NSLayoutAttributeRight;
using platform::NSLayoutAttributeTop;
using platform::NSLayoutAttributeTrailing;
using platform::NSLayoutAttributeWidth;
using platform::NSLayoutConstraint;
using platform::NSLayoutFormatOptions;
using platform::NSLayoutRelation;
using platform::NSLayoutRelationEqual;
using platform::NSLayoutRelationGreaterThanOrEqual;
using platform::NSLayoutRelationLessThanOrEqual;
using platform::UILayoutPriority;
using platform::UILayoutPriorityDefaultHigh;
using platform::UILayoutPriorityDefaultLow;
using platform::UILayoutPriorityRequired;
