#include "platform/ui/CGAffineTransform.h"

#include <algorithm>
#include <cmath>

namespace platform {

const CGAffineTransform CGAffineTransformIdentity{};

namespace {
struct Matrix {
    double a, b, c, d, tx, ty;
};
Matrix widen(const CGAffineTransform& t) { return {t.a, t.b, t.c, t.d, t.tx, t.ty}; }
CGAffineTransform narrow(const Matrix& m) {
    return {static_cast<CGFloat>(m.a), static_cast<CGFloat>(m.b), static_cast<CGFloat>(m.c),
            static_cast<CGFloat>(m.d), static_cast<CGFloat>(m.tx), static_cast<CGFloat>(m.ty)};
}
// m1 then m2
Matrix multiply(const Matrix& m1, const Matrix& m2) {
    return {m1.a * m2.a + m1.b * m2.c,          m1.a * m2.b + m1.b * m2.d,
            m1.c * m2.a + m1.d * m2.c,          m1.c * m2.b + m1.d * m2.d,
            m1.tx * m2.a + m1.ty * m2.c + m2.tx, m1.tx * m2.b + m1.ty * m2.d + m2.ty};
}
Matrix rotation(double angle) {
    double s = std::sin(angle), c = std::cos(angle);
    return {c, s, -s, c, 0, 0};
}
}  // namespace

CGAffineTransform CGAffineTransformMake(CGFloat a, CGFloat b, CGFloat c, CGFloat d, CGFloat tx, CGFloat ty) {
    return {a, b, c, d, tx, ty};
}
CGAffineTransform CGAffineTransformMakeRotation(CGFloat angle) { return narrow(rotation(angle)); }
CGAffineTransform CGAffineTransformMakeScale(CGFloat sx, CGFloat sy) { return {sx, 0, 0, sy, 0, 0}; }
CGAffineTransform CGAffineTransformMakeTranslation(CGFloat tx, CGFloat ty) { return {1, 0, 0, 1, tx, ty}; }

CGAffineTransform CGAffineTransformRotate(const CGAffineTransform& t, CGFloat angle) {
    return narrow(multiply(rotation(angle), widen(t)));
}
CGAffineTransform CGAffineTransformScale(const CGAffineTransform& t, CGFloat sx, CGFloat sy) {
    return narrow(multiply({double(sx), 0, 0, double(sy), 0, 0}, widen(t)));
}
CGAffineTransform CGAffineTransformTranslate(const CGAffineTransform& t, CGFloat tx, CGFloat ty) {
    return narrow(multiply({1, 0, 0, 1, double(tx), double(ty)}, widen(t)));
}
CGAffineTransform CGAffineTransformConcat(const CGAffineTransform& t1, const CGAffineTransform& t2) {
    return narrow(multiply(widen(t1), widen(t2)));
}

CGAffineTransform CGAffineTransformInvert(const CGAffineTransform& t) {
    Matrix m = widen(t);
    double det = m.a * m.d - m.b * m.c;
    if (det == 0 || !std::isfinite(det)) return t;
    Matrix inv{m.d / det, -m.b / det, -m.c / det, m.a / det, 0, 0};
    inv.tx = -(m.tx * inv.a + m.ty * inv.c);
    inv.ty = -(m.tx * inv.b + m.ty * inv.d);
    return narrow(inv);
}

bool CGAffineTransformIsIdentity(const CGAffineTransform& t) { return t == CGAffineTransformIdentity; }
bool CGAffineTransformEqualToTransform(const CGAffineTransform& t1, const CGAffineTransform& t2) { return t1 == t2; }

CGPoint CGPointApplyAffineTransform(const CGPoint& p, const CGAffineTransform& t) {
    Matrix m = widen(t);
    return {static_cast<CGFloat>(m.a * p.x + m.c * p.y + m.tx), static_cast<CGFloat>(m.b * p.x + m.d * p.y + m.ty)};
}

CGSize CGSizeApplyAffineTransform(const CGSize& s, const CGAffineTransform& t) {
    Matrix m = widen(t);
    return {static_cast<CGFloat>(m.a * s.width + m.c * s.height), static_cast<CGFloat>(m.b * s.width + m.d * s.height)};
}

CGRect CGRectApplyAffineTransform(const CGRect& r, const CGAffineTransform& t) {
    if (CGRectIsNull(r)) return CGRectNull;
    Matrix m = widen(t);
    CGRect s = CGRectStandardize(r);
    double xs[2] = {s.origin.x, double(s.origin.x) + s.size.width};
    double ys[2] = {s.origin.y, double(s.origin.y) + s.size.height};
    double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    for (double x : xs) {
        for (double y : ys) {
            double px = m.a * x + m.c * y + m.tx, py = m.b * x + m.d * y + m.ty;
            minX = std::min(minX, px);
            maxX = std::max(maxX, px);
            minY = std::min(minY, py);
            maxY = std::max(maxY, py);
        }
    }
    return CGRectMake(static_cast<CGFloat>(minX), static_cast<CGFloat>(minY), static_cast<CGFloat>(maxX - minX),
                      static_cast<CGFloat>(maxY - minY));
}

}  // namespace platform
