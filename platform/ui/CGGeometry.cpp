#include "platform/ui/CGGeometry.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <ostream>

namespace platform {

const CGPoint CGPointZero{};
const CGSize CGSizeZero{};
const CGRect CGRectZero{};
const CGRect CGRectNull{{std::numeric_limits<CGFloat>::infinity(), std::numeric_limits<CGFloat>::infinity()}, {0, 0}};
const UIEdgeInsets UIEdgeInsetsZero{};

bool CGRectIsNull(const CGRect& r) { return std::isinf(r.origin.x) || std::isinf(r.origin.y); }

bool CGRectIsEmpty(const CGRect& r) { return CGRectIsNull(r) || r.size.width == 0 || r.size.height == 0; }

CGRect CGRectStandardize(const CGRect& r) {
    CGRect s = r;
    if (s.size.width < 0) {
        s.origin.x += s.size.width;
        s.size.width = -s.size.width;
    }
    if (s.size.height < 0) {
        s.origin.y += s.size.height;
        s.size.height = -s.size.height;
    }
    return s;
}

CGFloat CGRectGetMinX(const CGRect& r) { return CGRectStandardize(r).origin.x; }
CGFloat CGRectGetMinY(const CGRect& r) { return CGRectStandardize(r).origin.y; }
CGFloat CGRectGetMaxX(const CGRect& r) {
    CGRect s = CGRectStandardize(r);
    return s.origin.x + s.size.width;
}
CGFloat CGRectGetMaxY(const CGRect& r) {
    CGRect s = CGRectStandardize(r);
    return s.origin.y + s.size.height;
}
CGFloat CGRectGetMidX(const CGRect& r) {
    CGRect s = CGRectStandardize(r);
    return static_cast<CGFloat>(double(s.origin.x) + double(s.size.width) / 2);
}
CGFloat CGRectGetMidY(const CGRect& r) {
    CGRect s = CGRectStandardize(r);
    return static_cast<CGFloat>(double(s.origin.y) + double(s.size.height) / 2);
}
CGFloat CGRectGetWidth(const CGRect& r) { return std::fabs(r.size.width); }
CGFloat CGRectGetHeight(const CGRect& r) { return std::fabs(r.size.height); }

CGRect CGRectIntersection(const CGRect& a, const CGRect& b) {
    if (CGRectIsNull(a) || CGRectIsNull(b)) return CGRectNull;
    CGFloat x1 = std::max(CGRectGetMinX(a), CGRectGetMinX(b));
    CGFloat x2 = std::min(CGRectGetMaxX(a), CGRectGetMaxX(b));
    CGFloat y1 = std::max(CGRectGetMinY(a), CGRectGetMinY(b));
    CGFloat y2 = std::min(CGRectGetMaxY(a), CGRectGetMaxY(b));
    if (x2 < x1 || y2 < y1) return CGRectNull;
    return CGRectMake(x1, y1, x2 - x1, y2 - y1);
}

bool CGRectIntersectsRect(const CGRect& a, const CGRect& b) { return !CGRectIsEmpty(CGRectIntersection(a, b)); }

CGRect CGRectUnion(const CGRect& a, const CGRect& b) {
    if (CGRectIsNull(a)) return CGRectIsNull(b) ? CGRectNull : CGRectStandardize(b);
    if (CGRectIsNull(b)) return CGRectStandardize(a);
    CGFloat x1 = std::min(CGRectGetMinX(a), CGRectGetMinX(b));
    CGFloat x2 = std::max(CGRectGetMaxX(a), CGRectGetMaxX(b));
    CGFloat y1 = std::min(CGRectGetMinY(a), CGRectGetMinY(b));
    CGFloat y2 = std::max(CGRectGetMaxY(a), CGRectGetMaxY(b));
    return CGRectMake(x1, y1, x2 - x1, y2 - y1);
}

bool CGRectContainsPoint(const CGRect& r, const CGPoint& p) {
    if (CGRectIsNull(r)) return false;
    return p.x >= CGRectGetMinX(r) && p.x < CGRectGetMaxX(r) && p.y >= CGRectGetMinY(r) && p.y < CGRectGetMaxY(r);
}

bool CGRectContainsRect(const CGRect& outer, const CGRect& inner) {
    if (CGRectIsNull(outer)) return false;
    return CGRectEqualToRect(CGRectUnion(outer, inner), outer);
}

CGRect CGRectInset(const CGRect& r, CGFloat dx, CGFloat dy) {
    if (CGRectIsNull(r)) return CGRectNull;
    CGRect s = CGRectStandardize(r);
    s.origin.x += dx;
    s.origin.y += dy;
    s.size.width -= 2 * dx;
    s.size.height -= 2 * dy;
    if (s.size.width < 0 || s.size.height < 0) return CGRectNull;
    return s;
}

CGRect CGRectOffset(const CGRect& r, CGFloat dx, CGFloat dy) {
    if (CGRectIsNull(r)) return CGRectNull;
    CGRect s = CGRectStandardize(r);
    s.origin.x += dx;
    s.origin.y += dy;
    return s;
}

CGRect CGRectIntegral(const CGRect& r) {
    if (CGRectIsNull(r)) return CGRectNull;
    CGFloat x1 = std::floor(CGRectGetMinX(r));
    CGFloat y1 = std::floor(CGRectGetMinY(r));
    CGFloat x2 = std::ceil(CGRectGetMaxX(r));
    CGFloat y2 = std::ceil(CGRectGetMaxY(r));
    return CGRectMake(x1, y1, x2 - x1, y2 - y1);
}

bool CGRectEqualToRect(const CGRect& a, const CGRect& b) {
    if (CGRectIsNull(a) || CGRectIsNull(b)) return CGRectIsNull(a) && CGRectIsNull(b);
    return CGRectStandardize(a) == CGRectStandardize(b);
}

bool CGPointEqualToPoint(const CGPoint& a, const CGPoint& b) { return a == b; }
bool CGSizeEqualToSize(const CGSize& a, const CGSize& b) { return a == b; }

CGRect UIEdgeInsetsInsetRect(const CGRect& r, const UIEdgeInsets& insets) {
    return CGRectMake(r.origin.x + insets.left, r.origin.y + insets.top, r.size.width - insets.left - insets.right,
                      r.size.height - insets.top - insets.bottom);
}

namespace {
std::string shortest(CGFloat v) {
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    if (ec != std::errc()) return "nan";
    return std::string(buffer, end);
}
}  // namespace

std::string NSStringFromCGPoint(const CGPoint& p) { return "{" + shortest(p.x) + ", " + shortest(p.y) + "}"; }
std::string NSStringFromCGSize(const CGSize& s) { return "{" + shortest(s.width) + ", " + shortest(s.height) + "}"; }
std::string NSStringFromCGRect(const CGRect& r) {
    return "{" + NSStringFromCGPoint(r.origin) + ", " + NSStringFromCGSize(r.size) + "}";
}

std::ostream& operator<<(std::ostream& out, const CGPoint& p) { return out << NSStringFromCGPoint(p); }
std::ostream& operator<<(std::ostream& out, const CGSize& s) { return out << NSStringFromCGSize(s); }
std::ostream& operator<<(std::ostream& out, const CGRect& r) { return out << NSStringFromCGRect(r); }

}  // namespace platform
