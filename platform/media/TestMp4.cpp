#include "platform/media/TestMp4.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/foundation/NSData.h"

namespace platform::testing {

namespace {

// Appends big-endian fields and nested boxes, patching each box's size when it closes.
class BoxWriter {
public:
    void u8(uint8_t v) { bytes_.push_back(v); }
    void u16(uint16_t v) { u8(v >> 8), u8(v & 0xff); }
    void u32(uint32_t v) { u16(v >> 16), u16(v & 0xffff); }
    void zeros(size_t n) { bytes_.insert(bytes_.end(), n, 0); }
    void text(const char* s, size_t n) { bytes_.insert(bytes_.end(), s, s + n); }

    void begin(const char* type) {
        open_.push_back(bytes_.size());
        u32(0);
        text(type, 4);
    }
    // A full box: version and flags after the header.
    void beginFull(const char* type, uint8_t version, uint32_t flags) {
        begin(type);
        u8(version);
        u8((flags >> 16) & 0xff), u16(flags & 0xffff);
    }
    void end() {
        size_t start = open_.back();
        open_.pop_back();
        uint32_t size = static_cast<uint32_t>(bytes_.size() - start);
        for (int i = 0; i < 4; ++i) bytes_[start + i] = static_cast<uint8_t>(size >> (24 - 8 * i));
    }
    void unityMatrix() {
        const uint32_t m[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};
        for (uint32_t v : m) u32(v);
    }

    std::vector<uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
    std::vector<size_t> open_;
};

uint32_t fixed16(double v) {
    if (!(v > 0)) return 0;
    return static_cast<uint32_t>(std::min(std::llround(v * 65536.0), static_cast<long long>(UINT32_MAX)));
}

void writeTrack(BoxWriter& w, uint32_t id, bool video, uint32_t timescale, uint32_t duration, double width,
                double height) {
    w.begin("trak");
    w.beginFull("tkhd", 0, 3);  // enabled, in movie
    w.u32(0), w.u32(0);         // creation, modification
    w.u32(id);
    w.u32(0);  // reserved
    w.u32(duration);
    w.zeros(8);
    w.u16(0), w.u16(0);             // layer, alternate group
    w.u16(video ? 0 : 0x0100);      // volume
    w.u16(0);
    w.unityMatrix();
    w.u32(video ? fixed16(width) : 0);
    w.u32(video ? fixed16(height) : 0);
    w.end();

    w.begin("mdia");
    w.beginFull("mdhd", 0, 0);
    w.u32(0), w.u32(0);
    w.u32(timescale);
    w.u32(duration);
    w.u16(0x55c4);  // language "und"
    w.u16(0);
    w.end();
    w.beginFull("hdlr", 0, 0);
    w.u32(0);
    w.text(video ? "vide" : "soun", 4);
    w.zeros(12);
    const char* name = video ? "VideoHandler" : "SoundHandler";
    w.text(name, std::strlen(name) + 1);
    w.end();

    w.begin("minf");
    if (video) {
        w.beginFull("vmhd", 0, 1);
        w.zeros(8);  // graphics mode, opcolor
    } else {
        w.beginFull("smhd", 0, 0);
        w.zeros(4);  // balance, reserved
    }
    w.end();
    w.begin("dinf");
    w.beginFull("dref", 0, 0);
    w.u32(1);
    w.beginFull("url ", 0, 1);  // media data in this file
    w.end();
    w.end();
    w.end();
    w.begin("stbl");
    for (const char* table : {"stsd", "stts", "stsc", "stco"}) {
        w.beginFull(table, 0, 0);
        w.u32(0);  // no entries
        w.end();
    }
    w.beginFull("stsz", 0, 0);
    w.u32(0), w.u32(0);  // sample size, count
    w.end();
    w.end();  // stbl
    w.end();  // minf
    w.end();  // mdia
    w.end();  // trak
}

}  // namespace

std::vector<uint8_t> testMp4Bytes(double seconds, int32_t timescale, double videoWidth, double videoHeight,
                                  bool audio) {
    if (timescale <= 0) return {};
    double ticks = std::isfinite(seconds) && seconds > 0 ? std::round(seconds * timescale) : 0;
    uint32_t duration = static_cast<uint32_t>(std::min(ticks, static_cast<double>(UINT32_MAX - 1)));
    bool video = videoWidth > 0 && videoHeight > 0;
    auto ts = static_cast<uint32_t>(timescale);

    BoxWriter w;
    w.begin("ftyp");
    w.text("isom", 4);
    w.u32(0x200);
    w.text("isomiso2mp41", 12);
    w.end();

    w.begin("moov");
    w.beginFull("mvhd", 0, 0);
    w.u32(0), w.u32(0);  // creation, modification
    w.u32(ts);
    w.u32(duration);
    w.u32(0x00010000);  // rate 1.0
    w.u16(0x0100);      // volume 1.0
    w.zeros(10);
    w.unityMatrix();
    w.zeros(24);
    w.u32(static_cast<uint32_t>(video) + static_cast<uint32_t>(audio) + 1);  // next track id
    w.end();
    uint32_t id = 1;
    if (video) writeTrack(w, id++, true, ts, duration, videoWidth, videoHeight);
    if (audio) writeTrack(w, id++, false, ts, duration, 0, 0);
    w.end();  // moov

    w.begin("mdat");
    w.zeros(16);
    w.end();
    return w.take();
}

bool writeTestMp4(const std::string& path, double seconds, int32_t timescale, CGSize videoSize, bool audio) {
    std::vector<uint8_t> bytes = testMp4Bytes(seconds, timescale, videoSize.width, videoSize.height, audio);
    return !bytes.empty() && NSData(std::move(bytes)).writeToFile(path, true);
}

}  // namespace platform::testing
