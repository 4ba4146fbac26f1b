// The publisher's description of the user for ad targeting (public): each
// accepted value is written at once, as a string, into one dictionary in the
// user-defaults store under the settings prefix + ".targeting", so it lasts
// across launches until overwritten or cleared. Ad requests add every stored
// entry to their query; the device submission sends them as "targeting".
// While the store cannot be read, values set are kept here, unwritten (a
// dictionary of them alone would replace the stored one), and laid over the
// stored dictionary once it reads. Refused values change nothing and say
// nothing (the deprecated setters log
// a user error). Any thread; meant to be set from one.
// Owned by HLSdk, which it keeps weakly.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class HLSdk;

class HLTargetingData : public NSObject {
public:
    Ref<HLTargetingData> initWithSdk(const Ref<HLSdk>& sdk);

    // 'm' or 'f' ("gender"); anything else is ignored.
    void setGender(char gender);
    // "yob" for 1901 to 9998; the field takes any year.
    void setBirthYear(int32_t year);
    void setLanguage(const std::optional<std::string>& language);
    // Joined by "," unchanged ("keywords", "interests"); an empty list changes nothing.
    void setKeywords(const std::vector<std::string>& keywords);
    void setInterests(const std::vector<std::string>& interests);
    // "ex_" + key; both must be non-empty.
    void setExtraValue(const std::optional<std::string>& value, const std::optional<std::string>& key);
    // The one writer: both must be non-empty strings.
    void setParameter(const std::optional<std::string>& value, const std::optional<std::string>& key);
    // Deprecated: store nothing, log a user error.
    void setCarrier(const std::optional<std::string>& carrier);
    void setCountry(const std::optional<std::string>& country);
    void setLocationWithLatitude(double latitude, double longitude);

    // Stores an empty dictionary.
    void clearAll();
    // The stored dictionary's string entries; empty when none is stored or
    // the stored value is not a dictionary (logged).
    Value allData() const;
    const std::string& targetKey() const { return targetKey_; }

    // The last values passed (memory only).
    char gender() const;
    int32_t birthYear() const;
    std::optional<std::string> language() const;
    std::vector<std::string> keywords() const;
    std::vector<std::string> interests() const;
    std::optional<std::string> carrier() const { return std::nullopt; }
    std::optional<std::string> country() const { return std::nullopt; }

private:
    void userError(const char* message) const;
    // The stored value with setUnread_ laid over it (then a dictionary);
    // written, and setUnread_ emptied, once the store reads.
    Value storedLocked() const;

    Weak<HLSdk> sdk_;
    std::string targetKey_;
    mutable std::mutex mutex_;  // guards the fields below and each read-modify-write of the store
    char gender_ = 0;
    int32_t birthYear_ = 0;
    std::optional<std::string> language_;
    std::vector<std::string> keywords_;
    std::vector<std::string> interests_;
    mutable ValueDictionary setUnread_;  // entries set while the store could not be read
};
