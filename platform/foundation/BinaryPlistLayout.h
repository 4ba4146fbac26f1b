// A read-only look at the object table of a binary property list, for what
// the format library does not do safely: bounding nesting and expansion
// before it parses (it recurses, and copies shared objects), and keeping
// dates exact (it writes them through whole microseconds and reads them back
// truncated).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class BinaryPlistLayout {
public:
    // Nullopt when the bytes have no sound trailer and offset table.
    static std::optional<BinaryPlistLayout> parse(const uint8_t* bytes, size_t length);

    // Empty when the object graph is sound: every reference in range, no
    // cycle, nesting at most `maxDepth`, at most `maxNodes` nodes once shared
    // objects are expanded. Otherwise why not.
    std::string checkGraph(size_t maxDepth, uint64_t maxNodes) const;

    // The values of every date object (seconds since 2001), sorted.
    std::vector<double> dates() const;

    // Rewrites each date object of the written list `bytes` with the value of
    // `exact` (sorted) nearest to it, when one lies within kDateTolerance: the
    // library wrote it rounded to a whole microsecond.
    static void restoreExactDates(uint8_t* bytes, size_t length, const std::vector<double>& exact);
    // How far the library's value of a date can lie from the exact one.
    static constexpr double kDateTolerance = 2e-6;
    // The value of `sorted` nearest to `value` when it lies closer than
    // `distance`, which then becomes its distance; nullopt otherwise.
    static std::optional<double> nearestDate(const std::vector<double>& sorted, double value, double& distance);

private:
    BinaryPlistLayout(const uint8_t* bytes, size_t /*length: checked by parse*/) : bytes_(bytes) {}
    uint64_t readBigEndian(size_t offset, size_t width) const;
    // Offset of object `index` (within the object area, checked at parse).
    size_t objectOffset(uint64_t index) const;
    struct Header {
        uint8_t type;     // the marker's high nibble
        uint64_t count;   // its element count (or length)
        size_t contents;  // where the elements begin
    };
    std::optional<Header> header(uint64_t index) const;
    // Object `index`'s value when it is a date with a finite value.
    std::optional<double> dateValue(uint64_t index) const;
    // A string without NUL characters (as dictionary keys must be).
    bool isKeyString(uint64_t index) const;
    // The objects an array, set or dictionary refers to; nullopt when malformed.
    std::optional<std::vector<uint64_t>> children(uint64_t index) const;

    const uint8_t* bytes_;
    size_t offsetSize_ = 0;
    size_t refSize_ = 0;
    uint64_t count_ = 0;
    uint64_t top_ = 0;
    size_t tableOffset_ = 0;
};

}  // namespace platform
