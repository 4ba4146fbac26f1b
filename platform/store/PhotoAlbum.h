// The saved-photos album: images written as PNG files under
// <home>/Media/PhotoAlbum/, when the device profile allows it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/foundation/NSError.h"
#include "platform/ui/UIImage.h"

namespace platform {

inline constexpr const char* ALAssetsLibraryErrorDomain = "ALAssetsLibraryErrorDomain";
inline constexpr int64_t ALAssetsLibraryUnknownError = -1;
inline constexpr int64_t ALAssetsLibraryAccessUserDeniedError = -3310;

using PhotoAlbumCompletion = std::function<void(Ref<UIImage> image, Ref<NSError> error)>;

// Saves at a later pass on the main queue, then calls `completion` (may be
// null) there: a null error when saved; ALAssetsLibraryErrorDomain -3310 when
// the profile's photoLibraryAuthorized is false, -1 for a null image;
// NSCocoaErrorDomain 512 when the file cannot be written.
void UIImageWriteToSavedPhotosAlbum(const Ref<UIImage>& image, PhotoAlbumCompletion completion);

}  // namespace platform

namespace platform::testing {

class PhotoAlbum {
public:
    // Paths of the saved images, in the order saved.
    static std::vector<std::string> savedImages();
    // Sets the device profile's photoLibraryAuthorized.
    static void setAuthorized(bool authorized);
};

}  // namespace platform::testing

using platform::ALAssetsLibraryAccessUserDeniedError;
using platform::ALAssetsLibraryErrorDomain;
using platform::ALAssetsLibraryUnknownError;
using platform::UIImageWriteToSavedPhotosAlbum;
