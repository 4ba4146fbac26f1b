// How the video store tells an ad that its video is on the device (with the
// file's path) or could not be fetched.
#pragma once

#include <string>

#include "platform/runtime/NSObject.h"

class TRAVideosManagerDelegate : public virtual NSObjectProtocol {
public:
    virtual void didFinishDownloadVideoWithPath(const std::string& path) = 0;
    virtual void didFailDownloadVideo() = 0;
};
