// Points, sizes, rectangles and their functions, in single precision as on
// the 32-bit devices the clients were written for; edge insets and index paths.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

namespace platform {

using CGFloat = float;

struct CGPoint {
    CGFloat x = 0;
    CGFloat y = 0;
    bool operator==(const CGPoint& o) const { return x == o.x && y == o.y; }
};

struct CGSize {
    CGFloat width = 0;
    CGFloat height = 0;
    bool operator==(const CGSize& o) const { return width == o.width && height == o.height; }
};

struct CGRect {
    CGPoint origin;
    CGSize size;
    bool operator==(const CGRect& o) const { return origin == o.origin && size == o.size; }
};

struct UIEdgeInsets {
    CGFloat top = 0;
    CGFloat left = 0;
    CGFloat bottom = 0;
    CGFloat right = 0;
    bool operator==(const UIEdgeInsets& o) const {
        return top == o.top && left == o.left && bottom == o.bottom && right == o.right;
    }
};

inline CGPoint CGPointMake(CGFloat x, CGFloat y) { return {x, y}; }
inline CGSize CGSizeMake(CGFloat w, CGFloat h) { return {w, h}; }
inline CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat w, CGFloat h) { return {{x, y}, {w, h}}; }
inline UIEdgeInsets UIEdgeInsetsMake(CGFloat top, CGFloat left, CGFloat bottom, CGFloat right) {
    return {top, left, bottom, right};
}

extern const CGPoint CGPointZero;
extern const CGSize CGSizeZero;
extern const CGRect CGRectZero;
// The null rectangle: infinite origin, zero size. Results of intersections
// of rectangles that do not meet.
extern const CGRect CGRectNull;
extern const UIEdgeInsets UIEdgeInsetsZero;

bool CGRectIsNull(const CGRect& r);
// Null, or zero width or height.
bool CGRectIsEmpty(const CGRect& r);
// Negative sizes turned into positive ones with the origin moved.
CGRect CGRectStandardize(const CGRect& r);

CGFloat CGRectGetMinX(const CGRect& r);
CGFloat CGRectGetMidX(const CGRect& r);
CGFloat CGRectGetMaxX(const CGRect& r);
CGFloat CGRectGetMinY(const CGRect& r);
CGFloat CGRectGetMidY(const CGRect& r);
CGFloat CGRectGetMaxY(const CGRect& r);
CGFloat CGRectGetWidth(const CGRect& r);
CGFloat CGRectGetHeight(const CGRect& r);

// Null when the rectangles do not meet; rectangles that only touch give an
// empty rectangle on the shared edge.
CGRect CGRectIntersection(const CGRect& a, const CGRect& b);
// False when the rectangles only touch.
bool CGRectIntersectsRect(const CGRect& a, const CGRect& b);
CGRect CGRectUnion(const CGRect& a, const CGRect& b);
// Minimum edges inside, maximum edges outside.
bool CGRectContainsPoint(const CGRect& r, const CGPoint& p);
bool CGRectContainsRect(const CGRect& outer, const CGRect& inner);
// Null when the inset rectangle would have a negative size.
CGRect CGRectInset(const CGRect& r, CGFloat dx, CGFloat dy);
CGRect CGRectOffset(const CGRect& r, CGFloat dx, CGFloat dy);
CGRect CGRectIntegral(const CGRect& r);
bool CGRectEqualToRect(const CGRect& a, const CGRect& b);
bool CGPointEqualToPoint(const CGPoint& a, const CGPoint& b);
bool CGSizeEqualToSize(const CGSize& a, const CGSize& b);
CGRect UIEdgeInsetsInsetRect(const CGRect& r, const UIEdgeInsets& insets);

// "{x, y}", "{w, h}", "{{x, y}, {w, h}}" with the shortest round-trip digits.
std::string NSStringFromCGPoint(const CGPoint& p);
std::string NSStringFromCGSize(const CGSize& s);
std::string NSStringFromCGRect(const CGRect& r);

// Stream output for test diagnostics.
std::ostream& operator<<(std::ostream& out, const CGPoint& p);
std::ostream& operator<<(std::ostream& out, const CGSize& s);
std::ostream& operator<<(std::ostream& out, const CGRect& r);

// A section and a row (table cells).
struct NSIndexPath {
    int64_t section = 0;
    int64_t row = 0;
    static NSIndexPath indexPathForRow(int64_t row, int64_t section) { return {section, row}; }
    bool operator==(const NSIndexPath& o) const { return section == o.section && row == o.row; }
};

}  // namespace platform

using platform::CGFloat;
using platform::CGPoint;
using platform::CGPointEqualToPoint;
using platform::CGPointMake;
using platform::CGPointZero;
using platform::CGRect;
using platform::CGRectContainsPoint;
using platform::CGRectContainsRect;
using platform::CGRectEqualToRect;
using platform::CGRectGetHeight;
using platform::CGRectGetMaxX;
using platform::CGRectGetMaxY;
using platform::CGRectGetMidX;
using platform::CGRectGetMidY;
using platform::CGRectGetMinX;
using platform::CGRectGetMinY;
using platform::CGRectGetWidth;
using platform::CGRectInset;
using platform::CGRectIntegral;
using platform::CGRectIntersection;
using platform::CGRectIntersectsRect;
using platform::CGRectIsEmpty;
using platform::CGRectIsNull;
using platform::CGRectMake;
using platform::CGRectNull;
using platform::CGRectOffset;
using platform::CGRectStandardize;
using platform::CGRectUnion;
using platform::CGRectZero;
using platform::CGSize;
using platform::CGSizeEqualToSize;
using platform::CGSizeMake;
using platform::CGSizeZero;
using platform::NSIndexPath;
using platform::NSStringFromCGPoint;
using platform::NSStringFromCGRect;
using platform::NSStringFromCGSize;
using platform::UIEdgeInsets;
using platform::UIEdgeInsetsInsetRect;
using platform::UIEdgeInsetsMake;
using platform::UIEdgeInsetsZero;
