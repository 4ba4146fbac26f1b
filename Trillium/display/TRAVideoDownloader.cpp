#include "Trillium/display/TRAVideoDownloader.h"

#include <filesystem>

#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRALog.h"
#include "Trillium/TRANetworkData.h"
#include "Trillium/TRATrilliumSDK.h"
#include "Trillium/display/TRAVideosManager.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/media/Mp4Probe.h"
#include "platform/runtime/Log.h"

Ref<TRAVideoDownloader> TRAVideoDownloader::initWithVideoUrl(const std::string& videoUrl,
                                                             const Ref<TRAVideosManagerDelegate>& delegate) {
    connection_ = nullptr;
    bytesTotal_ = -1;
    videoIsLoaded_ = false;
    filename_ = TRAAdSDKUtils::getFileNameFromVideoUrl(videoUrl).value_or("");
    videoUrl_ = videoUrl;
    // The partial file is made when the download starts (downloadVideo), so
    // that every attempt, also a retry, writes a fresh one.
    if (delegate) addExternalAd(delegate);
    return self<TRAVideoDownloader>();
}

void TRAVideoDownloader::encodeWithCoder(NSCoder& coder) const {
    coder.encodeObject(Value(videoUrl_), kVideoUrlKey);
    coder.encodeObject(destPath_ ? Value(*destPath_) : Value(), kDestPathKey);
    coder.encodeObject(Value(filename_), kFilenameKey);
    coder.encodeBool(videoIsLoaded_, kVideoIsLoadedKey);
    coder.encodeBool(downloading_, kDownloadingKey);
}

void TRAVideoDownloader::initWithCoder(const NSCoder& coder) {
    auto text = [&](const char* key) -> std::optional<std::string> {
        Value value = coder.decodeObjectForKey(key);
        return value.isString() ? std::optional(*value.string()) : std::nullopt;
    };
    videoUrl_ = text(kVideoUrlKey).value_or("");
    destPath_ = text(kDestPathKey);
    filename_ = text(kFilenameKey).value_or("");
    videoIsLoaded_ = coder.decodeBoolForKey(kVideoIsLoadedKey);
    // No download outlives its process: a stored "downloading" would make
    // later ads wait on a download that does not exist.
    downloading_ = false;
}

// ---- starting ----

void TRAVideoDownloader::CheckNetworkStatus() {
    Ref<TRAVideoDownloader> keep = self<TRAVideoDownloader>();
    auto store = TRAVideosManager::sharedInstance();
    store->cleanVideos();
    // The clean-up may have forgotten this very video: its ads have then
    // been told, and nothing is downloaded for a table that no longer has it.
    if (!isCurrent()) return;
    if (TRATrilliumSDK::sharedInstance()->getIsShowCaseAppOfflineMode()) return;
    auto reachability = TRANetworkData::sharedInstance()->internetReachability();
    if (!reachability || reachability->currentReachabilityStatus() == TRANotReachable) {
        fail("no network connection");
        return;
    }
    downloadVideo();
}

bool TRAVideoDownloader::checkIfVideoExist() {
    std::string path = TRAAdSDKUtils::getDestPathFromFileName(filename_);
    if (!TRAVideosManager::isFileExistWithPath(path)) return false;
    destPath_ = path;
    return true;
}

void TRAVideoDownloader::downloadVideo() {
    Ref<TRAVideoDownloader> keep = self<TRAVideoDownloader>();
    if (checkIfVideoExist()) {
        cancelDownload();
        finishDownloadVideo();
        return;
    }
    if (connection_) connection_->cancel();
    connection_ = nullptr;
    if (fileHandle_) fileHandle_->closeFile();
    fileHandle_ = newFileWithName(filename_);
    if (!fileHandle_) {
        fail("the partial file cannot be created");
        return;
    }
    bytesTotal_ = -1;
    bytesWritten_ = 0;
    auto request = NSMutableURLRequest::requestWithURL(NSURL::URLWithString(videoUrl_),
                                                       NSURLRequestUseProtocolCachePolicy, kTimeoutInterval);
    // The body goes to the file as it arrives: an announced length is weighed
    // against the free space, a body that fills the disk fails at its write,
    // and none may pass the video cap (announced or not, the load then fails).
    if (request) request->setMaximumResponseLength(kMaximumVideoBytes);
    connection_ = request && request->URL()
                      ? NSObject::alloc<NSURLConnection>()->initWithRequest(*request, keep, true)
                      : nullptr;
    if (!connection_) {
        fail("the connection cannot be made");
        return;
    }
    downloading_ = true;
}

void TRAVideoDownloader::addExternalAd(const Ref<TRAVideosManagerDelegate>& ad) {
    if (ad && !externalAds_.containsObject(ad)) externalAds_.addObject(ad);
}

void TRAVideoDownloader::removeExternalAd(const Ref<TRAVideosManagerDelegate>& ad) { externalAds_.removeObject(ad); }

bool TRAVideoDownloader::checkTargetDirectory(const std::string& filePath) {
    auto files = NSFileManager::defaultManager();
    std::string folder;
    for (const auto& component : std::filesystem::path(filePath).parent_path()) {
        folder = (std::filesystem::path(folder) / component).string();
        bool isDirectory = false;
        if (files->fileExistsAtPath(folder, &isDirectory) && isDirectory) continue;
        if (!files->createDirectoryAtPath(folder, true)) return false;
    }
    return true;
}

Ref<NSFileHandle> TRAVideoDownloader::newFileWithName(const std::string& fileName) {
    if (!checkTargetDirectory(TRAAdSDKUtils::getDestPathFromFileName(fileName))) return nullptr;
    std::string path = tmpPathWithFilename(fileName);
    if (!NSFileManager::defaultManager()->createFileAtPath(path, std::nullopt)) return nullptr;
    return NSFileHandle::fileHandleForWritingAtPath(path);
}

std::string TRAVideoDownloader::tmpPathWithFilename(const std::string& fileName) {
    return NSString::stringWithFormat("%@/%@%@", TRAAdSDKUtils::videoDestinationDirectoryPath(), fileName, tmpSuffix());
}

void TRAVideoDownloader::cancelDownload() {
    downloading_ = false;
    if (connection_) connection_->cancel();
    if (fileHandle_) fileHandle_->closeFile();
    // The partial file belongs to the table's downloader of the name: a
    // forgotten one must not delete a newer download's file.
    if (isCurrent()) TRAVideosManager::removeFile(tmpPathWithFilename(filename_));
    connection_ = nullptr;
    fileHandle_ = nullptr;
}

// ---- the connection ----

Ref<NSURLRequest> TRAVideoDownloader::connectionWillSendRequest(Ref<NSURLConnection> connection,
                                                                Ref<NSURLRequest> request,
                                                                Ref<NSURLResponse> redirectResponse) {
    if (connection != connection_ || !redirectResponse) return request;
    // A video comes from its own URL; a redirect is not followed.
    fail("the server redirected the download");
    return nullptr;
}

void TRAVideoDownloader::connectionDidReceiveResponse(Ref<NSURLConnection> connection, Ref<NSURLResponse> response) {
    if (connection != connection_ || !response) return;
    if (auto http = std::dynamic_pointer_cast<NSHTTPURLResponse>(response)) {
        int64_t status = http->statusCode();
        if (status < 200 || status > 299) {
            fail(NSString::stringWithFormat("the server answered %lld", static_cast<long long>(status)));
            return;
        }
    }
    bytesTotal_ = response->expectedContentLength();
    // An unknown length (-1) cannot be weighed against the free space.
    if (bytesTotal_ < 0) return;
    Value attributes =
        NSFileManager::defaultManager()->attributesOfFileSystemForPath(TRAAdSDKUtils::videoDestinationDirectoryPath());
    uint64_t freeSize = attributes[NSFileSystemFreeSize].unsignedLongLongValue();
    uint64_t toCome = static_cast<uint64_t>(bytesTotal_ - bytesWritten_);
    if (freeSize != 0 && freeSize <= toCome)
        fail(NSString::stringWithFormat("%lld bytes do not fit in %llu free bytes", static_cast<long long>(bytesTotal_),
                                        static_cast<unsigned long long>(freeSize)));
}

void TRAVideoDownloader::connectionDidReceiveData(Ref<NSURLConnection> connection, const NSData& data) {
    if (connection != connection_ || !fileHandle_) return;
    fileHandle_->seekToEndOfFile();
    if (!fileHandle_->writeData(data)) {
        fail("the partial file cannot be written");
        return;
    }
    bytesWritten_ += static_cast<int64_t>(data.length());
    if (bytesTotal_ >= 0 && bytesWritten_ > bytesTotal_) fail("the body is longer than announced");
}

void TRAVideoDownloader::connectionDidFinishLoading(Ref<NSURLConnection> connection) {
    if (connection != connection_) return;
    Ref<TRAVideoDownloader> keep = self<TRAVideoDownloader>();
    if (fileHandle_) fileHandle_->closeFile();
    fileHandle_ = nullptr;
    if (!isCurrent()) {
        abandon();
        return;
    }
    auto files = NSFileManager::defaultManager();
    std::string partial = tmpPathWithFilename(filename_);
    Value attributes = files->attributesOfItemAtPath(partial);
    int64_t onDisk = attributes.isNull() ? -1 : attributes[NSFileSize].longLongValue();
    if (bytesTotal_ >= 0 && bytesWritten_ != bytesTotal_) {
        fail(NSString::stringWithFormat("the body ended after %lld of %lld bytes", static_cast<long long>(bytesWritten_),
                                        static_cast<long long>(bytesTotal_)));
        return;
    }
    if (onDisk != bytesWritten_) {
        fail("the partial file changed during the download");
        return;
    }
    // What arrived must be a video the screen can play: a server may send a
    // page in its place, or less than the whole file under a lower length.
    if (auto why = notAVideo(partial)) {
        refuse("the file is not a playable video (" + *why + ")");
        return;
    }
    TRAVideosManager::sharedInstance()->forgetRefusedVideo(videoUrl_);
    std::string destination = TRAAdSDKUtils::getDestPathFromFileName(filename_);
    destPath_ = destination;
    Ref<NSError> error;
    if (files->moveItemAtPath(partial, destination, &error)) {
        cancelDownload();
        finishDownloadVideo();
        return;
    }
    cancelDownload();
    // The file is already there (a download of the same name finished first).
    if (error && error->code() == NSFileWriteFileExistsError) {
        finishDownloadVideo();
        return;
    }
    fail(NSString::stringWithFormat("the file cannot be moved into place (%@)",
                                    error ? error->localizedDescription() : std::string("unknown error")));
}

void TRAVideoDownloader::connectionDidFailWithError(Ref<NSURLConnection> connection, Ref<NSError> error) {
    if (connection != connection_) return;
    std::string reason = NSString::stringWithFormat(
        "the transfer failed (%@)", error ? error->localizedDescription() : std::string("unknown error"));
    // Over the cap: the same URL would bring the same size again.
    if (error && error->domain() == NSURLErrorDomain && error->code() == NSURLErrorDataLengthExceedsMaximum)
        refuse(reason);
    else
        fail(reason);
}

std::optional<std::string> TRAVideoDownloader::notAVideo(const std::string& path) {
    std::string why;
    auto info = platform::Mp4Probe::probeFile(path, &why);
    if (!info) return why.empty() ? std::string("unreadable") : why;
    if (info->durationIndefinite || info->duration == 0) return std::string("no duration");
    for (const auto& track : info->tracks)
        if (track.handlerType == "vide") return std::nullopt;
    return std::string("no video track");
}

// ---- outcomes ----

void TRAVideoDownloader::fail(const std::string& reason) {
    TRALog::errorf("Video download of %@ failed: %@.", platform::urlForLog(videoUrl_), reason);
    failedDownloadVideo();
}

void TRAVideoDownloader::refuse(const std::string& reason) {
    TRALog::errorf("Video download of %@ failed: %@.", platform::urlForLog(videoUrl_), reason);
    // Kept before the ads hear, so that an ad asking again at once is refused too.
    TRAVideosManager::sharedInstance()->rememberRefusedVideo(videoUrl_, reason);
    failedDownloadVideo();
}

void TRAVideoDownloader::failedDownloadVideo() {
    Ref<TRAVideoDownloader> keep = self<TRAVideoDownloader>();
    // The store's removal abandons this downloader, which tells the ads.
    if (isCurrent()) TRAVideosManager::sharedInstance()->removeVideo(filename_);
    else abandon();
}

void TRAVideoDownloader::finishDownloadVideo() {
    Ref<TRAVideoDownloader> keep = self<TRAVideoDownloader>();
    videoIsLoaded_ = true;
    // Saved at once, so that a restart finds the video loaded.
    if (isCurrent()) TRAVideosManager::sharedInstance()->saveVideosDBToLocalData();
    tellWaitingAds(true);
}

void TRAVideoDownloader::abandon() {
    Ref<TRAVideoDownloader> keep = self<TRAVideoDownloader>();
    downloading_ = false;
    if (connection_) connection_->cancel();
    if (fileHandle_) fileHandle_->closeFile();
    connection_ = nullptr;
    fileHandle_ = nullptr;
    tellWaitingAds(false);
}

void TRAVideoDownloader::tellWaitingAds(bool loaded) {
    std::vector<Ref<TRAVideosManagerDelegate>> ads = externalAds_.allObjects();
    externalAds_.removeAllObjects();
    for (auto it = ads.rbegin(); it != ads.rend(); ++it) {
        if (loaded) (*it)->didFinishDownloadVideoWithPath(destPath_.value_or(""));
        else (*it)->didFailDownloadVideo();
    }
}

bool TRAVideoDownloader::isCurrent() const {
    return TRAVideosManager::sharedInstance()->downloaderForFileName(filename_).get() == this;
}
