#include "platform/foundation/NSCharacterSet.h"

#include <algorithm>

#include "platform/foundation/Utf8.h"

namespace platform {

namespace {

Ref<NSCharacterSet> make(std::string_view ascii) { return NSCharacterSet::characterSetWithCharactersInString(ascii); }

constexpr std::string_view kAlphanumerics = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

Ref<NSCharacterSet> urlSet(std::string_view punctuation) {
    auto set = make(kAlphanumerics);
    set->addCharactersInString(punctuation);
    return set;
}

}  // namespace

// The shared sets are never changed: callers change a mutableCopy().
Ref<NSCharacterSet> NSCharacterSet::whitespaceCharacterSet() {
    static const Ref<NSCharacterSet> set = [] {
        auto s = make(" \t");
        s->addRange(0xA0, 0xA0);
        s->addRange(0x1680, 0x1680);
        s->addRange(0x2000, 0x200A);
        s->addRange(0x202F, 0x202F);
        s->addRange(0x205F, 0x205F);
        s->addRange(0x3000, 0x3000);
        return s;
    }();
    return set;
}

Ref<NSCharacterSet> NSCharacterSet::newlineCharacterSet() {
    static const Ref<NSCharacterSet> set = [] {
        auto s = make("\n\v\f\r");
        s->addRange(0x85, 0x85);
        s->addRange(0x2028, 0x2029);
        return s;
    }();
    return set;
}

Ref<NSCharacterSet> NSCharacterSet::whitespaceAndNewlineCharacterSet() {
    static const Ref<NSCharacterSet> set = [] {
        auto s = whitespaceCharacterSet()->mutableCopy();
        s->addCharactersInString("\n\v\f\r\u0085\u2028\u2029");
        return s;
    }();
    return set;
}

Ref<NSCharacterSet> NSCharacterSet::decimalDigitCharacterSet() {
    // Never destroyed: other threads may use it during exit.
    static const Ref<NSCharacterSet>& set = *new Ref<NSCharacterSet>(make("0123456789"));
    return set;
}

Ref<NSCharacterSet> NSCharacterSet::alphanumericCharacterSet() {
    // Never destroyed: other threads may use it during exit.
    static const Ref<NSCharacterSet>& set = *new Ref<NSCharacterSet>(make(kAlphanumerics));
    return set;
}

Ref<NSCharacterSet> NSCharacterSet::URLQueryAllowedCharacterSet() {
    // Never destroyed: other threads may use it during exit.
    static const Ref<NSCharacterSet>& set = *new Ref<NSCharacterSet>(urlSet("!$&'()*+,-./:;=?@_~"));
    return set;
}

Ref<NSCharacterSet> NSCharacterSet::URLFragmentAllowedCharacterSet() {
    // Never destroyed: other threads may use it during exit.
    static const Ref<NSCharacterSet>& set = *new Ref<NSCharacterSet>(urlSet("!$&'()*+,-./:;=?@_~"));
    return set;
}

Ref<NSCharacterSet> NSCharacterSet::URLPathAllowedCharacterSet() {
    // Never destroyed: other threads may use it during exit.
    static const Ref<NSCharacterSet>& set = *new Ref<NSCharacterSet>(urlSet("!$&'()*+,-./:=@_~"));
    return set;
}

Ref<NSCharacterSet> NSCharacterSet::URLHostAllowedCharacterSet() {
    // Never destroyed: other threads may use it during exit.
    static const Ref<NSCharacterSet>& set = *new Ref<NSCharacterSet>(urlSet("!$&'()*+,-.:;=[]_~"));
    return set;
}

Ref<NSCharacterSet> NSCharacterSet::URLUserAllowedCharacterSet() {
    // Never destroyed: other threads may use it during exit.
    static const Ref<NSCharacterSet>& set = *new Ref<NSCharacterSet>(urlSet("!$&'()*+,-.;=_~"));
    return set;
}

Ref<NSCharacterSet> NSCharacterSet::URLPasswordAllowedCharacterSet() {
    // Never destroyed: other threads may use it during exit.
    static const Ref<NSCharacterSet>& set = *new Ref<NSCharacterSet>(urlSet("!$&'()*+,-.;=_~"));
    return set;
}

Ref<NSCharacterSet> NSCharacterSet::characterSetWithCharactersInString(std::string_view characters) {
    auto set = alloc<NSCharacterSet>();
    set->addCharactersInString(characters);
    return set;
}

bool NSCharacterSet::characterIsMember(char32_t c) const {
    bool member;
    if (c < 128) {
        member = ascii_.test(c);
    } else {
        member = std::any_of(ranges_.begin(), ranges_.end(),
                             [c](const auto& r) { return c >= r.first && c <= r.second; });
    }
    return member != inverted_;
}

Ref<NSCharacterSet> NSCharacterSet::invertedSet() const {
    auto set = mutableCopy();
    set->inverted_ = !inverted_;
    return set;
}

Ref<NSCharacterSet> NSCharacterSet::mutableCopy() const {
    auto set = alloc<NSCharacterSet>();
    set->ascii_ = ascii_;
    set->ranges_ = ranges_;
    set->inverted_ = inverted_;
    return set;
}

void NSCharacterSet::addRange(char32_t first, char32_t last) {
    // Stored as membership of the underlying set: adding to an inverted set
    // removes from what it inverts.
    for (char32_t c = first; c <= last && c < 128; ++c) ascii_.set(c, !inverted_);
    if (last < 128) return;
    first = std::max<char32_t>(first, 128);
    if (inverted_) {
        for (char32_t c = first; c <= last; ++c) removeCodePoint(c);
        return;
    }
    ranges_.emplace_back(first, last);
}

void NSCharacterSet::removeCodePoint(char32_t c) {
    std::vector<std::pair<char32_t, char32_t>> next;
    for (const auto& r : ranges_) {
        if (c < r.first || c > r.second) {
            next.push_back(r);
            continue;
        }
        if (r.first < c) next.emplace_back(r.first, c - 1);
        if (c < r.second) next.emplace_back(c + 1, r.second);
    }
    ranges_ = std::move(next);
}

void NSCharacterSet::addCharactersInString(std::string_view characters) {
    for (size_t i = 0; i < characters.size();) {
        const auto d = utf8::decode(characters, i);
        if (d.valid) addRange(d.codePoint, d.codePoint);
        i += d.size;
    }
}

void NSCharacterSet::removeCharactersInString(std::string_view characters) {
    for (size_t i = 0; i < characters.size();) {
        const auto d = utf8::decode(characters, i);
        i += d.size;
        if (!d.valid) continue;
        if (d.codePoint < 128) {
            ascii_.set(d.codePoint, inverted_);
        } else if (inverted_) {
            ranges_.emplace_back(d.codePoint, d.codePoint);
        } else {
            removeCodePoint(d.codePoint);
        }
    }
}

}  // namespace platform
