#include "platform/web/PageLog.h"

#include <limits>

#include "platform/runtime/Clock.h"

namespace platform::web {

PageLog::Kind::Kind(LogLevel level)
    : periodStart(-std::numeric_limits<double>::infinity()),
      folded(kPeriod, [level](const std::string& line) { log(level, line); },
             RepeatedRefusal::Repeats{kNewLinesPerPeriod, nullptr}) {}

void PageLog::write(LogLevel level, std::string_view kind, std::string line) {
    auto it = kinds_.find(kind);
    if (it == kinds_.end()) it = kinds_.try_emplace(std::string(kind), level).first;
    Kind& state = it->second;
    const double now = Clock::current()->uptime();
    if (now - state.periodStart >= kPeriod) {
        state.periodStart = now;
        state.written = 0;
    }
    // A page's few lines go out whole and at once: a timeline reads them in
    // order with what the native side logs between them.
    if (state.written < kLinesPerPeriod) {
        ++state.written;
        state.folded.remember(line);
        log(level, line);
        return;
    }
    state.folded.refuse(std::move(line));
}

}  // namespace platform::web
