#include "Trillium/display/TRAVideosManager.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>

#include "Trillium/TRAAdCache.h"
#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRALog.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/TRAVisualCache.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/runtime/Clock.h"

Ref<TRAVideosManager> TRAVideosManager::sharedInstance() {
    // Never destroyed: other threads may use it during exit.
    static Ref<TRAVideosManager>& shared = *new Ref<TRAVideosManager>(NSObject::alloc<TRAVideosManager>()->init());
    return shared;
}

Ref<TRAVideosManager> TRAVideosManager::init() {
    loadTable();
    return self<TRAVideosManager>();
}

void TRAVideosManager::loadTable() {
    Value stored = NSUserDefaults::standardUserDefaults()->objectForKey(kVideosDbKey);
    Value table = stored.isData() ? NSKeyedUnarchiver::unarchiveObjectWithData(*stored.data()) : Value();
    if (!stored.isNull() && !table.isDictionary())
        TRALog::error("Stored video table cannot be read; it starts empty.");
    bool changed = false;
    std::string folder = TRAAdSDKUtils::videoDestinationDirectoryPath();
    for (const std::string& name : table.keys()) {
        auto downloader = table[name].object<TRAVideoDownloader>();
        if (!downloader || downloader->filename() != name) {
            changed = true;
            continue;
        }
        // Loaded exactly when its final file is there: a process killed
        // between the move and the save left a finished file unsaved.
        std::string destination = TRAAdSDKUtils::getDestPathFromFileName(name);
        bool present = isFileExistWithPath(destination);
        if (present != downloader->videoIsLoaded()) changed = true;
        downloader->setVideoIsLoaded(present);
        if (present) downloader->setDestPath(destination);
        videosDb_.set(name, Value(downloader));
    }
    // No download runs before this store exists: every partial file is a
    // killed process's leftover, never to be resumed.
    auto files = NSFileManager::defaultManager();
    for (const std::string& entry : files->contentsOfDirectoryAtPath(folder)) {
        if (NSString::hasSuffix(entry, TRAVideoDownloader::tmpSuffix())) removeFile(folder + "/" + entry);
    }
    if (changed) writeTable();
}

void TRAVideosManager::downloadVideoWithUrl(const std::string& videoUrl, const Ref<TRAVideosManagerDelegate>& delegate) {
    Ref<TRAVideosManager> keep = self<TRAVideosManager>();
    if (!TRAAdSDKUtils::isEnougthMemoryForVideo()) {
        TRALog::error("Not enough free space for videos; the video ad fails.");
        if (delegate) delegate->didFailDownloadVideo();
        return;
    }
    // Only the network is a source of videos: a server's "file:" or "data:"
    // URL must not copy the device's own files into the store.
    if (!TRAAdSDKUtils::isHttpUrl(videoUrl)) {
        TRALog::errorf("Video URL \"%@\" is not an http or https URL; the video ad fails.", videoUrl.substr(0, 256));
        if (delegate) delegate->didFailDownloadVideo();
        return;
    }
    std::optional<std::string> fileName = TRAAdSDKUtils::getFileNameFromVideoUrl(videoUrl);
    if (!fileName) {
        TRALog::errorf("Video URL \"%@\" names no file; the video ad fails.", videoUrl);
        if (delegate) delegate->didFailDownloadVideo();
        return;
    }
    Ref<TRAVideoDownloader> entry = downloaderForFileName(*fileName);
    std::string destination = TRAAdSDKUtils::getDestPathFromFileName(*fileName);
    if (entry && entry->videoIsLoaded() && isFileExistWithPath(destination)) {
        entry->setDestPath(destination);
        if (delegate) delegate->didFinishDownloadVideoWithPath(destination);
        return;
    }
    // A signed twin of a refused URL would only fetch the same refusal; the
    // refusal lapses, so that one bad answer costs nothing lasting.
    if (auto refused = refusals_.find(refusalKey(videoUrl)); refused != refusals_.end()) {
        double now = platform::Clock::current()->uptime();
        if (now < refused->second.until) {
            TRALog::errorf("Video download of %@ is not tried: %@ was refused %lld s ago (%@) and is fetched again "
                           "only after %lld s more; the video ad fails.",
                           videoUrl, refused->first,
                           static_cast<long long>(now - (refused->second.until - refused->second.seconds)),
                           refused->second.reason, static_cast<long long>(std::ceil(refused->second.until - now)));
            if (delegate) delegate->didFailDownloadVideo();
            return;
        }
        TRALog::infof("The refusal of video URL %@ has lapsed; it is tried again.", refused->first);
    }
    if (!entry) {
        auto downloader = NSObject::alloc<TRAVideoDownloader>()->initWithVideoUrl(videoUrl, delegate);
        videosDb_.set(*fileName, Value(downloader));
        saveVideosDBToLocalData();
        downloader->CheckNetworkStatus();
        return;
    }
    // Not loaded, or loaded but the file has gone: wait for a download. URLs
    // of one name share the entry, so a running download serves this ad
    // whatever URL it fetches; without one, this ad's URL is fetched, since
    // the entry's own (an earlier launch's, say) may be signed for a server
    // that has gone.
    entry->addExternalAd(delegate);
    if (entry->downloading()) return;
    if (entry->videoUrl() != videoUrl) {
        TRALog::infof("Video %@ is not there; it is fetched from the URL the ad names.", *fileName);
        entry->setVideoUrl(videoUrl);
        saveVideosDBToLocalData();
    }
    entry->CheckNetworkStatus();
}

void TRAVideosManager::rememberRefusedVideo(const std::string& videoUrl, const std::string& reason) {
    std::string key = refusalKey(videoUrl);
    double now = platform::Clock::current()->uptime();
    auto known = refusals_.find(key);
    if (known == refusals_.end() && refusals_.size() >= kMaximumRefusals) {
        auto first = refusals_.begin();
        for (auto it = refusals_.begin(); it != refusals_.end(); ++it)
            if (it->second.until < first->second.until) first = it;
        refusals_.erase(first);
    }
    Refusal& refusal = refusals_[key];
    refusal.seconds = known == refusals_.end() ? kFirstRefusalSeconds
                                               : std::min(refusal.seconds * 2, kLongestRefusalSeconds);
    refusal.until = now + refusal.seconds;
    refusal.reason = reason;
    TRALog::infof("Video URL %@ is refused for %lld s: asks of it, whatever their query, fail without a request "
                  "until then.",
                  key, static_cast<long long>(refusal.seconds));
}

void TRAVideosManager::forgetRefusedVideo(const std::string& videoUrl) { refusals_.erase(refusalKey(videoUrl)); }

std::string TRAVideosManager::refusalKey(const std::string& videoUrl) {
    std::string key = videoUrl.substr(0, videoUrl.find_first_of("?#"));
    // Scheme and host are read without regard to case; the path is not.
    size_t authority = key.find("://");
    size_t path = authority == std::string::npos ? 0 : key.find('/', authority + 3);
    if (path == std::string::npos) path = key.size();
    std::transform(key.begin(), key.begin() + static_cast<std::ptrdiff_t>(path), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return key;
}

std::optional<std::string> TRAVideosManager::destPathFromVideoUrl(const std::string& videoUrl) const {
    auto fileName = TRAAdSDKUtils::getFileNameFromVideoUrl(videoUrl);
    if (!fileName) return std::nullopt;
    return TRAAdSDKUtils::getDestPathFromFileName(*fileName);
}

void TRAVideosManager::removeVideo(const std::string& fileName) {
    Ref<TRAVideoDownloader> entry = downloaderForFileName(fileName);
    videosDb_.remove(fileName);
    saveVideosDBToLocalData();
    std::string path = TRAAdSDKUtils::getDestPathFromFileName(fileName);
    removeFile(path);
    removeFile(NSString::stringWithFormat("%@.tmp", path));
    // A download of a forgotten video has nothing left to write to.
    if (entry) entry->abandon();
}

void TRAVideosManager::removeFile(const std::string& path) {
    NSFileManager::defaultManager()->removeItemAtPath(path, nullptr);
}

void TRAVideosManager::cleanVideos() {
    Ref<TRAVideosManager> keep = self<TRAVideosManager>();
    // The file names of the videos that cached ads still carry.
    std::set<std::string> cached;
    for (const auto& [key, loader] : TRAAdCache::sharedInstance()->getCacheDb()) {
        auto ad = loader ? loader->internalAd() : nullptr;
        auto preferences = ad ? ad->videoPref() : nullptr;
        auto url = preferences ? preferences->videoUrl() : std::nullopt;
        if (auto name = url ? TRAAdSDKUtils::getFileNameFromVideoUrl(*url) : std::nullopt) cached.insert(*name);
    }
    int64_t maximum = TRAMetadata::sharedMetadata()->getMaxCachedVideos();
    for (const std::string& name : videosDb_.keys()) {
        if (static_cast<int64_t>(videosDb_.count()) <= maximum) return;
        if (cached.count(name) || name == nowPlayingVideoFileName_) continue;
        removeVideo(name);
    }
    saveVideosDBToLocalData();
}

void TRAVideosManager::saveVideosDBToLocalData() {
    if (auto overlay = TRAAdCache::sharedInstance()->visualCache()) overlay->setCacheVideos();
    writeTable();
}

void TRAVideosManager::writeTable() {
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setObject(Value(NSKeyedArchiver::archivedDataWithRootObject(videosDb_)), kVideosDbKey);
    defaults->synchronize();
}

bool TRAVideosManager::isFileExistWithPath(const std::string& path) {
    return NSFileManager::defaultManager()->fileExistsAtPath(path);
}

Value TRAVideosManager::getVideosDBCopy() { return videosDb_; }

Ref<TRAVideoDownloader> TRAVideosManager::downloaderForFileName(const std::string& fileName) const {
    return videosDb_[fileName].object<TRAVideoDownloader>();
}
