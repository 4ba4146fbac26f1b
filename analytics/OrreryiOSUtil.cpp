#include "analytics/OrreryiOSUtil.h"

#include "analytics/OrreryUtil.h"

uint16_t OrreryiOSUtil::agentPlatform() { return OrreryUtil::isIPad() ? kPlatformIPad : kPlatformIPhone; }
