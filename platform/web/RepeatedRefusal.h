// A refusal a page may repeat many times, logged with how many there were
// instead of once per call. The first refusal of a main-queue turn posts its
// line; the others of that turn only count (a loop over a bridge call past
// its cap). A page refused again and again over time (a timer calling every
// 10 ms) gets its first line, then one line with a count per period while
// the refusals go on; clients' bridges use it so. A count line says what it
// counts: a count of lines that were not all alike says so. Main thread.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace platform::web {

class RepeatedRefusal {
public:
    using Sink = std::function<void(const std::string& line)>;
    // How many of the lines written whole a fold of repeats remembers.
    static constexpr size_t kRememberedLines = 64;
    // How many remembered lines a fold of repeats counts on lines of their own a period.
    static constexpr size_t kNamedCounts = 4;

    // How a fold of repeats folds (below).
    struct Repeats {
        size_t newLinesPerPeriod = 0;
        // The line for the refusals of a period counted together (new lines
        // past the period's room, repeats past kNamedCounts remembered
        // lines), given their number and the last of them; when null, the
        // last one with the count.
        std::function<std::string(size_t count, const std::string& last)> others;
    };

    // The refusals of the `period` seconds (on the clock) after a logged line
    // only count; each line goes to `sink` (a warning when it is null).
    RepeatedRefusal(double period, Sink sink);
    // A fold of repeats: a line unlike those it has written whole (the last
    // kRememberedLines of them) in more than its numbers is written at once,
    // whole, up to `repeats.newLinesPerPeriod` such lines a period, so that a
    // different message is not lost in a flood of one, even a flood of lines
    // that differ by a counter. The rest count; at the period's end each
    // remembered line repeated is written with its count, up to kNamedCounts
    // of them, and the others in one line (Repeats::others).
    RepeatedRefusal(double period, Sink sink, Repeats repeats);

    // `line` is logged for the first refusal of the turn, with " (<n> in
    // all)" when more followed it in that turn; later lines of the turn are
    // only counted. The refusals of the period after it are logged at its
    // end as the last one's line with " (<n> more in <period> s)", and a new
    // period follows; a period without any ends the count, and the next
    // refusal is a first one again. A count whose lines differed adds ",
    // alike but for their numbers" or ", not all alike". A fold of repeats
    // has no turn line (above).
    void refuse(std::string line);
    // A fold of repeats only: `line` was written whole elsewhere (its
    // owner's first lines of a period), so that its repeats fold too.
    void remember(const std::string& line);

private:
    struct Count;
    struct State;
    static void write(const State& state, const std::string& line);
    static void endPeriodLater(const std::shared_ptr<State>& state);

    std::shared_ptr<State> state_;  // shared with the posted line and the period's end
};

}  // namespace platform::web
