// The device: facts from the device profile, the physical orientation and the
// seam that turns the device (which may rotate the interface).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/foundation/NSUUID.h"
#include "platform/runtime/NSObject.h"

namespace platform {

using UIUserInterfaceIdiom = int64_t;
inline constexpr UIUserInterfaceIdiom UIUserInterfaceIdiomPhone = 0;
inline constexpr UIUserInterfaceIdiom UIUserInterfaceIdiomPad = 1;

using UIDeviceOrientation = int64_t;
inline constexpr UIDeviceOrientation UIDeviceOrientationUnknown = 0;
inline constexpr UIDeviceOrientation UIDeviceOrientationPortrait = 1;
inline constexpr UIDeviceOrientation UIDeviceOrientationPortraitUpsideDown = 2;
inline constexpr UIDeviceOrientation UIDeviceOrientationLandscapeLeft = 3;
inline constexpr UIDeviceOrientation UIDeviceOrientationLandscapeRight = 4;
inline constexpr UIDeviceOrientation UIDeviceOrientationFaceUp = 5;
inline constexpr UIDeviceOrientation UIDeviceOrientationFaceDown = 6;

inline constexpr const char* UIDeviceOrientationDidChangeNotification = "UIDeviceOrientationDidChangeNotification";

class UIDevice : public NSObject {
public:
    static Ref<UIDevice> currentDevice();

    std::string systemVersion() const;
    std::string systemName() const;
    std::string model() const;
    std::string localizedModel() const { return model(); }
    std::string name() const;
    UIUserInterfaceIdiom userInterfaceIdiom() const;
    // Persisted across restarts.
    Ref<NSUUID> identifierForVendor() const;

    // Starts at portrait.
    UIDeviceOrientation orientation() const { return orientation_.load(); }
    // Counted: notifications are generated while begins outnumber ends.
    void beginGeneratingDeviceOrientationNotifications();
    void endGeneratingDeviceOrientationNotifications();
    bool isGeneratingDeviceOrientationNotifications() const { return generating_.load() > 0; }

    // Seam: the device turns to `o`; UIDeviceOrientationDidChangeNotification
    // is posted while generating; for 1–4 the interface rotates when the
    // topmost full-screen controller allows it.
    void simulateOrientation(UIDeviceOrientation o);

private:
    std::atomic<UIDeviceOrientation> orientation_{UIDeviceOrientationPortrait};
    std::atomic<int64_t> generating_{0};
};

// True when the profile's system version is at least major.minor.
bool systemVersionAtLeast(int64_t major, int64_t minor);

}  // namespace platform

using platform::UIDevice;
using platform::UIDeviceOrientation;
using platform::UIDeviceOrientationDidChangeNotification;
using platform::UIDeviceOrientationFaceDown;
using platform::UIDeviceOrientationFaceUp;
using platform::UIDeviceOrientationLandscapeLeft;
using platform::UIDeviceOrientationLandscapeRight;
using platform::UIDeviceOrientationPortrait;
using platform::UIDeviceOrientationPortraitUpsideDown;
using platform::UIDeviceOrientationUnknown;
using platform::UIUserInterfaceIdiom;
using platform::UIUserInterfaceIdiomPad;
using platform::UIUserInterfaceIdiomPhone;
