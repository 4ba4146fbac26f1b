// The download of one video file of the video store: the connection, the
// partial file "<name>.mp4.tmp" it writes, and the ads waiting for the file
// (held weakly, told last added first). The final file appears only by
// moving a partial file whose length is the announced one and which the MP4
// probe reads as a video (a picture track and a finite, positive duration);
// a status outside 2xx, a redirect, a transport error, a short or overlong
// body, a body over kMaximumVideoBytes, a failed write, a partial file
// changed underneath or bytes that are no video fail the download and leave
// no final file. A downloader that is no longer its store's entry (forgotten by
// a clean-up) touches neither the table nor the files again. Archived in the
// store's table ("TRAVideosDb"); one read back is never downloading. Main
// thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Trillium/TRAVideosManagerDelegate.h"
#include "Trillium/NSMutableArrayWeakReferences.h"
#include "platform/foundation/NSCoder.h"
#include "platform/foundation/NSFileHandle.h"
#include "platform/net/NSURLConnection.h"

class TRAVideoDownloader : public NSObject, public NSCoding, public NSURLConnectionDataDelegate {
public:
    static constexpr const char* kVideoUrlKey = "TRAVIDEOSMANAGERVideoUrl";
    static constexpr const char* kDestPathKey = "TRAVIDEOSMANAGERDestPath";
    static constexpr const char* kFilenameKey = "TRAVIDEOSMANAGERFilename";
    static constexpr const char* kVideoIsLoadedKey = "TRAVIDEOSMANAGERVideoIsLoaded";
    static constexpr const char* kDownloadingKey = "TRAVIDEOSMANAGERDownloading";
    // Idle time-out of the download, in seconds.
    static constexpr double kTimeoutInterval = 100.0;
    // The largest video accepted, announced or received.
    static constexpr int64_t kMaximumVideoBytes = int64_t{50} << 20;

    // A downloader for the URL, its file named after it, with `delegate` as
    // its first waiting ad. Nothing is written yet.
    Ref<TRAVideoDownloader> initWithVideoUrl(const std::string& videoUrl,
                                             const Ref<TRAVideosManagerDelegate>& delegate);

    void encodeWithCoder(NSCoder& coder) const override;
    void initWithCoder(const NSCoder& coder) override;

    // The store's clean-up first; then, unless the showcase runs offline,
    // the download, or a failure without a network.
    void CheckNetworkStatus();
    // Whether the final file exists (destPath is then set to it).
    bool checkIfVideoExist();
    // Reports a final file that is already there; otherwise creates the
    // partial file and starts the connection (failing when either cannot be
    // made).
    void downloadVideo();
    void addExternalAd(const Ref<TRAVideosManagerDelegate>& ad);
    void removeExternalAd(const Ref<TRAVideosManagerDelegate>& ad);
    // Makes the folder chain of the file's path; false at the first folder
    // that cannot be made.
    static bool checkTargetDirectory(const std::string& filePath);
    // Creates (or empties) the partial file of the name and opens it for
    // writing; null when that fails.
    Ref<NSFileHandle> newFileWithName(const std::string& fileName);
    static std::string tmpPathWithFilename(const std::string& fileName);
    static const char* tmpSuffix() { return ".tmp"; }
    // Ends the connection and the file handle and deletes the partial file.
    void cancelDownload();

    Ref<NSURLRequest> connectionWillSendRequest(Ref<NSURLConnection> connection, Ref<NSURLRequest> request,
                                                Ref<NSURLResponse> redirectResponse) override;
    void connectionDidReceiveResponse(Ref<NSURLConnection> connection, Ref<NSURLResponse> response) override;
    void connectionDidReceiveData(Ref<NSURLConnection> connection, const NSData& data) override;
    void connectionDidFinishLoading(Ref<NSURLConnection> connection) override;
    void connectionDidFailWithError(Ref<NSURLConnection> connection, Ref<NSError> error) override;

    // The store forgets the video (entry and files), then the waiting ads
    // hear didFailDownloadVideo, last added first.
    void failedDownloadVideo();
    // The file is loaded: the table is saved, then the waiting ads hear the
    // path, last added first.
    void finishDownloadVideo();
    // The store forgot this downloader: its connection and file handle end
    // and its waiting ads hear that it failed. The files are left alone.
    void abandon();

    bool videoIsLoaded() const { return videoIsLoaded_; }
    void setVideoIsLoaded(bool loaded) { videoIsLoaded_ = loaded; }
    bool downloading() const { return downloading_; }
    const std::optional<std::string>& destPath() const { return destPath_; }
    void setDestPath(std::optional<std::string> path) { destPath_ = std::move(path); }
    const std::string& videoUrl() const { return videoUrl_; }
    // The URL the next download fetches (another URL of the same file name).
    void setVideoUrl(std::string videoUrl) { videoUrl_ = std::move(videoUrl); }
    const std::string& filename() const { return filename_; }
    // Bytes announced by the answer; -1 when unknown or before it.
    int64_t bytesTotal() const { return bytesTotal_; }
    size_t waitingAdCount() { return externalAds_.count(); }

private:
    // Whether the store's table still holds this downloader under its name.
    bool isCurrent() const;
    // Fails the download with a log line saying why.
    void fail(const std::string& reason);
    // Fails it, and the store fails asks of its URL (any query) at once for a while.
    void refuse(const std::string& reason);
    // Why the finished partial file is no playable video; nullopt when it is one.
    static std::optional<std::string> notAVideo(const std::string& path);
    // Tells the waiting ads, last added first, and empties the list.
    void tellWaitingAds(bool loaded);

    Ref<NSURLConnection> connection_;
    Ref<NSFileHandle> fileHandle_;
    int64_t bytesTotal_ = -1;
    int64_t bytesWritten_ = 0;
    bool videoIsLoaded_ = false;
    bool downloading_ = false;
    WeakReferenceArray<TRAVideosManagerDelegate> externalAds_ =
        WeakReferences::mutableArrayUsingWeakReferences<TRAVideosManagerDelegate>();
    std::optional<std::string> destPath_;
    std::string videoUrl_;
    std::string filename_;
};
