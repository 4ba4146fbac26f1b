#include "platform/media/Mp4Probe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

class MemorySource final : public Mp4Probe::Source {
public:
    MemorySource(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}
    uint64_t size() const override { return size_; }
    bool read(uint64_t offset, size_t length, uint8_t* out) const override {
        if (offset > size_ || length > size_ - offset) return false;
        if (length) std::memcpy(out, data_ + offset, length);
        return true;
    }

private:
    const uint8_t* data_;
    uint64_t size_;
};

class FileSource final : public Mp4Probe::Source {
public:
    FileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
    ~FileSource() override { ::close(fd_); }
    uint64_t size() const override { return size_; }
    bool read(uint64_t offset, size_t length, uint8_t* out) const override {
        if (offset > size_ || length > size_ - offset) return false;
        size_t done = 0;
        while (done < length) {
            ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

private:
    int fd_;
    uint64_t size_;
};

uint32_t be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
uint64_t be64(const uint8_t* p) { return (uint64_t{be32(p)} << 32) | be32(p + 4); }

struct Box {
    char type[5] = {};
    uint64_t start = 0;    // first byte of the header
    uint64_t payload = 0;  // first byte after the header
    uint64_t end = 0;      // one past the last byte

    bool is(const char* t) const { return std::memcmp(type, t, 4) == 0; }
    uint64_t payloadSize() const { return end - payload; }
};

// Walks boxes and reads payload fields, never outside the box being read.
class Walker {
public:
    Walker(const Mp4Probe::Source& source, std::string& error) : source_(source), error_(error) {}

    // Reads the box at `pos` inside [pos, containerEnd). false with error_ set
    // when the header is malformed or the box does not fit its container.
    bool nextBox(uint64_t pos, uint64_t containerEnd, Box& box) {
        if (++visited_ > Mp4Probe::kMaxBoxes) return fail("too many boxes");
        uint64_t left = containerEnd - pos;
        uint8_t header[16];
        if (left < 8) return fail("stray bytes where a box header should be");
        if (!source_.read(pos, 8, header)) return fail("read error");
        for (int i = 0; i < 4; ++i) {
            uint8_t c = header[4 + i];
            // Four printable characters ("©" allowed, as in some metadata types).
            if ((c < 0x20 || c > 0x7e) && c != 0xa9) return fail("box type is not printable");
            box.type[i] = static_cast<char>(c);
        }
        uint64_t size = be32(header);
        uint64_t headerSize = 8;
        if (size == 1) {
            if (left < 16) return fail("truncated 64-bit box size");
            if (!source_.read(pos + 8, 8, header + 8)) return fail("read error");
            size = be64(header + 8);
            headerSize = 16;
        } else if (size == 0) {
            size = left;  // extends to the end of its container
        }
        if (size < headerSize) return fail(std::string("box '") + box.type + "' is smaller than its header");
        if (size > left) return fail(std::string("box '") + box.type + "' extends past its container");
        box.start = pos;
        box.payload = pos + headerSize;
        box.end = pos + size;
        return true;
    }

    // Calls visit(box) for each box in [begin, end); stops at the first failure.
    template <class Visit> bool forEachBox(uint64_t begin, uint64_t end, Visit&& visit) {
        for (uint64_t pos = begin; pos < end;) {
            Box box;
            if (!nextBox(pos, end, box)) return false;
            if (!visit(box)) return false;
            pos = box.end;
        }
        return true;
    }

    // Reads `length` payload bytes at `offset` into the box; false when they
    // are not all inside it.
    bool readPayload(const Box& box, uint64_t offset, size_t length, uint8_t* out) {
        if (offset > box.payloadSize() || length > box.payloadSize() - offset)
            return fail(std::string("box '") + box.type + "' is too short");
        if (!source_.read(box.payload + offset, length, out)) return fail("read error");
        return true;
    }

    bool fail(std::string why) {
        if (error_.empty()) error_ = std::move(why);
        return false;
    }

private:
    const Mp4Probe::Source& source_;
    std::string& error_;
    int visited_ = 0;
};

bool parseMvhd(Walker& w, const Box& box, Mp4Info& info) {
    uint8_t b[32];
    if (!w.readPayload(box, 0, 4, b)) return false;
    uint8_t version = b[0];
    if (version == 0) {
        if (!w.readPayload(box, 0, 20, b)) return false;
        info.timescale = be32(b + 12);
        uint32_t d = be32(b + 16);
        info.durationIndefinite = d == UINT32_MAX;
        info.duration = info.durationIndefinite ? 0 : d;
    } else if (version == 1) {
        if (!w.readPayload(box, 0, 32, b)) return false;
        info.timescale = be32(b + 20);
        uint64_t d = be64(b + 24);
        info.durationIndefinite = d == UINT64_MAX;
        if (!info.durationIndefinite && d > static_cast<uint64_t>(INT64_MAX))
            return w.fail("movie duration out of range");
        info.duration = info.durationIndefinite ? 0 : d;
    } else {
        return w.fail("unknown movie header version");
    }
    if (info.timescale == 0 || info.timescale > static_cast<uint32_t>(INT32_MAX))
        return w.fail("movie timescale out of range");
    return true;
}

bool parseTkhd(Walker& w, const Box& box, Mp4Track& track) {
    uint8_t b[96];
    if (!w.readPayload(box, 0, 4, b)) return false;
    uint8_t version = b[0];
    size_t idOffset, sizeOffset, length;
    if (version == 0) {
        idOffset = 12, sizeOffset = 76, length = 84;
    } else if (version == 1) {
        idOffset = 20, sizeOffset = 88, length = 96;
    } else {
        return w.fail("unknown track header version");
    }
    if (!w.readPayload(box, 0, length, b)) return false;
    track.trackID = be32(b + idOffset);
    track.width = be32(b + sizeOffset) / 65536.0;
    track.height = be32(b + sizeOffset + 4) / 65536.0;
    return true;
}

bool parseHdlr(Walker& w, const Box& box, Mp4Track& track) {
    uint8_t b[12];
    if (!w.readPayload(box, 0, sizeof b, b)) return false;
    std::string handler(reinterpret_cast<const char*>(b + 8), 4);
    for (char c : handler)
        if (c < 0x20 || c > 0x7e) return w.fail("handler type is not printable");
    track.handlerType = handler;
    return true;
}

bool parseTrak(Walker& w, const Box& trak, Mp4Info& info) {
    Mp4Track track;
    bool hasHeader = false;
    bool hasHandler = false;
    bool ok = w.forEachBox(trak.payload, trak.end, [&](const Box& box) {
        if (box.is("tkhd") && !hasHeader) return hasHeader = parseTkhd(w, box, track);
        if (box.is("mdia")) {
            return w.forEachBox(box.payload, box.end, [&](const Box& inner) {
                if (inner.is("hdlr") && !hasHandler) return hasHandler = parseHdlr(w, inner, track);
                return true;
            });
        }
        return true;
    });
    if (ok && hasHeader) info.tracks.push_back(std::move(track));
    return ok;
}

}  // namespace

std::optional<Mp4Info> Mp4Probe::probe(const Source& source, std::string* error) {
    std::string why;
    Walker w(source, why);
    Mp4Info info;
    bool hasMovie = false;
    bool hasMovieHeader = false;
    bool ok = w.forEachBox(0, source.size(), [&](const Box& box) {
        if (!box.is("moov") || hasMovie) return true;
        hasMovie = true;
        return w.forEachBox(box.payload, box.end, [&](const Box& child) {
            if (child.is("mvhd") && !hasMovieHeader) return hasMovieHeader = parseMvhd(w, child, info);
            if (child.is("trak")) return parseTrak(w, child, info);
            return true;
        });
    });
    if (ok && source.size() == 0) ok = w.fail("empty file");
    if (ok && !hasMovie) ok = w.fail("no movie box");
    if (ok && !hasMovieHeader) ok = w.fail("no movie header");
    if (!ok) {
        if (error) *error = why;
        return std::nullopt;
    }
    return info;
}

std::optional<Mp4Info> Mp4Probe::probeBytes(const uint8_t* data, size_t size, std::string* error) {
    return probe(MemorySource(data, size), error);
}

std::optional<Mp4Info> Mp4Probe::probeFile(const std::string& path, std::string* error) {
    // Non-blocking open so a pipe cannot stall the caller; only regular files are read.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (error) *error = "cannot open " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        if (error) *error = path + " is not a regular file";
        return std::nullopt;
    }
    FileSource source(fd, static_cast<uint64_t>(st.st_size));
    return probe(source, error);
}

}  // namespace platform
