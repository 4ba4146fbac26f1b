#include "platform/runtime/CallCatching.h"

#include <exception>

#include "platform/runtime/Log.h"

namespace platform::runtime {

std::optional<std::string> callCatching(const Block& block) noexcept {
    if (!block) return std::nullopt;
    try {
        block();
        return std::nullopt;
    } catch (const std::exception& e) {
        return std::string(e.what());
    } catch (...) {
        return std::string("unknown exception");
    }
}

void callAtBoundary(const Block& block, std::string_view boundary) noexcept {
    if (auto what = callCatching(block)) {
        try {
            logError(std::string(boundary) + ": uncaught exception: " + *what);
        } catch (...) {
        }
    }
}

}  // namespace platform::runtime
