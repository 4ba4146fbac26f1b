// The splash tests' fixture: the display fixture (service on loopback, the
// real lifecycle manager, a recording ad screen) with helpers that put files
// into the test's application bundle: the client's real "loading" page,
// launch images and icons of a given size, and Info.plist values.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "Trillium/display/TRASplashPreferences.h"
#include "Trillium/display/TRASplashView.h"
#include "Trillium/display/TRASplashViewController.h"
#include "Trillium/display/tests/TrilliumDisplayTestSupport.h"
#include "platform/foundation/NSBundle.h"
#include "platform/ui/UIImage.h"

class TrilliumSplashTest : public TrilliumDisplayTest {
protected:
    // The client's "loading" page from resources/, copied into the bundle's "Trillium.bundle".
    void installLoadingPage() {
        const char* source = std::getenv("PROJECT_SOURCE_DIR");
        ASSERT_NE(source, nullptr) << "PROJECT_SOURCE_DIR is not set";
        std::filesystem::create_directories(bundlePath() + "/Trillium.bundle");
        std::filesystem::copy_file(std::string(source) + "/resources/Trillium.bundle/loading.html",
                                   bundlePath() + "/Trillium.bundle/loading.html",
                                   std::filesystem::copy_options::overwrite_existing);
    }

    // A PNG of `width` × `height` pixels filled with one colour, as `file` in the bundle.
    void writeImage(const std::string& file, int width, int height, float red = 0.2f, float green = 0.4f,
                    float blue = 0.6f) {
        UIGraphicsBeginImageContextWithOptions(CGSizeMake(static_cast<CGFloat>(width), static_cast<CGFloat>(height)),
                                               true, 1);
        CGContextSetRGBFillColor(UIGraphicsGetCurrentContext(), red, green, blue, 1);
        CGContextFillRect(UIGraphicsGetCurrentContext(),
                          CGRectMake(0, 0, static_cast<CGFloat>(width), static_cast<CGFloat>(height)));
        Ref<UIImage> image = UIGraphicsGetImageFromCurrentImageContext();
        UIGraphicsEndImageContext();
        ASSERT_TRUE(image);
        std::optional<NSData> png = UIImagePNGRepresentation(image);
        ASSERT_TRUE(png);
        ASSERT_TRUE(png->writeToFile(bundlePath() + "/" + file, true));
    }

    // A file named like an image that holds no image (a truncated PNG header).
    void writeUndecodableImage(const std::string& file) {
        ASSERT_TRUE(NSData::dataWithString("\x89PNG\r\n\x1a\n").writeToFile(bundlePath() + "/" + file, true));
    }

    static void setInfo(const std::string& key, const Value& value) {
        NSBundle::mainBundle()->setInfoDictionaryValue(key, value);
    }
    static void setOrientations(std::initializer_list<Value> entries) {
        setInfo("UISupportedInterfaceOrientations", Value::array(entries));
    }

    static Ref<TRASplashPreferences> preferences() { return NSObject::alloc<TRASplashPreferences>()->init(); }
};
