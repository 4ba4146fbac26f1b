#include "platform/net/NSURLResponse.h"

#include <cctype>

#include "platform/net/HeaderFields.h"

namespace platform {

namespace {

std::string trimmed(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return std::string(s);
}

}  // namespace

Ref<NSURLResponse> NSURLResponse::initWithURL(Ref<NSURL> url, std::optional<std::string> MIMEType,
                                              int64_t expectedContentLength,
                                              std::optional<std::string> textEncodingName) {
    url_ = std::move(url);
    mimeType_ = std::move(MIMEType);
    expectedLength_ = expectedContentLength;
    encoding_ = std::move(textEncodingName);
    return self<NSURLResponse>();
}

Ref<NSHTTPURLResponse> NSHTTPURLResponse::initWithURL(Ref<NSURL> url, int64_t statusCode,
                                                      std::vector<std::pair<std::string, std::string>> headerFields) {
    url_ = std::move(url);
    status_ = statusCode;
    headers_ = std::move(headerFields);
    expectedLength_ = -1;
    if (const std::string* length = net::findField(headers_, "Content-Length")) {
        std::string text = trimmed(*length);
        if (!text.empty() && text.size() < 19 && text.find_first_not_of("0123456789") == std::string::npos)
            expectedLength_ = std::stoll(text);
    }
    if (const std::string* encoding = net::findField(headers_, "Transfer-Encoding"))
        if (NSString::containsString(NSString::lowercaseString(*encoding), "chunked")) expectedLength_ = -1;
    if (const std::string* type = net::findField(headers_, "Content-Type")) {
        auto parts = NSString::componentsSeparatedByString(*type, ";");
        std::string mime = NSString::lowercaseString(trimmed(parts[0]));
        if (!mime.empty()) mimeType_ = mime;
        for (size_t i = 1; i < parts.size(); ++i) {
            std::string param = trimmed(parts[i]);
            if (NSString::lowercaseString(param.substr(0, 8)) != "charset=") continue;
            std::string charset = trimmed(param.substr(8));
            if (charset.size() >= 2 && charset.front() == '"' && charset.back() == '"')
                charset = charset.substr(1, charset.size() - 2);
            if (!charset.empty()) encoding_ = NSString::lowercaseString(charset);
        }
    }
    return self<NSHTTPURLResponse>();
}

Value NSHTTPURLResponse::allHeaderFields() const {
    Value fields = Value::dictionary({});
    for (const auto& [name, value] : headers_) {
        std::string key = name;
        for (const std::string& existing : fields.keys())
            if (net::sameFieldName(existing, name)) key = existing;
        const Value& previous = fields[key];
        fields.set(key, previous.isString() ? *previous.string() + ", " + value : value);
    }
    return fields;
}

std::optional<std::string> NSHTTPURLResponse::valueForHTTPHeaderField(std::string_view field) const {
    std::optional<std::string> joined;
    for (const auto& [name, value] : headers_)
        if (net::sameFieldName(name, field)) joined = joined ? *joined + ", " + value : value;
    return joined;
}

}  // namespace platform
