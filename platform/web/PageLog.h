// What script writes to the log in one context, its pages' and the calls
// they make: console lines and dialogs, uncaught exceptions, failures of the
// native calls they reach, and what their loads and navigations are refused.
// Callers put in the text a page supplies by its start and length
// (shortenedForLog). Each kind of line writes at most kLinesPerPeriod lines in
// kPeriod seconds on the clock, at once, in order with the rest of the log;
// past them, that period's repeats fold (RepeatedRefusal's fold of repeats:
// a line unlike the kind's recent ones in more than its numbers is still
// written, up to kNewLinesPerPeriod more a period, and repeats are counted by
// the line they repeat), so that a page that floods costs a bounded number of
// log bytes a second and hides no other message behind its flood, even a
// flood of lines that differ by a counter. One per script context, kept
// across the context's pages. Main thread.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "platform/runtime/Log.h"
#include "platform/web/RepeatedRefusal.h"

namespace platform::web {

class PageLog {
public:
    static constexpr double kPeriod = 1;
    static constexpr size_t kLinesPerPeriod = 20;
    static constexpr size_t kNewLinesPerPeriod = 20;

    // Writes `line` at `level`, or, once its kind ("JS log", "JS exception")
    // has written kLinesPerPeriod lines in the period under way, counts it
    // unless it is new.
    void write(LogLevel level, std::string_view kind, std::string line);

private:
    struct Kind {
        explicit Kind(LogLevel level);
        double periodStart;  // uptime
        size_t written = 0;  // lines of the period written as they came
        RepeatedRefusal folded;
    };
    std::map<std::string, Kind, std::less<>> kinds_;
};

}  // namespace platform::web
