#include "platform/web/RepeatedRefusals.h"

namespace platform::web {

void RepeatedRefusals::refuse(const std::string& kind, std::string line, const RepeatedRefusal::Sink& sink) {
    auto found = byKind_.find(kind);
    if (found == byKind_.end()) found = byKind_.try_emplace(kind, period_, sink).first;
    found->second.refuse(std::move(line));
}

}  // namespace platform::web
