// The client-wide user facts a publisher may give the entry point (age,
// gender); the native ad request turns them into request fields.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/runtime/NSObject.h"

class TRASDKPreferences : public NSObject {
public:
    enum : int64_t { GenderUnset = 0, GenderFemale = 1, GenderMale = 2 };

    Ref<TRASDKPreferences> init() { return self<TRASDKPreferences>(); }

    // 0 when unset.
    uint64_t age() const { return age_; }
    void setAge(uint64_t age) { age_ = age; }
    // The age given as text.
    const std::optional<std::string>& ageStr() const { return ageStr_; }
    void setAgeStr(std::optional<std::string> ageStr) { ageStr_ = std::move(ageStr); }
    // 0 unset, 2 male, any other non-zero value female.
    int64_t gender() const { return gender_; }
    void setGender(int64_t gender) { gender_ = gender; }

private:
    uint64_t age_ = 0;
    std::optional<std::string> ageStr_;
    int64_t gender_ = GenderUnset;
};
