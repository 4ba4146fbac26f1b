#include "platform/web/RepeatedRefusal.h"

#include <sstream>

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
};

RepeatedRefusal::RepeatedRefusal() : RepeatedRefusal(0, nullptr) {}

RepeatedRefusal::RepeatedRefusal(double period, Sink sink) : state_(std::make_shared<State>()) {
    state_->period = period;
    state_->sink = std::move(sink);
}

void RepeatedRefusal::write(const State& state, const std::string& line) {
    if (state.sink) state.sink(line);
    else log(LogLevel::Warning, line);
}

void RepeatedRefusal::refuse(std::string line) {
    State& state = *state_;
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
        if (state->period > 0) {
            state->inPeriod = true;
            endPeriodLater(state);
        }
    });
}

void RepeatedRefusal::endPeriodLater(const std::shared_ptr<State>& state) {
    // The timer holds the state: a count is logged even when its owner has gone meanwhile.
    runtime::scheduleMainThreadCall(state->period, [state] {
        if (state->periodCount == 0) {
            state->inPeriod = false;
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
