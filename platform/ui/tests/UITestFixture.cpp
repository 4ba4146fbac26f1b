#include "UITestFixture.h"

#include <cstdlib>
#include <filesystem>

#include "platform/foundation/Platform.h"

namespace platform::testing {

void UITestFixture::TearDown() {
    driver().drain();  // pending completions run while the test's objects live
    PlatformTest::TearDown();
}

namespace {
struct Image {
    cairo_surface_t* surface = nullptr;
    explicit Image(const std::string& path) : surface(cairo_image_surface_create_from_png(path.c_str())) {}
    ~Image() { cairo_surface_destroy(surface); }
    bool ok() const { return cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS; }
    int width() const { return cairo_image_surface_get_width(surface); }
    int height() const { return cairo_image_surface_get_height(surface); }
    uint32_t at(int x, int y) const {
        cairo_surface_flush(surface);
        const unsigned char* data = cairo_image_surface_get_data(surface);
        int stride = cairo_image_surface_get_stride(surface);
        if (cairo_image_surface_get_format(surface) != CAIRO_FORMAT_ARGB32) {
            uint32_t rgb = *reinterpret_cast<const uint32_t*>(data + y * stride + x * 4);
            return 0xFF000000u | (rgb & 0xFFFFFF);
        }
        return *reinterpret_cast<const uint32_t*>(data + y * stride + x * 4);
    }
};
}  // namespace

uint32_t UITestFixture::pixelAt(const std::string& png, int x, int y) {
    Image image(png);
    if (!image.ok() || x < 0 || y < 0 || x >= image.width() || y >= image.height()) return 0;
    return image.at(x, y);
}

std::vector<uint32_t> UITestFixture::pixels(const std::string& png) {
    Image image(png);
    std::vector<uint32_t> out;
    if (!image.ok()) return out;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) out.push_back(image.at(x, y));
    return out;
}

int UITestFixture::pngWidth(const std::string& png) {
    Image image(png);
    return image.ok() ? image.width() : 0;
}

int UITestFixture::pngHeight(const std::string& png) {
    Image image(png);
    return image.ok() ? image.height() : 0;
}

::testing::AssertionResult UITestFixture::matchesReference(const std::string& png, const std::string& name,
                                                           int tolerance) {
    const char* root = std::getenv("PROJECT_SOURCE_DIR");
    std::string reference = std::string(root ? root : ".") + "/platform/ui/tests/data/" + name;
    const char* update = std::getenv("UPDATE_UI_REFERENCES");
    if (update && std::string(update) == "1") {
        std::filesystem::copy_file(png, reference, std::filesystem::copy_options::overwrite_existing);
        return ::testing::AssertionSuccess() << "reference written: " << reference;
    }
    Image actual(png), expected(reference);
    if (!actual.ok()) return ::testing::AssertionFailure() << "cannot read " << png;
    if (!expected.ok()) return ::testing::AssertionFailure() << "cannot read reference " << reference;
    if (actual.width() != expected.width() || actual.height() != expected.height())
        return ::testing::AssertionFailure() << "size " << actual.width() << "x" << actual.height() << ", expected "
                                             << expected.width() << "x" << expected.height();
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            uint32_t a = actual.at(x, y), e = expected.at(x, y);
            for (int shift : {0, 8, 16, 24}) {
                int da = int((a >> shift) & 0xFF), de = int((e >> shift) & 0xFF);
                if (std::abs(da - de) > tolerance)
                    return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << std::hex << a
                                                         << ", expected " << e;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace platform::testing
