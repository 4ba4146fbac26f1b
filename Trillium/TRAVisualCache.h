// The ad cache's debug overlay: one line per cache entry (kind of ad, event
// type, loaded or loading) and one per stored video.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/UIView.h"

class TRAVisualCache : public UIView {
public:
    // Rebuilds every line.
    void reloadData();
    // Reloads the video lines from the video store's table.
    void setCacheVideos();

    const std::vector<std::string>& cacheLines() const { return cacheLines_; }
    const std::vector<std::string>& videoLines() const { return videoLines_; }

private:
    void layoutLines();

    std::vector<std::string> cacheLines_;
    std::vector<std::string> videoLines_;
};
