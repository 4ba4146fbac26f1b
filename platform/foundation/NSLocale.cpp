#include "platform/foundation/NSLocale.h"

#include "platform/foundation/DeviceLocale.h"

namespace platform {

namespace {
std::vector<std::string_view> parts(std::string_view id) {
    std::vector<std::string_view> out;
    // Keywords ("@currency=…") are not part of the language or region.
    id = id.substr(0, id.find('@'));
    size_t start = 0;
    for (size_t i = 0; i <= id.size(); ++i) {
        if (i == id.size() || id[i] == '_' || id[i] == '-') {
            if (i > start) out.push_back(id.substr(start, i - start));
            start = i + 1;
        }
    }
    return out;
}
}  // namespace

Ref<NSLocale> NSLocale::currentLocale() { return localeWithLocaleIdentifier(deviceLocaleIdentifier()); }

Ref<NSLocale> NSLocale::localeWithLocaleIdentifier(std::string_view identifier) {
    auto locale = alloc<NSLocale>();
    locale->identifier_ = std::string(identifier);
    return locale;
}

std::vector<std::string> NSLocale::preferredLanguages() { return devicePreferredLanguages(); }

std::string NSLocale::countryCode() const {
    const auto p = parts(identifier_);
    // The region is the first later part of two letters or three digits (a
    // four-letter part is a script).
    for (size_t i = 1; i < p.size(); ++i)
        if (p[i].size() == 2 || (p[i].size() == 3 && p[i][0] >= '0' && p[i][0] <= '9')) return std::string(p[i]);
    return "";
}

std::string NSLocale::languageCode() const {
    const auto p = parts(identifier_);
    return p.empty() ? "" : std::string(p[0]);
}

bool NSLocale::isEqual(const NSObject& other) const {
    const auto* l = dynamic_cast<const NSLocale*>(&other);
    return l && l->identifier_ == identifier_;
}

}  // namespace platform
