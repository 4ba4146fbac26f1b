// One HTTP answer of the Tamarind client (status, header fields, body) and
// its reader, which offers the body as bytes, UTF-8 text, JSON or an image.
// Immutable once made; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/NSData.h"
#include "platform/foundation/Value.h"
#include "platform/net/NSURLResponse.h"
#include "platform/runtime/NSObject.h"
#include "platform/ui/UIImage.h"

class TMAResponseReader;

class TMAWebResponse : public NSObject {
public:
    Ref<TMAWebResponse> initWithResponse(Ref<NSHTTPURLResponse> response, NSData body);

    // 0 when no HTTP answer came.
    int64_t statusCode() const;
    Value headers() const;
    const NSData& body() const { return body_; }
    Ref<NSURL> URL() const;
    Ref<TMAResponseReader> getResponseReader() const;

private:
    Ref<NSHTTPURLResponse> response_;
    NSData body_;
};

class TMAResponseReader : public NSObject {
public:
    Ref<TMAResponseReader> initWithData(NSData data);

    const NSData& readAsData() const { return data_; }
    // nullopt when the bytes are not UTF-8.
    std::optional<std::string> readAsString() const;
    // nullopt (with the parser's reason in `error`) for bytes that are not
    // JSON text of an object or array.
    std::optional<Value> readAsJSON(std::string* error = nullptr) const;
    // Null when the bytes do not decode as an image.
    Ref<UIImage> readAsImage() const;

private:
    NSData data_;
};
