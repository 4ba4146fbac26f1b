// The answer's metadata: a plain response (file URLs) or an HTTP response
// with status and header fields. Every HTTP status is an answer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/NSURL.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

namespace platform {

class NSURLResponse : public NSObject {
public:
    Ref<NSURLResponse> initWithURL(Ref<NSURL> url, std::optional<std::string> MIMEType, int64_t expectedContentLength,
                                   std::optional<std::string> textEncodingName);

    const Ref<NSURL>& URL() const { return url_; }
    // -1 when the length is not known.
    int64_t expectedContentLength() const { return expectedLength_; }
    const std::optional<std::string>& MIMEType() const { return mimeType_; }
    const std::optional<std::string>& textEncodingName() const { return encoding_; }
    // Redirects followed to reach this response.
    int redirectCount() const { return redirectCount_; }
    void setRedirectCount(int count) { redirectCount_ = count; }

protected:
    Ref<NSURL> url_;
    std::optional<std::string> mimeType_;
    int64_t expectedLength_ = -1;
    std::optional<std::string> encoding_;
    int redirectCount_ = 0;
};

class NSHTTPURLResponse : public NSURLResponse {
public:
    // MIME type, encoding and expected length are taken from the fields.
    Ref<NSHTTPURLResponse> initWithURL(Ref<NSURL> url, int64_t statusCode,
                                       std::vector<std::pair<std::string, std::string>> headerFields);

    int64_t statusCode() const { return status_; }
    // Names as sent; repeated fields joined with ", " (insertion order).
    Value allHeaderFields() const;
    // Names compare case-insensitively.
    std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const;
    // The fields in the order received.
    const std::vector<std::pair<std::string, std::string>>& headerFields() const { return headers_; }

private:
    int64_t status_ = 0;
    std::vector<std::pair<std::string, std::string>> headers_;
};

}  // namespace platform

using platform::NSHTTPURLResponse;
using platform::NSURLResponse;
