#include "platform/foundation/NSError.h"

#include "platform/runtime/Log.h"

namespace platform {

Ref<NSError> NSError::errorWithDomain(const std::string& domain, int64_t code, Value userInfo) {
    return alloc<NSError>()->initWithDomain(domain, code, std::move(userInfo));
}

Ref<NSError> NSError::initWithDomain(const std::string& domain, int64_t code, Value userInfo) {
    domain_ = domain;
    code_ = code;
    userInfo_ = std::move(userInfo);
    return self<NSError>();
}

std::string NSError::localizedDescription() const {
    if (const std::string* s = userInfo_[NSLocalizedDescriptionKey].string()) return *s;
    return "The operation couldn\u2019t be completed. (" + domain_ + " error " + std::to_string(code_) + ".)";
}

std::string NSError::description() const {
    // What "%@" of an error prints, which is what logs show: the texts a server
    // or a page supplied are shortened, and the failing URL hides its password.
    std::string out = "Error Domain=" + shortenedForLog(domain_) + " Code=" + std::to_string(code_) + " \"" +
                      shortenedForLog(localizedDescription()) + "\" UserInfo={";
    if (const ValueDictionary* info = userInfo_.dictionary()) {
        bool first = true;
        for (const auto& [key, value] : *info) {
            if (!first) out += ", ";
            first = false;
            const bool url = key == NSErrorFailingURLKey || key == NSErrorFailingURLStringKey;
            out += shortenedForLog(key) + "=" +
                   (url ? urlForLog(value.description()) : shortenedForLog(value.description()));
        }
    }
    return out + "}";
}

bool NSError::isEqual(const NSObject& other) const {
    const auto* e = dynamic_cast<const NSError*>(&other);
    return e && e->domain_ == domain_ && e->code_ == code_ && e->userInfo_.isEqual(userInfo_);
}

size_t NSError::hash() const { return Value(domain_).hash() ^ static_cast<size_t>(code_); }

}  // namespace platform
