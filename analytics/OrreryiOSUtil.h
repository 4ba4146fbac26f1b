// Device facts in the form the analytics reports carry them.
#pragma once

#include <cstdint>

class OrreryiOSUtil {
public:
    static constexpr uint16_t kPlatformIPad = 8;
    static constexpr uint16_t kPlatformIPhone = 2;
    // 8 on an iPad, else 2.
    static uint16_t agentPlatform();
};
