#include "platform/store/PhotoAlbum.h"

#include <cstdio>

#include "platform/foundation/DeviceProfile.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/Log.h"
#include "platform/ui/UIImage.h"

namespace platform {

namespace {

std::string albumFolder() { return NSHomeDirectory() + "/Media/PhotoAlbum"; }

// Images that are only sized (JPEG, GIF) are drawn into a context of their
// size first, so every saved picture is a PNG.
std::optional<NSData> pngData(const Ref<UIImage>& image) {
    if (auto png = UIImagePNGRepresentation(image)) return png;
    CGSize size = image->size();
    if (size.width <= 0 || size.height <= 0) return std::nullopt;
    UIGraphicsBeginImageContextWithOptions(size, false, image->scale());
    CGContextDrawImage(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, size.width, size.height), image->CGImage());
    Ref<UIImage> rendered = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return UIImagePNGRepresentation(rendered);
}

Ref<NSError> save(const Ref<UIImage>& image) {
    if (!image) return NSError::errorWithDomain(ALAssetsLibraryErrorDomain, ALAssetsLibraryUnknownError);
    if (!DeviceProfile::current().photoLibraryAuthorized)
        return NSError::errorWithDomain(ALAssetsLibraryErrorDomain, ALAssetsLibraryAccessUserDeniedError);
    auto files = NSFileManager::defaultManager();
    std::string folder = albumFolder();
    std::optional<NSData> png = pngData(image);
    if (png && files->createDirectoryAtPath(folder, true)) {
        std::string path;
        for (int n = 1;; ++n) {
            char name[32];
            std::snprintf(name, sizeof name, "/image-%06d.png", n);
            if (!files->fileExistsAtPath(folder + name)) {
                path = folder + name;
                break;
            }
        }
        if (png->writeToFile(path, true)) return nullptr;
    }
    logError("photo album: the image could not be saved");
    return NSError::errorWithDomain(NSCocoaErrorDomain, 512);
}

}  // namespace

void UIImageWriteToSavedPhotosAlbum(const Ref<UIImage>& image, PhotoAlbumCompletion completion) {
    dispatch_async(dispatch_get_main_queue(), [image, completion = std::move(completion)] {
        Ref<NSError> error = save(image);
        if (completion) completion(image, error);
    });
}

}  // namespace platform

namespace platform::testing {

std::vector<std::string> PhotoAlbum::savedImages() {
    std::vector<std::string> paths;
    std::string folder = albumFolder();
    for (const std::string& name : NSFileManager::defaultManager()->contentsOfDirectoryAtPath(folder))
        if (name.starts_with("image-") && name.ends_with(".png")) paths.push_back(folder + "/" + name);
    return paths;  // names are numbered, and listed sorted
}

void PhotoAlbum::setAuthorized(bool authorized) { DeviceProfile::current().photoLibraryAuthorized = authorized; }

}  // namespace platform::testing
