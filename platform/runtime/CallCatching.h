// Runs a block at a boundary where no exception may pass (queued blocks,
// operations, timers, deliveries) and hands back what was caught, if anything.
#pragma once

#include <optional>
#include <string>

#include "platform/runtime/NSObject.h"

namespace platform::runtime {

// The caught exception's what() ("unknown exception" for a non-standard one),
// or nothing when the block returned normally.
std::optional<std::string> callCatching(const Block& block) noexcept;

// callCatching, logging "<boundary>: uncaught exception: <what>" as an error.
void callAtBoundary(const Block& block, std::string_view boundary) noexcept;

}  // namespace platform::runtime
