#include "platform/ui/UIImage.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <vector>

#include "platform/foundation/DeviceProfile.h"
#include "platform/foundation/NSBundle.h"
#include "platform/runtime/Log.h"
#include "platform/ui/MainThreadOnly.h"
#include "platform/ui/CairoContext.h"
#include "platform/ui/UIScreen.h"

namespace platform {

namespace {

// Larger images are refused before decoding (hostile headers).
constexpr uint32_t kMaxSide = 16384;
constexpr uint64_t kMaxPixels = 64ull * 1024 * 1024;

bool sizeAllowed(uint64_t w, uint64_t h) { return w > 0 && h > 0 && w <= kMaxSide && h <= kMaxSide && w * h <= kMaxPixels; }

uint32_t bigEndian32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }

struct Reader {
    const uint8_t* data;
    size_t length;
    size_t offset = 0;
};

cairo_status_t readBytes(void* closure, unsigned char* out, unsigned int length) {
    auto* r = static_cast<Reader*>(closure);
    if (r->length - r->offset < length) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(out, r->data + r->offset, length);
    r->offset += length;
    return CAIRO_STATUS_SUCCESS;
}

CGImageRef decodePNG(const NSData& data) {
    const uint8_t* b = data.bytes();
    // Signature, then the IHDR chunk: length, "IHDR", width, height.
    if (data.length() < 33 || std::memcmp(b + 12, "IHDR", 4) != 0) return nullptr;
    if (!sizeAllowed(bigEndian32(b + 16), bigEndian32(b + 20))) return nullptr;
    Reader reader{b, data.length()};
    CairoSurface surface(cairo_image_surface_create_from_png_stream(readBytes, &reader));
    if (cairo_surface_status(surface.surface) != CAIRO_STATUS_SUCCESS) return nullptr;
    if (cairo_image_surface_get_format(surface.surface) != CAIRO_FORMAT_ARGB32) {
        // Opaque or grey images come in other formats: draw them onto ARGB.
        int w = cairo_image_surface_get_width(surface.surface), h = cairo_image_surface_get_height(surface.surface);
        CairoSurface argb(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
        cairo_t* cr = cairo_create(argb.surface);
        cairo_set_source_surface(cr, surface.surface, 0, 0);
        cairo_paint(cr);
        cairo_destroy(cr);
        return imageFromSurface(argb.surface);
    }
    return imageFromSurface(surface.surface);
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
    static const uint8_t png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (n >= 8 && std::memcmp(b, png, 8) == 0) return decodePNG(data);
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
