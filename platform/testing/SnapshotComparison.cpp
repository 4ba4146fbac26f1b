#include "platform/testing/SnapshotComparison.h"

#include <cairo.h>

#include <cstdlib>
#include <filesystem>

#include "platform/runtime/Log.h"
#include "platform/ui/LabelFont.h"
#include "platform/ui/UIWindow.h"

namespace platform::testing {

namespace {

// A PNG file decoded by cairo.
struct SnapshotImage {
    cairo_surface_t* surface = nullptr;
    explicit SnapshotImage(const std::string& path) : surface(cairo_image_surface_create_from_png(path.c_str())) {}
    ~SnapshotImage() { cairo_surface_destroy(surface); }
    SnapshotImage(const SnapshotImage&) = delete;
    SnapshotImage& operator=(const SnapshotImage&) = delete;
    bool ok() const { return cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS; }
    int width() const { return cairo_image_surface_get_width(surface); }
    int height() const { return cairo_image_surface_get_height(surface); }
    uint32_t at(int x, int y) const {
        cairo_surface_flush(surface);
        const unsigned char* data = cairo_image_surface_get_data(surface);
        int stride = cairo_image_surface_get_stride(surface);
        uint32_t word = *reinterpret_cast<const uint32_t*>(data + y * stride + x * 4);
        return cairo_image_surface_get_format(surface) == CAIRO_FORMAT_ARGB32 ? word : 0xFF000000u | (word & 0xFFFFFF);
    }
};

// Takes a snapshot into the scratch folder (under the reference's file name) and compares it.
template <class Take>
::testing::AssertionResult compareSnapshot(Take take, const std::string& reference, const std::string& folder,
                                           int tolerance) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::string png = folder + "/" + std::filesystem::path(reference).filename().string();
    if (!take(png)) return ::testing::AssertionFailure() << "cannot take the snapshot " << png;
    return SnapshotComparison::matchesReference(png, reference, tolerance);
}

}  // namespace

std::string SnapshotComparison::referencePath(const std::string& reference) {
    const char* root = std::getenv("PROJECT_SOURCE_DIR");
    return std::string(root ? root : ".") + "/" + reference;
}

bool SnapshotComparison::rewritingReferences() {
    const char* update = std::getenv("UPDATE_SNAPSHOT_REFERENCES");
    return update && std::string(update) == "1";
}

::testing::AssertionResult SnapshotComparison::matchesReference(const std::string& png, const std::string& reference,
                                                                int tolerance) {
    if (!LabelFont::isAvailable())
        return ::testing::AssertionFailure() << "the label font " << LabelFont::fontFile(false) << " or "
                                             << LabelFont::fontFile(true)
                                             << " is missing: run scripts/install-deps.sh (fonts-dejavu-core)";
    const std::string path = referencePath(reference);
    SnapshotImage actual(png);
    if (!actual.ok()) return ::testing::AssertionFailure() << "cannot read the snapshot " << png;
    if (rewritingReferences()) {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
        std::filesystem::copy_file(png, path, std::filesystem::copy_options::overwrite_existing, ec);
        if (ec) return ::testing::AssertionFailure() << "cannot rewrite " << path << ": " << ec.message();
        log(LogLevel::Warning, "snapshot reference rewritten: " + path + " (look at it before committing)");
        return ::testing::AssertionSuccess() << "reference rewritten: " << path;
    }
    SnapshotImage expected(path);
    if (!expected.ok())
        return ::testing::AssertionFailure() << "cannot read the reference " << path
                                             << " (UPDATE_SNAPSHOT_REFERENCES=1 writes it)";
    if (actual.width() != expected.width() || actual.height() != expected.height())
        return ::testing::AssertionFailure() << "size " << actual.width() << "x" << actual.height() << ", expected "
                                             << expected.width() << "x" << expected.height() << " (" << path << ")";
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            uint32_t a = actual.at(x, y), e = expected.at(x, y);
            for (int shift : {0, 8, 16, 24}) {
                int da = int((a >> shift) & 0xFF), de = int((e >> shift) & 0xFF);
                if (std::abs(da - de) > tolerance)
                    return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << std::hex << a
                                                         << ", expected " << e << std::dec << " (" << path << ")";
            }
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult SnapshotComparison::viewMatchesReference(const Ref<UIView>& view,
                                                                    const std::string& reference,
                                                                    const std::string& scratchFolder, int tolerance) {
    return compareSnapshot([&](const std::string& png) { return view && view->renderToPNG(png); }, reference,
                           scratchFolder, tolerance);
}

::testing::AssertionResult SnapshotComparison::windowMatchesReference(const Ref<UIWindow>& window,
                                                                      const std::string& reference,
                                                                      const std::string& scratchFolder, int tolerance) {
    return compareSnapshot([&](const std::string& png) { return window && window->snapshotPNG(png); }, reference,
                           scratchFolder, tolerance);
}

int SnapshotComparison::pngWidth(const std::string& png) {
    SnapshotImage image(png);
    return image.ok() ? image.width() : 0;
}

int SnapshotComparison::pngHeight(const std::string& png) {
    SnapshotImage image(png);
    return image.ok() ? image.height() : 0;
}

uint32_t SnapshotComparison::pixelAt(const std::string& png, int x, int y) {
    SnapshotImage image(png);
    if (!image.ok() || x < 0 || y < 0 || x >= image.width() || y >= image.height()) return 0;
    return image.at(x, y);
}

std::vector<uint32_t> SnapshotComparison::pixels(const std::string& png) {
    SnapshotImage image(png);
    std::vector<uint32_t> out;
    if (!image.ok()) return out;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) out.push_back(image.at(x, y));
    return out;
}

}  // namespace platform::testing
