#include "platform/web/RepeatedRefusal.h"

#include <algorithm>
#include <deque>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

#include "platform/runtime/Log.h"
#include "platform/runtime/NSRunLoop.h"
#include "platform/runtime/RunLoopTimer.h"

namespace platform::web {

namespace {

// Digests of a line's text, and of its shape: the text with each run of
// digits as one mark, so that lines differing by a counter share a shape.
struct LineDigests {
    size_t text;
    size_t shape;
};

LineDigests digestsOfLine(std::string_view line) {
    std::string shape;
    shape.reserve(line.size());
    bool inNumber = false;
    for (char c : line) {
        const bool digit = c >= '0' && c <= '9';
        if (!digit) shape += c;
        else if (!inNumber) shape += '\0';
        inNumber = digit;
    }
    return {std::hash<std::string_view>()(line), std::hash<std::string>()(shape)};
}

}  // namespace

// Refusals counted for one line: how many, and how alike.
struct RepeatedRefusal::Count {
    size_t n = 0;
    std::string line;  // written with the count
    LineDigests first{};
    bool sameText = true;
    bool sameShape = true;

    void add(const LineDigests& digests) {
        if (n++ == 0) {
            first = digests;
            return;
        }
        sameText = sameText && digests.text == first.text;
        sameShape = sameShape && digests.shape == first.shape;
    }
    // "<line> (<n> <span>)", saying when the lines counted differed.
    std::string written(std::string_view span) const {
        std::string out = line + " (" + std::to_string(n) + " " + std::string(span);
        if (!sameText) out += sameShape ? ", alike but for their numbers" : ", not all alike";
        return out + ")";
    }
};

struct RepeatedRefusal::State {
    double period = 0;
    Sink sink;
    Count turn;             // the turn's refusals, written once it has ended
    bool inPeriod = false;
    Count counted;          // the period's refusals
    // A fold of repeats: new lines written in the period under way, shapes
    // of the last lines written whole, the period's repeats of those (one
    // count each) and the rest.
    std::optional<Repeats> repeats;
    size_t newLinesInPeriod = 0;
    std::deque<size_t> written;
    std::vector<Count> named;
    Count others;

    bool wasWritten(size_t shape) const { return std::find(written.begin(), written.end(), shape) != written.end(); }
    void rememberWritten(size_t shape) {
        if (wasWritten(shape)) return;
        if (written.size() == kRememberedLines) written.pop_front();
        written.push_back(shape);
    }
};

RepeatedRefusal::RepeatedRefusal(double period, Sink sink) : state_(std::make_shared<State>()) {
    state_->period = period;
    state_->sink = std::move(sink);
}

RepeatedRefusal::RepeatedRefusal(double period, Sink sink, Repeats repeats)
    : RepeatedRefusal(period, std::move(sink)) {
    state_->repeats = std::move(repeats);
}

void RepeatedRefusal::write(const State& state, const std::string& line) {
    if (state.sink) state.sink(line);
    else log(LogLevel::Warning, line);
}

void RepeatedRefusal::remember(const std::string& line) {
    if (state_->repeats) state_->rememberWritten(digestsOfLine(line).shape);
}

void RepeatedRefusal::refuse(std::string line) {
    State& state = *state_;
    const LineDigests digests = digestsOfLine(line);
    if (state.repeats) {
        Count* count = &state.others;
        if (state.wasWritten(digests.shape)) {
            auto named = std::find_if(state.named.begin(), state.named.end(),
                                      [&](const Count& c) { return c.first.shape == digests.shape; });
            if (named != state.named.end()) count = &*named;
            else if (state.named.size() < kNamedCounts) count = &state.named.emplace_back();
        } else if (state.newLinesInPeriod < state.repeats->newLinesPerPeriod) {
            // Written as it comes; the period it opens folds its repeats.
            ++state.newLinesInPeriod;
            state.rememberWritten(digests.shape);
            write(state, line);
            count = nullptr;
        }
        if (count) {
            count->add(digests);
            count->line = std::move(line);
        }
        if (!state.inPeriod) {
            state.inPeriod = true;
            endPeriodLater(state_);
        }
        return;
    }
    if (state.turn.n > 0) {
        state.turn.add(digests);
        return;
    }
    if (state.inPeriod) {
        state.counted.add(digests);
        state.counted.line = std::move(line);
        return;
    }
    state.turn.add(digests);
    state.turn.line = std::move(line);
    // Posted work runs after the page's call has returned, however many refusals it made.
    runtime::postToMainThread([state = state_] {
        write(*state, state->turn.n > 1 ? state->turn.written("in all") : state->turn.line);
        state->turn = {};
        state->inPeriod = true;
        endPeriodLater(state);
    });
}

void RepeatedRefusal::endPeriodLater(const std::shared_ptr<State>& state) {
    // The timer holds the state: a count is logged even when its owner has gone meanwhile.
    runtime::scheduleMainThreadCall(state->period, [state] {
        std::ostringstream span;
        span << "more in " << state->period << " s";
        std::vector<std::string> lines;
        if (state->counted.n > 0) lines.push_back(state->counted.written(span.str()));
        for (const Count& count : state->named) lines.push_back(count.written(span.str()));
        if (state->others.n > 0)
            lines.push_back(state->repeats && state->repeats->others
                                ? state->repeats->others(state->others.n, state->others.line)
                                : state->others.written(span.str()));
        state->counted = {};
        state->named.clear();
        state->others = {};
        state->newLinesInPeriod = 0;
        if (lines.empty()) {
            state->inPeriod = false;
            state->written.clear();
            return;
        }
        for (const std::string& line : lines) write(*state, line);
        endPeriodLater(state);
    });
}

}  // namespace platform::web
