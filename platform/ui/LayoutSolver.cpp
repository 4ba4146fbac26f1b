#include "platform/ui/LayoutSolver.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

#include "platform/runtime/Log.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIView.h"

namespace platform {

namespace {

constexpr double kTolerance = 1e-3;

enum Kind { Min = 0, Max = 1, Size = 2, Center = 3 };

struct Line {
    std::array<std::optional<double>, 4> values;  // indexed by Kind
    bool fixed = false;                           // the parent or a mask-translating view

    int knownCount() const {
        int n = 0;
        for (const auto& v : values) n += v.has_value();
        return n;
    }
    bool complete() const { return knownCount() == 4; }
    // Derives the other two values once two are known.
    void fill() {
        auto& [mn, mx, sz, ct] = values;
        if (knownCount() < 2 || complete()) return;
        if (mn && sz) {
            mx = *mn + *sz;
            ct = *mn + *sz / 2;
        } else if (mn && mx) {
            sz = *mx - *mn;
            ct = (*mn + *mx) / 2;
        } else if (mn && ct) {
            sz = 2 * (*ct - *mn);
            mx = *mn + *sz;
        } else if (mx && sz) {
            mn = *mx - *sz;
            ct = *mx - *sz / 2;
        } else if (mx && ct) {
            sz = 2 * (*mx - *ct);
            mn = *mx - *sz;
        } else if (sz && ct) {
            mn = *ct - *sz / 2;
            mx = *ct + *sz / 2;
        }
    }
    void setWhole(double min, double size) {
        values = {min, min + size, size, min + size / 2};
    }
};

struct Item {
    Ref<UIView> view;
    std::array<Line, 2> axes;  // 0 horizontal, 1 vertical
};

bool axisAndKind(NSLayoutAttribute a, int& axis, Kind& kind) {
    switch (a) {
        case NSLayoutAttributeLeft:
        case NSLayoutAttributeLeading: axis = 0, kind = Min; return true;
        case NSLayoutAttributeRight:
        case NSLayoutAttributeTrailing: axis = 0, kind = Max; return true;
        case NSLayoutAttributeWidth: axis = 0, kind = Size; return true;
        case NSLayoutAttributeCenterX: axis = 0, kind = Center; return true;
        case NSLayoutAttributeTop: axis = 1, kind = Min; return true;
        case NSLayoutAttributeBottom: axis = 1, kind = Max; return true;
        case NSLayoutAttributeHeight: axis = 1, kind = Size; return true;
        case NSLayoutAttributeCenterY: axis = 1, kind = Center; return true;
        default: return false;
    }
}

// One side of a constraint: an item's attribute, or nothing (a constant).
struct Term {
    Item* item = nullptr;
    int axis = 0;
    Kind kind = Min;
    Line& line() const { return item->axes[size_t(axis)]; }
    std::optional<double> value() const { return item ? line().values[kind] : std::optional<double>(0.0); }
};

struct Equation {
    Ref<NSLayoutConstraint> constraint;
    Term lhs, rhs;
    double multiplier, constant;
    bool skipped = false;
};

class Solver {
public:
    explicit Solver(UIView* parent) : parent_(parent) {}

    void run() {
        collect();
        if (equations_.empty()) return;
        std::stable_sort(equations_.begin(), equations_.end(), [](const Equation& a, const Equation& b) {
            return a.constraint->priority() > b.constraint->priority();
        });
        propagate();
        // Views still short of values take their natural size, then keep
        // their place, one value at a time, propagating after each.
        for (bool progress = true; progress;) {
            progress = false;
            for (auto& item : items_) {
                for (int axis = 0; axis < 2 && !progress; ++axis) {
                    Line& line = item.axes[size_t(axis)];
                    if (line.complete()) continue;
                    CGRect f = item.view->frame();
                    if (!line.values[Size]) {
                        CGSize natural = item.view->intrinsicContentSize();
                        double n = axis == 0 ? natural.width : natural.height;
                        line.values[Size] = n >= 0 ? n : double(axis == 0 ? f.size.width : f.size.height);
                    } else {
                        line.values[Min] = axis == 0 ? f.origin.x : f.origin.y;
                    }
                    line.fill();
                    progress = true;
                }
                if (progress) break;
            }
            if (progress) propagate();
        }
        clamp();
        apply();
    }

private:
    Item* itemFor(const Ref<UIView>& view) {
        for (auto& item : items_)
            if (item.view == view) return &item;
        return nullptr;
    }

    Item* addItem(const Ref<UIView>& view) {
        if (Item* existing = itemFor(view)) return existing;
        Item item;
        item.view = view;
        if (view.get() == parent_) {
            CGRect b = view->bounds();
            item.axes[0].setWhole(b.origin.x, b.size.width);
            item.axes[1].setWhole(b.origin.y, b.size.height);
            item.axes[0].fixed = item.axes[1].fixed = true;
        } else if (view->translatesAutoresizingMaskIntoConstraints()) {
            CGRect f = view->frame();
            item.axes[0].setWhole(f.origin.x, f.size.width);
            item.axes[1].setWhole(f.origin.y, f.size.height);
            item.axes[0].fixed = item.axes[1].fixed = true;
        }
        items_.push_back(std::move(item));
        return &items_.back();
    }

    bool inScope(const Ref<UIView>& v) const { return !v || v.get() == parent_ || v->superview().get() == parent_; }

    void consider(const Ref<NSLayoutConstraint>& c) {
        if (!c->isActive()) return;
        auto first = c->firstItem(), second = c->secondItem();
        if (!first) return;
        if (!inScope(first) || !inScope(second)) {
            if (c->firstForeignReport())
                logError("Layout: ignoring a constraint between views outside the holder and its subviews: " +
                         c->description());
            return;
        }
        // Constraints naming only the parent are its own superview's business.
        if (first.get() == parent_ && (!second || second.get() == parent_)) return;
        Pending p;
        p.constraint = c;
        p.first = first;
        if (!axisAndKind(c->firstAttribute(), p.lhs.axis, p.lhs.kind)) return;
        if (second && c->secondAttribute() != NSLayoutAttributeNotAnAttribute) {
            if (!axisAndKind(c->secondAttribute(), p.rhs.axis, p.rhs.kind)) return;
            p.second = second;
        }
        pending_.push_back(std::move(p));
    }

    void collect() {
        for (const auto& c : parent_->constraints()) consider(c);
        for (const auto& sub : parent_->subviews())
            for (const auto& c : sub->constraints()) {
                auto first = c->firstItem(), second = c->secondItem();
                if (first == sub && (!second || second == sub)) consider(c);
            }
        // Items are made after collection, reserved, so pointers stay valid.
        items_.reserve(pending_.size() * 2 + 1);
        for (auto& p : pending_) {
            Equation e;
            e.constraint = p.constraint;
            e.lhs = p.lhs;
            e.rhs = p.rhs;
            e.lhs.item = addItem(p.first);
            e.rhs.item = p.second ? addItem(p.second) : nullptr;
            e.multiplier = p.second ? p.constraint->multiplier() : 0;
            e.constant = p.constraint->constant();
            equations_.push_back(std::move(e));
        }
    }

    void conflict(Equation& e) {
        e.skipped = true;
        if (e.constraint->priority() < UILayoutPriorityRequired || !e.constraint->firstConflictReport()) return;
        logError("Unable to simultaneously satisfy constraints: breaking " + e.constraint->description());
    }

    static bool assign(const Term& t, double value) {
        Line& line = t.line();
        if (line.values[t.kind] || line.fixed || !std::isfinite(value)) return false;
        line.values[t.kind] = value;
        line.fill();
        return true;
    }

    void propagate() {
        for (bool changed = true; changed;) {
            changed = false;
            for (auto& e : equations_) {
                if (e.skipped || e.constraint->relation() != NSLayoutRelationEqual) continue;
                auto lhs = e.lhs.value();
                auto rhs = e.rhs.value();
                if (!lhs && rhs) {
                    changed |= assign(e.lhs, e.multiplier * *rhs + e.constant);
                } else if (lhs && !rhs && e.multiplier != 0) {
                    changed |= assign(e.rhs, (*lhs - e.constant) / e.multiplier);
                } else if (lhs && rhs && std::fabs(*lhs - (e.multiplier * *rhs + e.constant)) > kTolerance) {
                    conflict(e);
                }
            }
        }
    }

    static void shift(const Term& t, double target) {
        Line& line = t.line();
        double current = *line.values[t.kind];
        if (t.kind == Size) {
            line.setWhole(*line.values[Min], target);
        } else {
            line.setWhole(*line.values[Min] + (target - current), *line.values[Size]);
        }
    }

    void clamp() {
        for (auto& e : equations_) {
            NSLayoutRelation r = e.constraint->relation();
            if (e.skipped || r == NSLayoutRelationEqual) continue;
            auto lhs = e.lhs.value();
            auto rhs = e.rhs.value();
            if (!lhs || !rhs) continue;
            double target = e.multiplier * *rhs + e.constant;
            bool violated = r == NSLayoutRelationGreaterThanOrEqual ? *lhs < target - kTolerance
                                                                    : *lhs > target + kTolerance;
            if (!violated) continue;
            if (!e.lhs.line().fixed) {
                shift(e.lhs, target);
            } else if (e.rhs.item && !e.rhs.line().fixed && e.multiplier != 0) {
                shift(e.rhs, (*lhs - e.constant) / e.multiplier);
            } else {
                conflict(e);
            }
        }
    }

    void apply() {
        for (auto& item : items_) {
            if (item.axes[0].fixed || !item.axes[0].complete() || !item.axes[1].complete()) continue;
            auto& h = item.axes[0].values;
            auto& v = item.axes[1].values;
            CGRect frame = CGRectMake(static_cast<CGFloat>(*h[Min]), static_cast<CGFloat>(*v[Min]),
                                      static_cast<CGFloat>(std::max(0.0, *h[Size])),
                                      static_cast<CGFloat>(std::max(0.0, *v[Size])));
            if (!(frame == item.view->frame())) item.view->setFrame(frame);
        }
    }

    UIView* parent_;
    std::vector<Item> items_;
    struct Pending {
        Ref<NSLayoutConstraint> constraint;
        Ref<UIView> first, second;
        Term lhs, rhs;
    };
    std::vector<Pending> pending_;
    std::vector<Equation> equations_;
};

}  // namespace

void LayoutSolver::solve(UIView* view) {
    if (!view) return;
    Solver(view).run();
}

}  // namespace platform
