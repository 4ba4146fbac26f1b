// Internal to the web module: a page's style text made fit for litehtml,
// whose parser spends time and memory out of all proportion on some text
// (many comments, stray or deeply nested braces, selectors of thousands of
// steps) and cuts an unquoted url() at its first ';' (data URLs have one).
// The tidied text means what the page's did for all that litehtml draws, and
// comes with the count of pieces litehtml will make of it (rules, selectors,
// declarations), which a drawing bounds.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::web {

struct TidiedStyle {
    std::string text;
    size_t pieces = 0;
};

// Blocks nested deeper (an at-rule's block holding rules is two deep) are left
// out, as are rules with a selector of more steps (compound selectors in a
// chain) or more parentheses inside one another.
inline constexpr size_t kMaximumStyleNesting = 3;
inline constexpr size_t kMaximumSelectorSteps = 32;
inline constexpr size_t kMaximumSelectorParentheses = 4;

// A style sheet: comments out; strings and url() arguments quoted, with no
// braces left in them; a '}' that closes nothing out, every open block
// closed at the end; too deep blocks and too long selectors out (above).
TidiedStyle tidyStyleSheet(std::string_view sheet);
// A style attribute's declarations: comments out, url() arguments quoted.
TidiedStyle tidyStyleDeclarations(std::string_view declarations);

}  // namespace platform::web
