// The video store (TRAVideosManager implements this) as the core ad model and
// the cache overlay use it.
#pragma once

#include <optional>
#include <string>

#include "Trillium/TRAVideosManagerDelegate.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class TRAVideoStore : public virtual NSObjectProtocol {
public:
    // Starts or joins the download of the video, or reports the file at once.
    virtual void downloadVideoWithUrl(const std::string& videoUrl, const Ref<TRAVideosManagerDelegate>& delegate) = 0;
    // The file the screen is playing now (spared by the clean-up); nil clears it.
    virtual void setNowPlayingVideoFileName(const std::optional<std::string>& fileName) = 0;
    // A copy of the table: file name → downloader.
    virtual Value getVideosDBCopy() = 0;
};
