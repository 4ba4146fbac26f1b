// The mutation the short deterministic fuzz passes apply to their seeds: one
// to four steps, each inserting one of the pass's own pieces, cutting a few
// bytes, overwriting a byte or repeating the text's beginning.
#pragma once

#include <initializer_list>
#include <random>
#include <string>

inline std::string TrilliumFuzzMutate(std::string text, std::mt19937& rng, std::initializer_list<const char*> pieces) {
    auto pick = [&](size_t n) { return n ? std::uniform_int_distribution<size_t>(0, n - 1)(rng) : 0; };
    for (int steps = 1 + static_cast<int>(pick(4)); steps > 0; --steps) {
        size_t at = pick(text.size() + 1);
        switch (pick(4)) {
            case 0: text.insert(at, pieces.begin()[pick(pieces.size())]); break;
            case 1: if (!text.empty()) text.erase(at < text.size() ? at : 0, 1 + pick(8)); break;
            case 2: if (!text.empty()) text[pick(text.size())] = static_cast<char>(rng()); break;
            default: text.insert(at, text.substr(0, pick(text.size() + 1))); break;
        }
    }
    return text;
}
