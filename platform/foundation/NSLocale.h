// The device's locale (identifier, country, language) and preferred
// languages, as reported facts; formatting itself always follows en_US.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/NSObject.h"

namespace platform {

class NSLocale : public NSObject {
public:
    // The device profile's locale ("en_US" by default).
    static Ref<NSLocale> currentLocale();
    static Ref<NSLocale> systemLocale() { return localeWithLocaleIdentifier(""); }
    static Ref<NSLocale> localeWithLocaleIdentifier(std::string_view identifier);
    static Ref<NSLocale> autoupdatingCurrentLocale() { return currentLocale(); }
    // The device profile's preferred languages (["en"] by default).
    static std::vector<std::string> preferredLanguages();

    const std::string& localeIdentifier() const { return identifier_; }
    // "US" from "en_US" (also "en-US", "zh_Hans_CN"); "" when absent.
    std::string countryCode() const;
    // "en" from "en_US"; "" when absent.
    std::string languageCode() const;

    std::string description() const override { return identifier_; }
    bool isEqual(const NSObject& other) const override;

private:
    std::string identifier_;
};

}  // namespace platform

using platform::NSLocale;
