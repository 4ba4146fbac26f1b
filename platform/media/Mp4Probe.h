// Reads the header of an ISO base media (MP4) file: the movie's timescale and
// duration, and each track's id, handler ("vide", "soun", …) and picture size.
// The bytes are untrusted: every read stays inside the box it belongs to, the
// walk visits a bounded number of boxes, and any input gives a result or an
// error, never a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct Mp4Track {
    uint32_t trackID = 0;
    std::string handlerType;  // four characters from the track's handler box; "" when it has none
    double width = 0;         // tkhd 16.16 values, in points
    double height = 0;
};

struct Mp4Info {
    uint32_t timescale = 0;           // > 0
    uint64_t duration = 0;            // in timescale units
    bool durationIndefinite = false;  // the header's "unknown" value (all ones)
    std::vector<Mp4Track> tracks;     // in file order; tracks without a tkhd are left out
};

class Mp4Probe {
public:
    // Random access to the probed bytes.
    class Source {
    public:
        virtual ~Source() = default;
        virtual uint64_t size() const = 0;
        // Fills `out` with `length` bytes at `offset`; false when they are not all there.
        virtual bool read(uint64_t offset, size_t length, uint8_t* out) const = 0;
    };

    // nullopt when the bytes are not a whole, valid box structure with a
    // movie header (moov/mvhd); `error` (optional) then says why.
    static std::optional<Mp4Info> probe(const Source& source, std::string* error = nullptr);
    static std::optional<Mp4Info> probeBytes(const uint8_t* data, size_t size, std::string* error = nullptr);
    // Regular files only (a missing file, a folder or a pipe fail).
    static std::optional<Mp4Info> probeFile(const std::string& path, std::string* error = nullptr);

    // Most boxes visited in one probe before it gives up.
    static constexpr int kMaxBoxes = 1 << 16;
};

}  // namespace platform
