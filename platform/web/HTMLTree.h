// Internal to the web module: HTML parsed by gumbo into the flat node list the
// page environment builds its document from, with bounded size and depth.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform::web {

// Bounds on what a page can make the parser and the document model hold.
inline constexpr size_t kMaximumDocumentBytes = 2u << 20;  // longer pages are cut
inline constexpr size_t kMaximumNodes = 50000;             // later nodes are dropped
inline constexpr size_t kMaximumDepth = 512;               // deeper subtrees are dropped

// The nodes in document order as JSON: [1, parent, tag, [name, value, …]] for
// elements, [3, parent, text] for text, [8, parent, text] for comments;
// parent is an earlier node's index or -1 for the top. A whole document
// (html, head, body always present) or, with `fragmentContext` (a tag
// name), the children of an element of that kind. Never fails: bad markup is
// parsed by the HTML rules, invalid UTF-8 becomes U+FFFD. Each bound the
// markup passed gives a line to `boundPassed` (a page's parse hands it to the
// page's fold), or a warning of the platform's log when it is null.
using ParseLineSink = std::function<void(std::string line)>;
std::string parseHTMLToNodeList(std::string_view html, std::optional<std::string_view> fragmentContext = {},
                                const ParseLineSink& boundPassed = nullptr);

}  // namespace platform::web
