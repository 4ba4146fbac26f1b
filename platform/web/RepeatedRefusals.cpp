#include "platform/web/RepeatedRefusals.h"

#include "platform/runtime/NSThread.h"

namespace platform::web {

void RepeatedRefusals::refuse(const std::string& kind, std::string line, const RepeatedRefusal::Sink& sink,
                              const RepeatedRefusal::Repeats* repeats) {
    if (!NSThread::isMainThread()) return sink(line);
    auto found = byKind_.find(kind);
    if (found == byKind_.end())
        found = repeats ? byKind_.try_emplace(kind, period_, sink, *repeats).first
                        : byKind_.try_emplace(kind, period_, sink).first;
    found->second.refuse(std::move(line));
}

}  // namespace platform::web
