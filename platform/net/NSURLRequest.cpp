#include "platform/net/NSURLRequest.h"

#include "platform/net/HeaderFields.h"
#include "platform/runtime/Log.h"

namespace platform {

NSURLRequest::NSURLRequest(const NSURLRequest& other) : NSObject() { *this = other; }

NSURLRequest& NSURLRequest::operator=(const NSURLRequest& other) {
    if (this == &other) return *this;
    url_ = other.url_;
    method_ = other.method_;
    headers_ = other.headers_;
    body_ = other.body_;
    timeout_ = other.timeout_;
    totalTimeout_ = other.totalTimeout_;
    maximumResponseLength_ = other.maximumResponseLength_;
    cachePolicy_ = other.cachePolicy_;
    handleCookies_ = other.handleCookies_;
    mainDocumentURL_ = other.mainDocumentURL_;
    maximumRedirects_ = other.maximumRedirects_;
    return *this;
}

Ref<NSURLRequest> NSURLRequest::requestWithURL(Ref<NSURL> url) {
    return requestWithURL(std::move(url), NSURLRequestUseProtocolCachePolicy, 60);
}

Ref<NSURLRequest> NSURLRequest::requestWithURL(Ref<NSURL> url, NSURLRequestCachePolicy cachePolicy,
                                               double timeoutInterval) {
    return alloc<NSURLRequest>()->initWithURL(std::move(url), cachePolicy, timeoutInterval);
}

Ref<NSURLRequest> NSURLRequest::initWithURL(Ref<NSURL> url, NSURLRequestCachePolicy cachePolicy,
                                            double timeoutInterval) {
    url_ = std::move(url);
    cachePolicy_ = cachePolicy;
    timeout_ = timeoutInterval;
    return self<NSURLRequest>();
}

Ref<NSURLRequest> NSURLRequest::copy() const { return std::make_shared<NSURLRequest>(*this); }

Ref<NSMutableURLRequest> NSURLRequest::mutableCopy() const { return std::make_shared<NSMutableURLRequest>(*this); }

Value NSURLRequest::allHTTPHeaderFields() const {
    Value fields = Value::dictionary({});
    for (const auto& [name, value] : headers_) fields.set(name, value);
    return fields;
}

std::optional<std::string> NSURLRequest::valueForHTTPHeaderField(std::string_view field) const {
    const std::string* value = net::findField(headers_, field);
    return value ? std::optional<std::string>(*value) : std::nullopt;
}

std::string NSURLRequest::description() const {
    return "<" + className() + ": " + (url_ ? url_->absoluteString() : std::string("(null)")) + ">";
}

Ref<NSMutableURLRequest> NSMutableURLRequest::requestWithURL(Ref<NSURL> url) {
    return requestWithURL(std::move(url), NSURLRequestUseProtocolCachePolicy, 60);
}

Ref<NSMutableURLRequest> NSMutableURLRequest::requestWithURL(Ref<NSURL> url, NSURLRequestCachePolicy cachePolicy,
                                                             double timeoutInterval) {
    return alloc<NSMutableURLRequest>()->initWithURL(std::move(url), cachePolicy, timeoutInterval);
}

Ref<NSMutableURLRequest> NSMutableURLRequest::initWithURL(Ref<NSURL> url, NSURLRequestCachePolicy cachePolicy,
                                                          double timeoutInterval) {
    NSURLRequest::initWithURL(std::move(url), cachePolicy, timeoutInterval);
    return self<NSMutableURLRequest>();
}

void NSMutableURLRequest::setValue(const std::optional<std::string>& value, const std::string& field) {
    auto unsafe = [](std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; };
    if (field.empty() || unsafe(field) || (value && unsafe(*value))) {
        logError("NSMutableURLRequest: refused header field with a line break or no name: " + shortenedForLog(field));
        return;
    }
    for (auto it = headers_.begin(); it != headers_.end(); ++it) {
        if (!net::sameFieldName(it->first, field)) continue;
        if (value) it->second = *value;
        else headers_.erase(it);
        return;
    }
    if (value) headers_.emplace_back(field, *value);
}

void NSMutableURLRequest::addValue(const std::string& value, const std::string& field) {
    auto existing = valueForHTTPHeaderField(field);
    setValue(existing ? *existing + ", " + value : value, field);
}

void NSMutableURLRequest::setAllHTTPHeaderFields(const Value& fields) {
    headers_.clear();
    if (const auto* dict = fields.dictionary())
        for (const auto& [name, value] : *dict)
            if (value.isString()) setValue(*value.string(), name);
}

}  // namespace platform
