#include "platform/runtime/CallCatching.h"

#include <exception>

#include "platform/runtime/Log.h"

namespace platform::runtime {

namespace detail {

std::string caughtMessage() noexcept {
    try {
        throw;
    } catch (const std::exception& e) {
        return std::string(e.what());
    } catch (...) {
        return std::string("unknown exception");
    }
}

void logUncaught(std::string_view boundary, const std::string& what) noexcept {
    try {
        logError(std::string(boundary) + ": uncaught exception: " + shortenedForLog(what));
    } catch (...) {
    }
}

}  // namespace detail

std::optional<std::string> callCatching(const Block& block) noexcept {
    if (!block) return std::nullopt;
    try {
        block();
        return std::nullopt;
    } catch (...) {
        return detail::caughtMessage();
    }
}

void callAtBoundary(const Block& block, std::string_view boundary) noexcept {
    if (auto what = callCatching(block)) detail::logUncaught(boundary, *what);
}

}  // namespace platform::runtime
