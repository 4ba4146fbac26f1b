// A refusal a page may repeat many times, logged with how many there were
// instead of once per call. The first refusal of a main-queue turn posts its
// line; the others of that turn only count (a loop over setTimeout or
// location past their caps). Given a period, a page refused again and again
// over time (a timer calling every 10 ms) gets its first line, then one line
// with a count per period while the refusals go on; clients' bridges use it
// so. Main thread.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace platform::web {

class RepeatedRefusal {
public:
    using Sink = std::function<void(const std::string& line)>;
    // How many of the lines written whole a fold of repeats only remembers.
    static constexpr size_t kRememberedLines = 64;

    // Per turn only, each line a warning of the platform's log.
    RepeatedRefusal();
    // The refusals of the `period` seconds (on the clock) after a logged line
    // only count; each line goes to `sink` (a warning when it is null).
    // With `newLinesPerPeriod`, only repeats fold: a line unlike those the
    // fold has written whole (the last kRememberedLines of them) is written
    // at once, whole, up to `newLinesPerPeriod` such lines a period, so that
    // a different message is not lost in a flood of one.
    RepeatedRefusal(double period, Sink sink, size_t newLinesPerPeriod = 0);

    // `line` is logged for the first refusal of the turn, with " (<n> in
    // all)" when more followed it in that turn; later lines of the turn are
    // dropped. With a period, the refusals of the period after it are logged
    // at its end as the last one's line with " (<n> more in <period> s)",
    // and a new period follows; a period without any ends the count, and the
    // next refusal is a first one again.
    void refuse(std::string line);
    // A fold of repeats only: `line` was written whole elsewhere (its
    // owner's first lines of a period), so that its repeats fold too.
    void remember(const std::string& line);

private:
    struct State;
    static void write(const State& state, const std::string& line);
    // Whether `line` is new to a fold of repeats with room for it this
    // period; it is then remembered.
    static bool takeAsNew(State& state, const std::string& line);
    // Remembers a line written whole; false when it was remembered already.
    static bool rememberWritten(State& state, const std::string& line);
    static void endPeriodLater(const std::shared_ptr<State>& state);

    std::shared_ptr<State> state_;  // shared with the posted line and the period's end
};

}  // namespace platform::web
