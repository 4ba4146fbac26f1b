// What one render may make of an answer: no address over 64 KiB, and no more
// than 16 MiB in all (an ad's page and addresses, or every address of a
// native answer). A template that repeats "{CLCODE}" thousands of times, with
// a long code, would otherwise make a small answer cost gigabytes. The size of
// an expansion is worked out before anything is built, so one past a bound
// allocates nothing. A render past a bound fails with kExceededError.
// One per render run, used on its task's queue only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class HLRenderBudget {
public:
    static constexpr size_t kMaximumAddressLength = size_t{64} << 10;
    static constexpr size_t kMaximumRenderedLength = size_t{16} << 20;
    static constexpr int32_t kExceededError = -700;

    // `text` with every `macro` replaced by `value`: nothing is charged yet
    // (admitAddress does). Nullopt, and the budget spent, when the result
    // would be longer than an address may be or than what is left.
    std::optional<std::string> expand(std::string_view text, std::string_view macro, std::string_view value);
    // Charges a finished address; false, and the budget spent, when it is
    // longer than an address may be or than what is left.
    bool admitAddress(std::string_view address);
    // Charges `length` bytes of other output (an ad's page); false, and the
    // budget spent, past what is left.
    bool admit(size_t length);

    size_t remaining() const { return kMaximumRenderedLength - used_; }
    // True once a bound was passed; failure() then says which.
    bool isSpent() const { return !failure_.empty(); }
    const std::string& failure() const { return failure_; }

private:
    void spend(std::string reason);

    size_t used_ = 0;
    std::string failure_;
};
