// The MP4 header probe against the generated test files and hand-made hostile
// box structures.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/media/Mp4Probe.h"
#include "platform/media/TestMp4.h"

namespace {

using platform::Mp4Info;
using platform::Mp4Probe;
using platform::testing::testMp4Bytes;
using Bytes = std::vector<uint8_t>;

// Hand-assembled boxes for structures the generator does not make.
void put32(Bytes& b, uint32_t v) {
    for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put64(Bytes& b, uint64_t v) {
    put32(b, static_cast<uint32_t>(v >> 32));
    put32(b, static_cast<uint32_t>(v));
}
Bytes box(const char* type, const Bytes& payload) {
    Bytes b;
    put32(b, static_cast<uint32_t>(payload.size() + 8));
    b.insert(b.end(), type, type + 4);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
Bytes mvhdV1(uint32_t timescale, uint64_t duration) {
    Bytes p = {1, 0, 0, 0};
    put64(p, 0), put64(p, 0);
    put32(p, timescale);
    put64(p, duration);
    p.resize(p.size() + 80);  // rate, volume, matrix, …
    return box("mvhd", p);
}
Bytes tkhdV1(uint32_t id, uint32_t width16, uint32_t height16) {
    Bytes p = {1, 0, 0, 3};
    put64(p, 0), put64(p, 0);
    put32(p, id);
    put32(p, 0);
    put64(p, 0);
    p.resize(p.size() + 8 + 8 + 36);
    put32(p, width16);
    put32(p, height16);
    return box("tkhd", p);
}
Bytes hdlr(const char* handler) {
    Bytes p(8, 0);
    p.insert(p.end(), handler, handler + 4);
    p.resize(p.size() + 13);
    return box("hdlr", p);
}

std::optional<Mp4Info> probe(const Bytes& b, std::string* why = nullptr) {
    return Mp4Probe::probeBytes(b.data(), b.size(), why);
}

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/mp4probeXXXXXX";
        path_ = ::mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    std::string write(const std::string& name, const Bytes& bytes) const {
        std::string p = path_ + "/" + name;
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return p;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

TEST(Mp4Probe, TestFileSet) {
    TempDir dir;
    Bytes valid = testMp4Bytes(12.5, 600, 320, 180, true);

    auto info = Mp4Probe::probeFile(dir.write("valid.mp4", valid));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->timescale, 600u);
    EXPECT_EQ(info->duration, 7500u);
    EXPECT_FALSE(info->durationIndefinite);
    ASSERT_EQ(info->tracks.size(), 2u);
    EXPECT_EQ(info->tracks[0].trackID, 1u);
    EXPECT_EQ(info->tracks[0].handlerType, "vide");
    EXPECT_EQ(info->tracks[0].width, 320.0);
    EXPECT_EQ(info->tracks[0].height, 180.0);
    EXPECT_EQ(info->tracks[1].trackID, 2u);
    EXPECT_EQ(info->tracks[1].handlerType, "soun");
    EXPECT_EQ(info->tracks[1].width, 0.0);

    std::string why;
    Bytes truncated(valid.begin(), valid.end() - 5);  // cut inside the media data
    EXPECT_FALSE(Mp4Probe::probeFile(dir.write("truncated.mp4", truncated), &why));
    EXPECT_EQ(why, "box 'mdat' extends past its container");

    auto zero = Mp4Probe::probeFile(dir.write("zero.mp4", testMp4Bytes(0, 1000, 64, 64, false)));
    ASSERT_TRUE(zero);
    EXPECT_EQ(zero->duration, 0u);
    EXPECT_EQ(zero->timescale, 1000u);

    auto audioOnly = Mp4Probe::probeFile(dir.write("audio.mp4", testMp4Bytes(3, 44100, 0, 0, true)));
    ASSERT_TRUE(audioOnly);
    ASSERT_EQ(audioOnly->tracks.size(), 1u);
    EXPECT_EQ(audioOnly->tracks[0].handlerType, "soun");

    const std::string html = "<!DOCTYPE html><html><body>not a video</body></html>";
    EXPECT_FALSE(Mp4Probe::probeFile(dir.write("page.mp4", Bytes(html.begin(), html.end()))));
    EXPECT_FALSE(Mp4Probe::probeFile(dir.write("empty.mp4", {}), &why));
    EXPECT_EQ(why, "empty file");
}

TEST(Mp4Probe, FilesThatCannotBeRead) {
    TempDir dir;
    std::string why;
    EXPECT_FALSE(Mp4Probe::probeFile(dir.path() + "/missing.mp4", &why));
    EXPECT_NE(why.find("cannot open"), std::string::npos);
    EXPECT_FALSE(Mp4Probe::probeFile(dir.path(), &why));
    EXPECT_NE(why.find("not a regular file"), std::string::npos);
    std::string fifo = dir.path() + "/pipe.mp4";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(Mp4Probe::probeFile(fifo));  // returns at once instead of waiting for a writer
}

TEST(Mp4Probe, EveryTruncationFailsCleanly) {
    Bytes valid = testMp4Bytes(2, 600, 16, 16, true);
    std::vector<size_t> accepted;
    for (size_t n = 0; n < valid.size(); ++n) {
        Bytes cut(valid.begin(), valid.begin() + static_cast<long>(n));
        if (probe(cut)) accepted.push_back(n);
    }
    // Only the cut that drops the whole media data box (8 + 16 bytes, last) leaves whole boxes.
    EXPECT_EQ(accepted, std::vector<size_t>{valid.size() - 24});
}

TEST(Mp4Probe, Version1HeadersAndLargeSizes) {
    Bytes trak = box("trak", cat({tkhdV1(7, 1920u << 16, 1080u << 16), box("mdia", hdlr("vide"))}));
    Bytes moov = box("moov", cat({mvhdV1(90000, 5000000000ull), trak}));
    // A 64-bit sized free box, then a media data box that runs to the end of the file.
    Bytes large = {0, 0, 0, 1, 'f', 'r', 'e', 'e'};
    put64(large, 24);
    large.resize(24);
    Bytes tail = {0, 0, 0, 0, 'm', 'd', 'a', 't', 1, 2, 3};
    auto info = probe(cat({moov, large, tail}));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->timescale, 90000u);
    EXPECT_EQ(info->duration, 5000000000ull);
    ASSERT_EQ(info->tracks.size(), 1u);
    EXPECT_EQ(info->tracks[0].trackID, 7u);
    EXPECT_EQ(info->tracks[0].width, 1920.0);

    auto unknown = probe(box("moov", mvhdV1(600, UINT64_MAX)));
    ASSERT_TRUE(unknown);
    EXPECT_TRUE(unknown->durationIndefinite);
    EXPECT_FALSE(probe(box("moov", mvhdV1(600, uint64_t{1} << 63))));
    EXPECT_FALSE(probe(box("moov", mvhdV1(0, 10))));
}

TEST(Mp4Probe, NeverReadsPastABoxEnd) {
    // An mvhd box that claims 12 bytes, followed by bytes that would read as a
    // plausible timescale and duration if the probe looked past its end.
    Bytes shortHeader = {0, 0, 0, 12, 'm', 'v', 'h', 'd', 0, 0, 0, 0};
    Bytes after;
    put32(after, 16);
    after.insert(after.end(), {'f', 'r', 'e', 'e'});
    put32(after, 600);
    put32(after, 6000);
    std::string why;
    EXPECT_FALSE(probe(box("moov", cat({shortHeader, after})), &why));
    EXPECT_EQ(why, "box 'mvhd' is too short");

    // A child box that claims more than its parent holds.
    Bytes inner = {0, 0, 0, 200, 'm', 'v', 'h', 'd'};
    inner.resize(40);
    EXPECT_FALSE(probe(box("moov", inner), &why));
    EXPECT_EQ(why, "box 'mvhd' extends past its container");

    // A track header cut short, its missing bytes supplied by the next box.
    Bytes tkhdShort = {0, 0, 0, 20, 't', 'k', 'h', 'd', 0, 0, 0, 0};
    tkhdShort.resize(20);
    Bytes moov = box("moov", cat({mvhdV1(600, 600), box("trak", cat({tkhdShort, box("free", Bytes(100, 0))}))}));
    EXPECT_FALSE(probe(moov, &why));
    EXPECT_EQ(why, "box 'tkhd' is too short");
}

TEST(Mp4Probe, MalformedStructures) {
    std::string why;
    EXPECT_FALSE(probe(box("free", {}), &why));
    EXPECT_EQ(why, "no movie box");
    EXPECT_FALSE(probe(box("moov", box("trak", {})), &why));
    EXPECT_EQ(why, "no movie header");
    EXPECT_FALSE(probe({0, 0, 0, 4, 'f', 'r', 'e', 'e'}, &why));
    EXPECT_EQ(why, "box 'free' is smaller than its header");
    EXPECT_FALSE(probe({0, 0, 0, 1, 'f', 'r', 'e', 'e', 0, 0, 0, 0, 0, 0, 0, 8}, &why));
    EXPECT_EQ(why, "box 'free' is smaller than its header");
    EXPECT_FALSE(probe(cat({box("moov", mvhdV1(600, 1)), Bytes{0, 0, 0}}), &why));
    EXPECT_EQ(why, "stray bytes where a box header should be");
    EXPECT_FALSE(probe({0, 0, 0, 8, 'm', 0, 'o', 'v'}, &why));
    EXPECT_EQ(why, "box type is not printable");
    Bytes v2 = box("mvhd", Bytes{2, 0, 0, 0});
    v2.resize(120);
    EXPECT_FALSE(probe(box("moov", v2), &why));
    EXPECT_EQ(why, "unknown movie header version");
}

TEST(Mp4Probe, BoxCountIsBounded) {
    Bytes many;
    for (int i = 0; i < Mp4Probe::kMaxBoxes + 10; ++i) {
        put32(many, 8);
        many.insert(many.end(), {'f', 'r', 'e', 'e'});
    }
    std::string why;
    EXPECT_FALSE(probe(many, &why));
    EXPECT_EQ(why, "too many boxes");
}

TEST(Mp4Probe, TracksWithoutHeaderOrHandler) {
    Bytes noHeader = box("trak", box("mdia", hdlr("vide")));
    Bytes noHandler = box("trak", tkhdV1(3, 0, 0));
    auto info = probe(box("moov", cat({mvhdV1(600, 60), noHeader, noHandler})));
    ASSERT_TRUE(info);
    ASSERT_EQ(info->tracks.size(), 1u);
    EXPECT_EQ(info->tracks[0].trackID, 3u);
    EXPECT_EQ(info->tracks[0].handlerType, "");
}

}  // namespace
