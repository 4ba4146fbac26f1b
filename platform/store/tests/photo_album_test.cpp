// The photo album: PNG files under <home>/Media/PhotoAlbum, authorisation and
// the errors of the completion, always at a later pass on main.
#include "platform/testing/PlatformTest.h"
#include "platform/runtime/NSThread.h"
#include "platform/store/PhotoAlbum.h"
#include "platform/ui/UIColor.h"

namespace {

using platform::testing::PhotoAlbum;
using platform::testing::PlatformTest;

struct Saved {
    int calls = 0;
    Ref<UIImage> image;
    Ref<NSError> error;
};

platform::PhotoAlbumCompletion record(std::shared_ptr<Saved> saved) {
    return [saved](Ref<UIImage> image, Ref<NSError> error) {
        EXPECT_TRUE(NSThread::isMainThread());
        ++saved->calls;
        saved->image = std::move(image);
        saved->error = std::move(error);
    };
}

Ref<UIImage> redSquare() {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(20, 10), true, 1);
    CGContextSetRGBFillColor(UIGraphicsGetCurrentContext(), 1, 0, 0, 1);
    CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, 20, 10));
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

class PhotoAlbumTest : public PlatformTest {};

TEST_F(PhotoAlbumTest, SavesPNGFilesInOrder) {
    auto image = redSquare();
    ASSERT_TRUE(image);
    auto first = std::make_shared<Saved>();
    UIImageWriteToSavedPhotosAlbum(image, record(first));
    EXPECT_EQ(first->calls, 0);  // later, on the main queue
    driver().drain();
    EXPECT_EQ(first->calls, 1);
    EXPECT_EQ(first->image, image);
    EXPECT_FALSE(first->error);
    UIImageWriteToSavedPhotosAlbum(image, nullptr);
    driver().drain();

    auto paths = PhotoAlbum::savedImages();
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[0], home() + "/Media/PhotoAlbum/image-000001.png");
    EXPECT_EQ(paths[1], home() + "/Media/PhotoAlbum/image-000002.png");
    auto reread = UIImage::imageWithContentsOfFile(paths[0]);
    ASSERT_TRUE(reread);
    EXPECT_EQ(reread->size(), CGSizeMake(20, 10));
}

TEST_F(PhotoAlbumTest, SizedOnlyImagesAreSavedAsPNG) {
    // A JPEG header (16 × 32), which the platform sizes but does not decode.
    const uint8_t jpeg[] = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x10, 0x00, 0x20, 0x03,
                            1,    0x11, 0,    2,    0x11, 0,    3,    0x11, 0,    0xFF, 0xD9};
    auto image = UIImage::imageWithData(NSData(jpeg, sizeof jpeg));
    ASSERT_TRUE(image);
    auto saved = std::make_shared<Saved>();
    UIImageWriteToSavedPhotosAlbum(image, record(saved));
    driver().drain();
    EXPECT_FALSE(saved->error);
    ASSERT_EQ(PhotoAlbum::savedImages().size(), 1u);
    auto reread = UIImage::imageWithContentsOfFile(PhotoAlbum::savedImages()[0]);
    ASSERT_TRUE(reread);
    EXPECT_EQ(reread->size(), CGSizeMake(32, 16));
}

TEST_F(PhotoAlbumTest, RefusedWithoutAuthorisation) {
    EXPECT_TRUE(profile().photoLibraryAuthorized);
    PhotoAlbum::setAuthorized(false);
    auto saved = std::make_shared<Saved>();
    UIImageWriteToSavedPhotosAlbum(redSquare(), record(saved));
    driver().drain();
    ASSERT_TRUE(saved->error);
    EXPECT_EQ(saved->error->domain(), "ALAssetsLibraryErrorDomain");
    EXPECT_EQ(saved->error->code(), -3310);
    EXPECT_TRUE(PhotoAlbum::savedImages().empty());
}

TEST_F(PhotoAlbumTest, NullImage) {
    auto saved = std::make_shared<Saved>();
    UIImageWriteToSavedPhotosAlbum(nullptr, record(saved));
    driver().drain();
    EXPECT_EQ(saved->calls, 1);
    ASSERT_TRUE(saved->error);
    EXPECT_EQ(saved->error->domain(), "ALAssetsLibraryErrorDomain");
    EXPECT_EQ(saved->error->code(), -1);
    EXPECT_TRUE(PhotoAlbum::savedImages().empty());
}

TEST_F(PhotoAlbumTest, UnwritableAlbumReportsAWriteError) {
    // A file where the album folder should be.
    ASSERT_TRUE(NSData::dataWithString("x").writeToFile(home() + "/Media", true));
    auto saved = std::make_shared<Saved>();
    expectLogLine("photo album: the image could not be saved");
    UIImageWriteToSavedPhotosAlbum(redSquare(), record(saved));
    driver().drain();
    ASSERT_TRUE(saved->error);
    EXPECT_EQ(saved->error->code(), 512);
}

}  // namespace
