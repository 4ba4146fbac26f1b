// Images: PNG decoded in full (libpng, into one copy of the pixels; over 16 M
// pixels refused from the header, with a log line; bytes that stop short of
// the image they announce allocate no pixels); JPEG and GIF recognised
// from their headers (size only; drawn as a neutral placeholder); anything
// else, empty or truncated bytes give nil. Named images are looked up in the main bundle by
// scale and idiom and cached. Also the image contexts of UIGraphics.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/NSData.h"
#include "platform/runtime/NSObject.h"
#include "platform/ui/CGContext.h"
#include "platform/ui/CGGeometry.h"

namespace platform {

class UIImage : public NSObject {
public:
    static Ref<UIImage> alloc() { return std::make_shared<UIImage>(); }

    // The main bundle's resources; ".png" is added to a name without an
    // extension; a name holding "@2x"/"@3x" is taken as given, others try
    // name@<scale>x~<idiom>, name@<scale>x, name~<idiom>, name. Nil when none
    // exists or decodes.
    static Ref<UIImage> imageNamed(const std::string& name);
    // The scale comes from "@<n>x" in the file name (1 without).
    static Ref<UIImage> imageWithContentsOfFile(const std::string& path);
    static Ref<UIImage> imageWithData(const NSData& data, CGFloat scale = 1);
    static Ref<UIImage> imageWithCGImage(const CGImageRef& image, CGFloat scale = 1);
    // The pixels imageWithData would decode, from the header alone (before
    // the cap): width × height of a PNG, 0 for anything else.
    static uint64_t decodedPixelCount(const NSData& data);

    // In points: pixels ÷ scale.
    CGSize size() const;
    CGFloat scale() const { return scale_; }
    CGImageRef CGImage() const { return image_; }

private:
    CGImageRef image_;
    CGFloat scale_ = 1;
};

// PNG bytes of a decoded image; nothing for a placeholder (JPEG, GIF) or null.
std::optional<NSData> UIImagePNGRepresentation(const Ref<UIImage>& image);

// Image contexts: drawing calls go to a fresh image of size × scale (0: the
// screen's scale) until the matching end.
void UIGraphicsBeginImageContextWithOptions(CGSize size, bool opaque, CGFloat scale);
void UIGraphicsBeginImageContext(CGSize size);
Ref<UIImage> UIGraphicsGetImageFromCurrentImageContext();
void UIGraphicsEndImageContext();

}  // namespace platform

using platform::UIGraphicsBeginImageContext;
using platform::UIGraphicsBeginImageContextWithOptions;
using platform::UIGraphicsEndImageContext;
using platform::UIGraphicsGetImageFromCurrentImageContext;
using platform::UIImage;
using platform::UIImagePNGRepresentation;
