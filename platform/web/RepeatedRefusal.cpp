#include "platform/web/RepeatedRefusal.h"

#include <algorithm>
#include <deque>
#include <sstream>
#include <string_view>

#include "platform/runtime/Log.h"
#include "platform/runtime/NSRunLoop.h"
#include "platform/runtime/RunLoopTimer.h"

namespace platform::web {

struct RepeatedRefusal::State {
    double period = 0;
    Sink sink;
    std::string line;        // the turn's first line, or the period's last
    size_t turnCount = 0;    // refusals of the turn whose line waits to be posted
    bool inPeriod = false;
    size_t periodCount = 0;  // refusals of the period under way
    // A fold of repeats only: new lines a period may write, those written in
    // the period under way, and digests of the last lines written whole.
    size_t newLinesPerPeriod = 0;
    size_t newLinesInPeriod = 0;
    std::deque<size_t> written;
};

RepeatedRefusal::RepeatedRefusal() : RepeatedRefusal(0, nullptr) {}

RepeatedRefusal::RepeatedRefusal(double period, Sink sink, size_t newLinesPerPeriod)
    : state_(std::make_shared<State>()) {
    state_->period = period;
    state_->sink = std::move(sink);
    state_->newLinesPerPeriod = period > 0 ? newLinesPerPeriod : 0;
}

void RepeatedRefusal::write(const State& state, const std::string& line) {
    if (state.sink) state.sink(line);
    else log(LogLevel::Warning, line);
}

bool RepeatedRefusal::rememberWritten(State& state, const std::string& line) {
    const size_t digest = std::hash<std::string_view>()(line);
    if (std::find(state.written.begin(), state.written.end(), digest) != state.written.end()) return false;
    if (state.written.size() == kRememberedLines) state.written.pop_front();
    state.written.push_back(digest);
    return true;
}

bool RepeatedRefusal::takeAsNew(State& state, const std::string& line) {
    if (state.newLinesInPeriod >= state.newLinesPerPeriod || !rememberWritten(state, line)) return false;
    ++state.newLinesInPeriod;
    return true;
}

void RepeatedRefusal::remember(const std::string& line) {
    if (state_->newLinesPerPeriod > 0) rememberWritten(*state_, line);
}

void RepeatedRefusal::refuse(std::string line) {
    State& state = *state_;
    if (state.newLinesPerPeriod > 0 && takeAsNew(state, line)) {
        // Written as it comes; the period it opens folds its repeats.
        write(state, line);
        if (!state.inPeriod) {
            state.inPeriod = true;
            endPeriodLater(state_);
        }
        return;
    }
    if (state.turnCount > 0) {
        ++state.turnCount;
        return;
    }
    if (state.inPeriod) {
        ++state.periodCount;
        state.line = std::move(line);
        return;
    }
    state.line = std::move(line);
    state.turnCount = 1;
    // Posted work runs after the page's call has returned, however many refusals it made.
    runtime::postToMainThread([state = state_] {
        std::string text = state->line;
        if (state->turnCount > 1) text += " (" + std::to_string(state->turnCount) + " in all)";
        state->turnCount = 0;
        write(*state, text);
        // (A new line of the turn may have opened the period already.)
        if (state->period > 0 && !state->inPeriod) {
            state->inPeriod = true;
            endPeriodLater(state);
        }
    });
}

void RepeatedRefusal::endPeriodLater(const std::shared_ptr<State>& state) {
    // The timer holds the state: a count is logged even when its owner has gone meanwhile.
    runtime::scheduleMainThreadCall(state->period, [state] {
        state->newLinesInPeriod = 0;
        if (state->periodCount == 0) {
            state->inPeriod = false;
            state->written.clear();
            return;
        }
        std::ostringstream text;
        text << state->line << " (" << state->periodCount << " more in " << state->period << " s)";
        state->periodCount = 0;
        write(*state, text.str());
        endPeriodLater(state);
    });
}

}  // namespace platform::web
