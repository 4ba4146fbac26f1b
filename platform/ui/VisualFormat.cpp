#include "platform/ui/VisualFormat.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "platform/ui/UIView.h"

namespace platform {

namespace {

constexpr CGFloat kStandardSpacing = 8;

struct Failure {
    std::string message;
    size_t position;
};

struct Predicate {
    NSLayoutRelation relation = NSLayoutRelationEqual;
    std::optional<CGFloat> constant;
    Ref<UIView> view;  // [a(==b)]
    UILayoutPriority priority = UILayoutPriorityRequired;
};

struct Element {
    Ref<UIView> view;  // null: the superview "|"
    size_t position = 0;
};

class Parser {
public:
    Parser(const std::string& format, const Value& metrics, const std::map<std::string, Ref<UIView>>& views)
        : s_(format), metrics_(metrics), views_(views) {}

    std::vector<Ref<NSLayoutConstraint>> run() {
        skipSpace();
        if (s_.compare(pos_, 2, "H:") == 0) {
            pos_ += 2;
        } else if (s_.compare(pos_, 2, "V:") == 0) {
            vertical_ = true;
            pos_ += 2;
        }
        skipSpace();
        if (atEnd()) fail("Expected a view");

        std::optional<Element> previous;
        std::vector<Predicate> gap;  // the connection after `previous`
        if (peek('|')) {
            previous = Element{nullptr, pos_};
            ++pos_;
            gap = connection();
            skipSpace();
            if (!peek('[')) fail("Expected a view after '|'");
        }
        for (;;) {
            Element view = viewElement();
            if (previous) connect(*previous, view, gap);
            previous = view;
            skipSpace();
            if (atEnd()) break;
            gap = connection();
            skipSpace();
            if (peek('|')) {
                Element superview{nullptr, pos_};
                ++pos_;
                connect(*previous, superview, gap);
                skipSpace();
                if (!atEnd()) fail("Unexpected text after '|'");
                break;
            }
            if (!peek('[')) fail("Expected a view");
        }
        return std::move(out_);
    }

private:
    [[noreturn]] void fail(const std::string& message) { throw Failure{message, pos_}; }
    bool atEnd() const { return pos_ >= s_.size(); }
    bool peek(char c) const { return !atEnd() && s_[pos_] == c; }
    void skipSpace() {
        while (!atEnd() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    }
    void expect(char c) {
        skipSpace();
        if (!peek(c)) fail(std::string("Expected '") + c + "'");
        ++pos_;
    }

    std::string identifier() {
        size_t start = pos_;
        if (atEnd() || !(std::isalpha(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_')) fail("Expected a name");
        while (!atEnd() && (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_')) ++pos_;
        return s_.substr(start, pos_ - start);
    }

    std::optional<CGFloat> number() {
        size_t start = pos_;
        if (peek('-') || peek('+')) ++pos_;
        bool digits = false;
        while (!atEnd() && (std::isdigit(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '.')) {
            digits = true;
            ++pos_;
        }
        if (!digits) {
            pos_ = start;
            return std::nullopt;
        }
        std::string text = s_.substr(start, pos_ - start);
        char* end = nullptr;
        double v = std::strtod(text.c_str(), &end);
        if (!end || *end != '\0' || !std::isfinite(v)) {
            pos_ = start;
            fail("Malformed number");
        }
        return static_cast<CGFloat>(v);
    }

    CGFloat metric(const std::string& name, size_t at) {
        const Value& v = metrics_[name];
        if (!v.isNumber()) {
            pos_ = at;
            fail("Unknown metric '" + name + "'");
        }
        return v.floatValue();
    }

    // A number or a metric name.
    CGFloat constant() {
        skipSpace();
        if (auto n = number()) return *n;
        size_t at = pos_;
        return metric(identifier(), at);
    }

    // [relation] (constant | view) [@priority]
    Predicate predicate(bool allowView) {
        Predicate p;
        skipSpace();
        if (s_.compare(pos_, 2, "==") == 0) {
            pos_ += 2;
        } else if (s_.compare(pos_, 2, ">=") == 0) {
            p.relation = NSLayoutRelationGreaterThanOrEqual;
            pos_ += 2;
        } else if (s_.compare(pos_, 2, "<=") == 0) {
            p.relation = NSLayoutRelationLessThanOrEqual;
            pos_ += 2;
        }
        skipSpace();
        if (auto n = number()) {
            p.constant = *n;
        } else {
            size_t at = pos_;
            std::string name = identifier();
            if (metrics_.contains(name)) {
                p.constant = metric(name, at);
            } else if (allowView && views_.count(name)) {
                p.view = views_.at(name);
                if (!p.view) {
                    pos_ = at;
                    fail("View '" + name + "' is null");
                }
            } else {
                pos_ = at;
                fail(std::string(allowView ? "Unknown metric or view '" : "Unknown metric '") + name + "'");
            }
        }
        skipSpace();
        if (peek('@')) {
            ++pos_;
            CGFloat priority = constant();
            if (!(priority >= 1 && priority <= 1000)) fail("Priority out of range");
            p.priority = priority;
        }
        return p;
    }

    // "(p, p, …)" or a bare number or metric.
    std::vector<Predicate> predicateList(bool allowView) {
        std::vector<Predicate> list;
        skipSpace();
        if (peek('(')) {
            ++pos_;
            list.push_back(predicate(allowView));
            skipSpace();
            while (peek(',')) {
                ++pos_;
                list.push_back(predicate(allowView));
                skipSpace();
            }
            expect(')');
        } else {
            Predicate p;
            p.constant = constant();
            list.push_back(p);
        }
        return list;
    }

    // What separates two elements: "" (flush), "-" (standard), "-list-".
    std::vector<Predicate> connection() {
        skipSpace();
        if (!peek('-')) {
            Predicate flush;
            flush.constant = 0;
            return {flush};
        }
        ++pos_;
        skipSpace();
        if (peek('[') || peek('|')) {
            Predicate standard;
            standard.constant = kStandardSpacing;
            return {standard};
        }
        auto list = predicateList(false);
        expect('-');
        return list;
    }

    Element viewElement() {
        skipSpace();
        size_t at = pos_;
        expect('[');
        skipSpace();
        size_t nameAt = pos_;
        std::string name = identifier();
        auto it = views_.find(name);
        if (it == views_.end() || !it->second) {
            pos_ = nameAt;
            fail("Unknown view '" + name + "'");
        }
        Element e{it->second, at};
        skipSpace();
        if (peek('(')) {
            for (const Predicate& p : predicateList(true)) {
                NSLayoutAttribute size = vertical_ ? NSLayoutAttributeHeight : NSLayoutAttributeWidth;
                auto c = p.view ? NSLayoutConstraint::constraintWithItem(e.view, size, p.relation, p.view, size, 1, 0)
                                : NSLayoutConstraint::constraintWithItem(e.view, size, p.relation, nullptr,
                                                                         NSLayoutAttributeNotAnAttribute, 1, *p.constant);
                c->setPriority(p.priority);
                out_.push_back(c);
            }
        }
        expect(']');
        return e;
    }

    Ref<UIView> superviewOf(const Element& neighbour) {
        auto s = neighbour.view->superview();
        if (!s) {
            pos_ = neighbour.position;
            fail("'|' names the superview, but the view has none");
        }
        return s;
    }

    void connect(const Element& a, const Element& b, const std::vector<Predicate>& gap) {
        NSLayoutAttribute lead = vertical_ ? NSLayoutAttributeTop : NSLayoutAttributeLeading;
        NSLayoutAttribute trail = vertical_ ? NSLayoutAttributeBottom : NSLayoutAttributeTrailing;
        for (const Predicate& p : gap) {
            Ref<NSLayoutConstraint> c;
            CGFloat n = p.constant.value_or(0);
            if (!a.view) {  // |-n-[b]
                c = NSLayoutConstraint::constraintWithItem(b.view, lead, p.relation, superviewOf(b), lead, 1, n);
            } else if (!b.view) {  // [a]-n-|
                c = NSLayoutConstraint::constraintWithItem(superviewOf(a), trail, p.relation, a.view, trail, 1, n);
            } else {  // [a]-n-[b]
                c = NSLayoutConstraint::constraintWithItem(b.view, lead, p.relation, a.view, trail, 1, n);
            }
            c->setPriority(p.priority);
            out_.push_back(c);
        }
    }

    const std::string& s_;
    const Value& metrics_;
    const std::map<std::string, Ref<UIView>>& views_;
    size_t pos_ = 0;
    bool vertical_ = false;
    std::vector<Ref<NSLayoutConstraint>> out_;
};

}  // namespace

VisualFormat::Result VisualFormat::parse(const std::string& format, const Value& metrics,
                                         const std::map<std::string, Ref<UIView>>& views) {
    Result result;
    try {
        result.constraints = Parser(format, metrics, views).run();
    } catch (const Failure& f) {
        result.ok = false;
        result.constraints.clear();
        result.message = f.message;
        result.position = f.position;
    }
    return result;
}

}  // namespace platform
