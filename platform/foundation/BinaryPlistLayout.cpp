#include "platform/foundation/BinaryPlistLayout.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

namespace platform {

namespace {

constexpr size_t kHeaderSize = 8;  // "bplist0?"
constexpr size_t kTrailerSize = 32;

}  // namespace

std::optional<BinaryPlistLayout> BinaryPlistLayout::parse(const uint8_t* bytes, size_t length) {
    if (length < kHeaderSize + kTrailerSize || std::memcmp(bytes, "bplist0", 7) != 0) return std::nullopt;
    BinaryPlistLayout layout(bytes, length);
    const size_t trailer = length - kTrailerSize;
    layout.offsetSize_ = bytes[trailer + 6];
    layout.refSize_ = bytes[trailer + 7];
    layout.count_ = layout.readBigEndian(trailer + 8, 8);
    layout.top_ = layout.readBigEndian(trailer + 16, 8);
    const uint64_t table = layout.readBigEndian(trailer + 24, 8);
    if (layout.offsetSize_ < 1 || layout.offsetSize_ > 8 || layout.refSize_ < 1 || layout.refSize_ > 8)
        return std::nullopt;
    if (table < kHeaderSize || table > trailer || layout.count_ == 0 || layout.top_ >= layout.count_)
        return std::nullopt;
    layout.tableOffset_ = static_cast<size_t>(table);
    if (layout.count_ > (trailer - layout.tableOffset_) / layout.offsetSize_) return std::nullopt;
    for (uint64_t i = 0; i < layout.count_; ++i) {
        const uint64_t offset = layout.readBigEndian(layout.tableOffset_ + i * layout.offsetSize_, layout.offsetSize_);
        if (offset < kHeaderSize || offset >= layout.tableOffset_) return std::nullopt;
    }
    return layout;
}

uint64_t BinaryPlistLayout::readBigEndian(size_t offset, size_t width) const {
    uint64_t v = 0;
    for (size_t k = 0; k < width; ++k) v = (v << 8) | bytes_[offset + k];
    return v;
}

size_t BinaryPlistLayout::objectOffset(uint64_t index) const {
    return static_cast<size_t>(readBigEndian(tableOffset_ + index * offsetSize_, offsetSize_));
}

std::optional<BinaryPlistLayout::Header> BinaryPlistLayout::header(uint64_t index) const {
    size_t at = objectOffset(index);
    const uint8_t marker = bytes_[at++];
    uint64_t count = marker & 0x0F;
    if (count == 0x0F) {
        // The count follows as an integer object: 0x1n and 2^n bytes.
        if (at >= tableOffset_ || (bytes_[at] >> 4) != 0x1) return std::nullopt;
        const size_t width = size_t{1} << (bytes_[at] & 0x0F);
        ++at;
        if (width > 8 || width > tableOffset_ - at) return std::nullopt;
        count = readBigEndian(at, width);
        at += width;
    }
    return Header{static_cast<uint8_t>(marker >> 4), count, at};
}

bool BinaryPlistLayout::isKeyString(uint64_t index) const {
    const std::optional<Header> h = header(index);
    if (!h || (h->type != 0x5 && h->type != 0x6)) return false;
    const size_t unit = h->type == 0x5 ? 1 : 2;
    if (h->count > (tableOffset_ - h->contents) / unit) return false;
    // The library aborts on a key holding a NUL character.
    for (uint64_t k = 0; k < h->count; ++k)
        if (readBigEndian(h->contents + k * unit, unit) == 0) return false;
    return true;
}

std::optional<std::vector<uint64_t>> BinaryPlistLayout::children(uint64_t index) const {
    const std::optional<Header> h = header(index);
    if (!h) return std::nullopt;
    if (h->type != 0xA && h->type != 0xC && h->type != 0xD) return std::vector<uint64_t>();
    const uint64_t refs = h->type == 0xD ? h->count * 2 : h->count;
    if (h->count > tableOffset_ || refs > (tableOffset_ - h->contents) / refSize_) return std::nullopt;
    std::vector<uint64_t> result;
    result.reserve(static_cast<size_t>(refs));
    for (uint64_t k = 0; k < refs; ++k) {
        const uint64_t ref = readBigEndian(h->contents + k * refSize_, refSize_);
        if (ref >= count_) return std::nullopt;
        if (h->type == 0xD && k < h->count && !isKeyString(ref)) return std::nullopt;
        result.push_back(ref);
    }
    return result;
}

std::string BinaryPlistLayout::checkGraph(size_t maxDepth, uint64_t maxNodes) const {
    // Depth-first from the top object, each object once: its depth below and
    // its expanded node count are remembered, so shared objects cost nothing.
    enum : uint8_t { Unvisited, Open, Done };
    std::vector<uint8_t> state(static_cast<size_t>(count_), Unvisited);
    std::vector<size_t> height(static_cast<size_t>(count_), 0);
    std::vector<uint64_t> nodes(static_cast<size_t>(count_), 0);
    struct Frame {
        uint64_t object;
        std::vector<uint64_t> children;
        size_t next = 0;
    };
    std::vector<Frame> stack;
    const auto open = [&](uint64_t object) -> std::string {
        std::optional<std::vector<uint64_t>> kids = children(object);
        if (!kids) return "malformed container";
        state[object] = Open;
        stack.push_back(Frame{object, std::move(*kids)});
        if (stack.size() > maxDepth + 1) return "nested too deeply";
        return "";
    };
    if (std::string why = open(top_); !why.empty()) return why;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next < frame.children.size()) {
            const uint64_t child = frame.children[frame.next++];
            if (state[child] == Open) return "an object contains itself";
            if (state[child] == Unvisited) {
                if (std::string why = open(child); !why.empty()) return why;
            }
            continue;
        }
        size_t h = 0;
        uint64_t n = 1;
        for (uint64_t child : frame.children) {
            h = std::max(h, height[child] + 1);
            n = std::min(maxNodes + 1, n + nodes[child]);
        }
        if (h > maxDepth) return "nested too deeply";
        if (n > maxNodes) return "too many objects once expanded";
        height[frame.object] = h;
        nodes[frame.object] = n;
        state[frame.object] = Done;
        stack.pop_back();
    }
    return "";
}

std::optional<double> BinaryPlistLayout::dateValue(uint64_t index) const {
    const size_t at = objectOffset(index);
    if (bytes_[at] != 0x33 || tableOffset_ - at < 9) return std::nullopt;
    const uint64_t bits = readBigEndian(at + 1, 8);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

std::vector<double> BinaryPlistLayout::dates() const {
    std::vector<double> result;
    for (uint64_t i = 0; i < count_; ++i)
        if (std::optional<double> value = dateValue(i)) result.push_back(*value);
    std::sort(result.begin(), result.end());
    return result;
}

std::optional<double> BinaryPlistLayout::nearestDate(const std::vector<double>& sorted, double value, double& distance) {
    std::optional<double> nearest;
    auto it = std::lower_bound(sorted.begin(), sorted.end(), value);
    for (auto candidate : {it, it == sorted.begin() ? it : std::prev(it)}) {
        if (candidate == sorted.end()) continue;
        if (std::abs(*candidate - value) < distance) {
            distance = std::abs(*candidate - value);
            nearest = *candidate;
        }
    }
    return nearest;
}

void BinaryPlistLayout::restoreExactDates(uint8_t* bytes, size_t length, const std::vector<double>& exact) {
    std::optional<BinaryPlistLayout> layout = parse(bytes, length);
    if (!layout || exact.empty()) return;
    for (uint64_t i = 0; i < layout->count_; ++i) {
        std::optional<double> written = layout->dateValue(i);
        if (!written) continue;
        double distance = kDateTolerance;
        const double best = nearestDate(exact, *written, distance).value_or(*written);
        uint64_t out;
        std::memcpy(&out, &best, sizeof out);
        const size_t at = layout->objectOffset(i);
        for (size_t k = 0; k < 8; ++k) bytes[at + 1 + k] = static_cast<uint8_t>(out >> (56 - 8 * k));
    }
}

}  // namespace platform
