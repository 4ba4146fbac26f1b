// The video tests' fixture: the display fixture with the Trillium service's
// video ads and files on loopback, and an ad that records what the video
// store tells it (in a log shared by several ads, so that order shows).
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRAVideosManagerDelegate.h"
#include "Trillium/display/TRAVideosManager.h"
#include "Trillium/display/tests/TrilliumDisplayTestSupport.h"
#include "platform/foundation/NSFileManager.h"
#include "simulator/TrilliumVideoAds.h"

class RecordingVideoAd : public NSObject, public TRAVideosManagerDelegate {
public:
    RecordingVideoAd(std::string name, std::vector<std::string>* log) : name_(std::move(name)), log_(log) {}
    void didFinishDownloadVideoWithPath(const std::string& path) override {
        paths.push_back(path);
        if (log_) log_->push_back(name_ + " loaded");
    }
    void didFailDownloadVideo() override {
        ++failures;
        if (log_) log_->push_back(name_ + " failed");
    }
    bool heard() const { return failures > 0 || !paths.empty(); }

    std::vector<std::string> paths;
    int failures = 0;

private:
    std::string name_;
    std::vector<std::string>* log_;
};

class TrilliumVideoTest : public TrilliumDisplayTest {
protected:
    Ref<RecordingVideoAd> videoAd(const std::string& name) {
        return std::make_shared<RecordingVideoAd>(name, &log);
    }
    static Ref<TRAVideosManager> store() { return TRAVideosManager::sharedInstance(); }
    static std::string finalPath(const std::string& file) { return TRAAdSDKUtils::getDestPathFromFileName(file); }
    static std::string partialPath(const std::string& file) { return finalPath(file) + ".tmp"; }
    static bool exists(const std::string& path) { return NSFileManager::defaultManager()->fileExistsAtPath(path); }
    static std::string contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    // Asks the store for the file under /videos/ and runs until the ad hears.
    bool fetch(const std::string& file, const Ref<RecordingVideoAd>& ad) {
        store()->downloadVideoWithUrl(videos.videoUrl(file), ad);
        return waitFor([&] { return ad->heard(); });
    }

    simulator::TrilliumVideoAds videos{service};
    std::vector<std::string> log;
};
