#include "platform/foundation/NSException.h"

namespace platform {

// what() reads "<name>: <reason>" so boundary log lines carry both.
NSException::NSException(std::string name, std::string reason)
    : std::runtime_error(name + ": " + reason), name_(std::move(name)), reason_(std::move(reason)) {}

void NSException::raise(const std::string& name, const std::string& reason) { throw NSException(name, reason); }

}  // namespace platform
