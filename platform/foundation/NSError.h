// An error: domain, integer code and a user-info dictionary.
#pragma once

#include <cstdint>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

namespace platform {

inline constexpr const char* NSURLErrorDomain = "NSURLErrorDomain";
inline constexpr const char* NSCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr const char* WebKitErrorDomain = "WebKitErrorDomain";
inline constexpr const char* AVFoundationErrorDomain = "AVFoundationErrorDomain";
inline constexpr const char* SKErrorDomain = "SKErrorDomain";
inline constexpr const char* NSLocalizedDescriptionKey = "NSLocalizedDescriptionKey";
inline constexpr const char* NSErrorFailingURLKey = "NSErrorFailingURLKey";
inline constexpr const char* NSErrorFailingURLStringKey = "NSErrorFailingURLStringKey";
inline constexpr const char* NSUnderlyingErrorKey = "NSUnderlyingErrorKey";

class NSError : public NSObject {
public:
    static Ref<NSError> errorWithDomain(const std::string& domain, int64_t code, Value userInfo = Value());
    Ref<NSError> initWithDomain(const std::string& domain, int64_t code, Value userInfo = Value());

    const std::string& domain() const { return domain_; }
    int64_t code() const { return code_; }
    const Value& userInfo() const { return userInfo_; }
    // NSLocalizedDescriptionKey, else "The operation couldn’t be completed. (<domain> error <code>.)"
    std::string localizedDescription() const;
    // Error Domain=<d> Code=<c> "<description>" UserInfo={…}, each text
    // shortened for a log line (shortenedForLog) and a failing URL's user name
    // and password hidden (urlForLog).
    std::string description() const override;
    bool isEqual(const NSObject& other) const override;
    size_t hash() const override;  // agrees with isEqual

private:
    std::string domain_;
    int64_t code_ = 0;
    Value userInfo_;
};

}  // namespace platform

using platform::AVFoundationErrorDomain;
using platform::NSCocoaErrorDomain;
using platform::NSError;
using platform::NSErrorFailingURLKey;
using platform::NSErrorFailingURLStringKey;
using platform::NSLocalizedDescriptionKey;
using platform::NSUnderlyingErrorKey;
using platform::NSURLErrorDomain;
using platform::SKErrorDomain;
using platform::WebKitErrorDomain;
