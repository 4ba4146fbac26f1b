#include "tamarind/TMAWebResponse.h"

#include "platform/foundation/NSJSONSerialization.h"
#include "platform/foundation/NSString.h"

Ref<TMAWebResponse> TMAWebResponse::initWithResponse(Ref<NSHTTPURLResponse> response, NSData body) {
    response_ = std::move(response);
    body_ = std::move(body);
    return self<TMAWebResponse>();
}

int64_t TMAWebResponse::statusCode() const { return response_ ? response_->statusCode() : 0; }
Value TMAWebResponse::headers() const { return response_ ? response_->allHeaderFields() : Value::dictionary({}); }
Ref<NSURL> TMAWebResponse::URL() const { return response_ ? response_->URL() : nullptr; }

Ref<TMAResponseReader> TMAWebResponse::getResponseReader() const {
    return NSObject::alloc<TMAResponseReader>()->initWithData(body_);
}

Ref<TMAResponseReader> TMAResponseReader::initWithData(NSData data) {
    data_ = std::move(data);
    return self<TMAResponseReader>();
}

std::optional<std::string> TMAResponseReader::readAsString() const { return NSString::initWithData(data_); }

std::optional<Value> TMAResponseReader::readAsJSON(std::string* error) const {
    Ref<NSError> parseError;
    auto value = NSJSONSerialization::JSONObjectWithData(data_, 0, &parseError);
    if (!value && error) *error = parseError ? parseError->localizedDescription() : "not JSON";
    return value;
}

Ref<UIImage> TMAResponseReader::readAsImage() const { return UIImage::imageWithData(data_); }
