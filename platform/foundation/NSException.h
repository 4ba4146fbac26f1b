// The platform's exception: a name and a reason, thrown as a C++ exception
// and caught at every platform boundary.
#pragma once

#include <stdexcept>
#include <string>

namespace platform {

inline constexpr const char* NSInvalidArgumentException = "NSInvalidArgumentException";
inline constexpr const char* NSRangeException = "NSRangeException";
inline constexpr const char* NSInternalInconsistencyException = "NSInternalInconsistencyException";

class NSException : public std::runtime_error {
public:
    NSException(std::string name, std::string reason);
    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }
    // Throws NSException(name, reason).
    [[noreturn]] static void raise(const std::string& name, const std::string& reason);

private:
    std::string name_;
    std::string reason_;
};

}  // namespace platform

using platform::NSException;
using platform::NSInternalInconsistencyException;
using platform::NSInvalidArgumentException;
using platform::NSRangeException;
