// The page-driven log lines of one object (a script bridge, a web view's
// delegate), each kind folded by a RepeatedRefusal of its own: a kind's first
// line at once, then a count per period while the page goes on, so that one
// kind of bad call does not hide another's first line. Kinds are the caller's
// fixed names (a format, a call), never page text, so the map stays small.
// Folds on the main thread, where pages run; any thread may call.
#pragma once

#include <map>
#include <string>

#include "platform/web/RepeatedRefusal.h"

namespace platform::web {

class RepeatedRefusals {
public:
    explicit RepeatedRefusals(double period) : period_(period) {}

    // Folds `line` with the earlier lines of `kind`. The kind's first line
    // fixes its sink (its level, its client's log) and how it folds: given
    // `repeats`, only repeats of a line fold (RepeatedRefusal); later sinks
    // and folds are ignored. Off the main thread the caller is no page's
    // script: `line` goes to `sink` at once, and the kinds are not touched.
    void refuse(const std::string& kind, std::string line, const RepeatedRefusal::Sink& sink,
                const RepeatedRefusal::Repeats* repeats = nullptr);

private:
    double period_;
    std::map<std::string, RepeatedRefusal> byKind_;
};

}  // namespace platform::web
