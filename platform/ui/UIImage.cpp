#include "platform/ui/UIImage.h"

#include <png.h>

#include <cmath>
#include <csetjmp>
#include <cstring>
#include <filesystem>
#include <map>
#include <utility>
#include <vector>

#include "platform/foundation/DeviceProfile.h"
#include "platform/foundation/NSBundle.h"
#include "platform/runtime/Log.h"
#include "platform/ui/MainThreadOnly.h"
#include "platform/ui/CairoContext.h"
#include "platform/ui/UIScreen.h"

namespace platform {

namespace {

// Larger images are refused from their headers, before anything is
// allocated: a small compressed file may claim any size (64 MB of pixels at
// most are decoded).
constexpr uint32_t kMaxSide = 16384;
constexpr uint64_t kMaxPixels = 16ull * 1024 * 1024;

bool sizeAllowed(uint64_t w, uint64_t h) {
    if (w == 0 || h == 0) return false;
    if (w <= kMaxSide && h <= kMaxSide && w * h <= kMaxPixels) return true;
    log(LogLevel::Warning, "image refused: " + std::to_string(w) + "x" + std::to_string(h) + " pixels is over the cap of " +
                               std::to_string(kMaxPixels) + " pixels (" + std::to_string(kMaxSide) + " a side)");
    return false;
}

uint32_t bigEndian32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }

constexpr uint8_t kPNGSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// A PNG's width and height: the signature, then the IHDR chunk (length,
// "IHDR", width, height). Nothing for other or truncated bytes.
std::optional<std::pair<uint32_t, uint32_t>> pngHeaderSize(const NSData& data) {
    const uint8_t* b = data.bytes();
    if (data.length() < 33 || std::memcmp(b, kPNGSignature, 8) != 0 || std::memcmp(b + 12, "IHDR", 4) != 0)
        return std::nullopt;
    return std::make_pair(bigEndian32(b + 16), bigEndian32(b + 20));
}

struct PNGSource {
    const uint8_t* data;
    size_t length;
    size_t offset = 0;
};

void readPNGBytes(png_structp png, png_bytep out, size_t length) {
    auto* source = static_cast<PNGSource*>(png_get_io_ptr(png));
    if (source->length - source->offset < length) png_error(png, "truncated");
    std::memcpy(out, source->data + source->offset, length);
    source->offset += length;
}

// Corrupt bytes are an ordinary outcome here (the image reads as nil): libpng
// stays quiet about them.
void ignorePNGWarning(png_structp, png_const_charp) {}
[[noreturn]] void stopPNG(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// Decodes the image, whose header gave width × height, into `rows` as 8-bit
// RGBA; without rows, each row in turn into `row` (width × 4 bytes), to see
// that all of it decodes. libpng reports errors by jumping back here, so
// nothing in this function has a destructor.
bool readPNGRows(PNGSource& source, uint32_t width, uint32_t height, png_bytep* rows, png_bytep row = nullptr) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, stopPNG, ignorePNGWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    volatile bool read = false;
    if (info && setjmp(png_jmpbuf(png)) == 0) {
        png_set_read_fn(png, &source, readPNGBytes);
        png_read_info(png, info);
        png_uint_32 w = 0, h = 0;
        int depth = 0, colour = 0, interlace = 0;
        png_get_IHDR(png, info, &w, &h, &depth, &colour, &interlace, nullptr, nullptr);
        if (w == width && h == height) {
            // Every kind of PNG becomes 8-bit RGB with alpha.
            if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
            if (colour == PNG_COLOR_TYPE_GRAY) png_set_expand_gray_1_2_4_to_8(png);
            if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
            if (depth == 16) png_set_strip_16(png);
            if (depth < 8) png_set_packing(png);
            if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
            const int passes = interlace != PNG_INTERLACE_NONE ? png_set_interlace_handling(png) : 1;
            png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
            png_read_update_info(png, info);
            if (png_get_rowbytes(png, info) == size_t{width} * 4) {
                if (rows) {
                    png_read_image(png, rows);
                } else {
                    for (int pass = 0; pass < passes; ++pass)
                        for (uint32_t y = 0; y < height; ++y) png_read_row(png, row, nullptr);
                }
                png_read_end(png, nullptr);
                read = true;
            }
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return read;
}

// Premultiplied, rounded as the drawing code's own images are.
uint32_t premultiplied(const uint8_t rgba[4]) {
    const uint32_t a = rgba[3];
    if (a == 0) return 0;
    const auto times = [a](uint32_t c) {
        if (a == 0xFF) return c;
        uint32_t t = a * c + 0x80;
        return ((t >> 8) + t) >> 8;
    };
    return (a << 24) | (times(rgba[0]) << 16) | (times(rgba[1]) << 8) | times(rgba[2]);
}

// Decoded straight into the image's own pixels: one copy, even at peak. The
// bytes are first read through to their end a row at a time: a few bytes may
// announce a large image and stop short, and then nothing more is allocated.
CGImageRef decodePNG(const NSData& data) {
    const auto size = pngHeaderSize(data);
    if (!size) return nullptr;
    const auto [width, height] = *size;
    if (!sizeAllowed(width, height)) return nullptr;
    std::vector<png_byte> row(size_t{width} * 4);
    PNGSource whole{data.bytes(), data.length()};
    if (!readPNGRows(whole, width, height, nullptr, row.data())) return nullptr;
    row = {};
    auto image = std::make_shared<CGImage>();
    image->width = width;
    image->height = height;
    image->pixels.resize(size_t{width} * height);
    std::vector<png_bytep> rows(height);
    for (uint32_t y = 0; y < height; ++y) rows[y] = reinterpret_cast<png_bytep>(&image->pixels[size_t{y} * width]);
    PNGSource source{data.bytes(), data.length()};
    if (!readPNGRows(source, width, height, rows.data())) return nullptr;
    for (uint32_t& pixel : image->pixels) {
        uint8_t rgba[4];
        std::memcpy(rgba, &pixel, 4);
        pixel = premultiplied(rgba);
    }
    return image;
}

// A recognised image that is not decoded: its size only.
CGImageRef placeholder(uint32_t w, uint32_t h) {
    if (!sizeAllowed(w, h)) return nullptr;
    auto image = std::make_shared<CGImage>();
    image->width = w;
    image->height = h;
    image->placeholder = true;
    return image;
}

// The frame size from the first start-of-frame marker.
CGImageRef sizeJPEG(const NSData& data) {
    const uint8_t* b = data.bytes();
    size_t n = data.length();
    size_t i = 2;
    while (i + 4 <= n) {
        if (b[i] != 0xFF) return nullptr;
        uint8_t marker = b[i + 1];
        if (marker == 0xFF) {
            ++i;
            continue;
        }
        if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
            i += 2;
            continue;
        }
        size_t segment = (size_t(b[i + 2]) << 8) | b[i + 3];
        if (segment < 2 || i + 2 + segment > n) return nullptr;
        bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (segment < 7) return nullptr;
            uint32_t h = (uint32_t(b[i + 5]) << 8) | b[i + 6];
            uint32_t w = (uint32_t(b[i + 7]) << 8) | b[i + 8];
            return placeholder(w, h);
        }
        if (marker == 0xD9 || marker == 0xDA) return nullptr;  // no frame header before the data
        i += 2 + segment;
    }
    return nullptr;
}

CGImageRef sizeGIF(const NSData& data) {
    const uint8_t* b = data.bytes();
    if (data.length() < 13) return nullptr;
    return placeholder(b[6] | (uint32_t(b[7]) << 8), b[8] | (uint32_t(b[9]) << 8));
}

CGImageRef decode(const NSData& data) {
    const uint8_t* b = data.bytes();
    size_t n = data.length();
    if (n >= 8 && std::memcmp(b, kPNGSignature, 8) == 0) return decodePNG(data);
    if (n >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return sizeJPEG(data);
    if (n >= 6 && (std::memcmp(b, "GIF87a", 6) == 0 || std::memcmp(b, "GIF89a", 6) == 0)) return sizeGIF(data);
    return nullptr;
}

// "name@2x.png" → 2; 1 without a scale marker.
CGFloat scaleFromFileName(const std::string& path) {
    std::string name = std::filesystem::path(path).filename().string();
    size_t at = name.rfind('@');
    if (at == std::string::npos || at + 2 >= name.size()) return 1;
    size_t i = at + 1;
    int value = 0;
    while (i < name.size() && std::isdigit(static_cast<unsigned char>(name[i])) && value < 100) value = value * 10 + (name[i++] - '0');
    if (i == at + 1 || i >= name.size() || name[i] != 'x' || value < 1) return 1;
    return static_cast<CGFloat>(value);
}

std::map<std::string, Ref<UIImage>>& namedCache() {
    static auto* cache = new std::map<std::string, Ref<UIImage>>();
    return *cache;
}

struct ImageContexts {
    std::vector<std::unique_ptr<CGContext>> stack;
};
ImageContexts& imageContexts() {
    static auto* contexts = new ImageContexts();
    return *contexts;
}

}  // namespace

// ---- UIImage ---------------------------------------------------------------------------

Ref<UIImage> UIImage::imageWithCGImage(const CGImageRef& image, CGFloat scale) {
    if (!image || image->width == 0 || image->height == 0) return nullptr;
    auto result = alloc();
    result->image_ = image;
    result->scale_ = (scale > 0 && std::isfinite(scale)) ? scale : 1;
    return result;
}

Ref<UIImage> UIImage::imageWithData(const NSData& data, CGFloat scale) { return imageWithCGImage(decode(data), scale); }

uint64_t UIImage::decodedPixelCount(const NSData& data) {
    const auto size = pngHeaderSize(data);
    return size ? uint64_t{size->first} * size->second : 0;
}

Ref<UIImage> UIImage::imageWithContentsOfFile(const std::string& path) {
    auto data = NSData::dataWithContentsOfFile(path);
    if (!data) return nullptr;
    return imageWithData(*data, scaleFromFileName(path));
}

Ref<UIImage> UIImage::imageNamed(const std::string& name) {
    MainThreadOnly mainThreadOnly("UIImage::imageNamed");
    if (name.empty()) return nullptr;
    auto& cache = namedCache();
    if (auto it = cache.find(name); it != cache.end()) return it->second;

    std::filesystem::path given(name);
    std::string ext = given.has_extension() ? given.extension().string() : ".png";
    std::string stem = given.has_extension() ? (given.parent_path() / given.stem()).string() : name;
    std::vector<std::string> candidates;
    if (stem.find("@2x") != std::string::npos || stem.find("@3x") != std::string::npos) {
        candidates.push_back(stem + ext);
    } else {
        std::string scale = "@" + std::to_string(int(UIScreen::mainScreen()->scale())) + "x";
        std::string idiom = DeviceProfile::current().idiom == 1 ? "~ipad" : "~iphone";
        candidates = {stem + scale + idiom + ext, stem + scale + ext, stem + idiom + ext, stem + ext};
    }
    std::string root = NSBundle::mainBundle()->resourcePath();
    for (const std::string& candidate : candidates) {
        std::string path = root + "/" + candidate;
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec)) continue;
        if (auto image = imageWithContentsOfFile(path)) {
            cache[name] = image;
            return image;
        }
    }
    return nullptr;
}

CGSize UIImage::size() const {
    if (!image_) return {0, 0};
    return {static_cast<CGFloat>(double(image_->width) / scale_), static_cast<CGFloat>(double(image_->height) / scale_)};
}

std::optional<NSData> UIImagePNGRepresentation(const Ref<UIImage>& image) {
    if (!image || !image->CGImage()) return std::nullopt;
    cairo_surface_t* s = surfaceFromImage(*image->CGImage());
    if (!s) return std::nullopt;
    NSData out;
    auto write = [](void* closure, const unsigned char* data, unsigned int length) {
        static_cast<NSData*>(closure)->appendBytes(data, length);
        return CAIRO_STATUS_SUCCESS;
    };
    cairo_status_t status = cairo_surface_write_to_png_stream(s, write, &out);
    cairo_surface_destroy(s);
    if (status != CAIRO_STATUS_SUCCESS) return std::nullopt;
    return out;
}

// ---- image contexts ----------------------------------------------------------------------

void UIGraphicsBeginImageContextWithOptions(CGSize size, bool opaque, CGFloat scale) {
    MainThreadOnly mainThreadOnly("UIGraphicsBeginImageContextWithOptions");
    if (!(scale > 0)) scale = UIScreen::mainScreen()->scale();
    auto context = CGContext::Impl::create(size, scale, opaque);
    UIGraphicsPushContext(context.get());
    imageContexts().stack.push_back(std::move(context));
}

void UIGraphicsBeginImageContext(CGSize size) { UIGraphicsBeginImageContextWithOptions(size, false, 1); }

Ref<UIImage> UIGraphicsGetImageFromCurrentImageContext() {
    auto& stack = imageContexts().stack;
    if (stack.empty()) return nullptr;
    auto& impl = stack.back()->impl();
    if (impl.pixelWidth() <= 0 || impl.pixelHeight() <= 0) return nullptr;
    impl.cairo();  // an image with nothing drawn is still an image
    return UIImage::imageWithCGImage(imageFromSurface(impl.surface->surface), impl.scale);
}

void UIGraphicsEndImageContext() {
    auto& stack = imageContexts().stack;
    if (stack.empty()) return;
    UIGraphicsPopContext();
    stack.pop_back();
}

}  // namespace platform
