#include "platform/web/RepeatedRefusal.h"

#include "platform/runtime/Log.h"
#include "platform/runtime/NSRunLoop.h"

namespace platform::web {

void RepeatedRefusal::refuse(std::string line) {
    if (pending_ && pending_->count > 0) {
        ++pending_->count;
        return;
    }
    pending_ = std::make_shared<Pending>(Pending{std::move(line), 1});
    // Posted work runs after the page's call has returned, however many refusals it made.
    runtime::postToMainThread([pending = pending_] {
        std::string text = std::move(pending->line);
        if (pending->count > 1) text += " (" + std::to_string(pending->count) + " in all)";
        pending->count = 0;
        log(LogLevel::Warning, text);
    });
}

}  // namespace platform::web
