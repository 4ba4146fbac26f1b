// Runs a block at a boundary where no exception may pass (queued blocks,
// operations, timers, deliveries) and hands back what was caught, if anything.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/runtime/NSObject.h"

namespace platform::runtime {

// The caught exception's what() ("unknown exception" for a non-standard one),
// or nothing when the block returned normally.
std::optional<std::string> callCatching(const Block& block) noexcept;

// callCatching, logging "<boundary>: uncaught exception: <what>" as an error.
void callAtBoundary(const Block& block, std::string_view boundary) noexcept;

namespace detail {
// Inside a catch handler: what the exception being handled says.
std::string caughtMessage() noexcept;
void logUncaught(std::string_view boundary, const std::string& what) noexcept;
}  // namespace detail

// The same for any callable, called in place: no block is made of it (an
// allocation for most lambdas).
template <class Work>
    requires(!std::is_same_v<std::remove_cvref_t<Work>, Block>)
std::optional<std::string> callCatching(Work&& work) noexcept {
    try {
        std::forward<Work>(work)();
        return std::nullopt;
    } catch (...) {
        return detail::caughtMessage();
    }
}

template <class Work>
    requires(!std::is_same_v<std::remove_cvref_t<Work>, Block>)
void callAtBoundary(Work&& work, std::string_view boundary) noexcept {
    if (auto what = callCatching(std::forward<Work>(work))) detail::logUncaught(boundary, *what);
}

}  // namespace platform::runtime
