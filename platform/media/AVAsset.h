// Media assets probed from their MP4 header: duration at the file's
// timescale, tracks by media type with their picture size, and the
// asynchronous key loading players and controllers wait on. Only local
// ISO-BMFF files open; anything else fails with AVFoundationErrorDomain
// -11828 "Cannot Open".
#pragma once

#include <map>
#include <set>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSURL.h"
#include "platform/media/CMTime.h"
#include "platform/runtime/NSObject.h"
#include "platform/ui/CGGeometry.h"

namespace platform {

inline constexpr const char* AVMediaTypeVideo = "vide";
inline constexpr const char* AVMediaTypeAudio = "soun";
inline constexpr int64_t AVErrorUnknown = -11800;
inline constexpr int64_t AVErrorFileFormatNotRecognized = -11828;

enum AVKeyValueStatus : int64_t {
    AVKeyValueStatusUnknown = 0,
    AVKeyValueStatusLoading = 1,
    AVKeyValueStatusLoaded = 2,
    AVKeyValueStatusFailed = 3,
};

class AVAssetTrack : public NSObject {
public:
    AVAssetTrack(int32_t trackID, std::string mediaType, CGSize naturalSize)
        : trackID_(trackID), mediaType_(std::move(mediaType)), naturalSize_(naturalSize) {}

    int32_t trackID() const { return trackID_; }
    const std::string& mediaType() const { return mediaType_; }
    CGSize naturalSize() const { return naturalSize_; }

private:
    const int32_t trackID_;
    const std::string mediaType_;
    const CGSize naturalSize_;
};

class AVAsset : public NSObject {
public:
    // An AVURLAsset; null for a null URL.
    static Ref<AVAsset> assetWithURL(const Ref<NSURL>& url);

    Ref<NSURL> URL() const { return url_; }

    // Probed synchronously when asked before loading. Invalid when the file
    // does not open.
    CMTime duration();
    std::vector<Ref<AVAssetTrack>> tracks();
    std::vector<Ref<AVAssetTrack>> tracksWithMediaType(const std::string& mediaType);
    bool isPlayable();

    // Probes on a global queue; `completion` runs exactly once, on that
    // worker, when every key has its status. Keys: "tracks", "duration",
    // "playable"; any other key fails.
    void loadValuesAsynchronouslyForKeys(const std::vector<std::string>& keys, Block completion);
    // Unknown until probed (Loading while a load runs), then Loaded or Failed;
    // `error` (optional) receives the failure.
    AVKeyValueStatus statusOfValueForKey(const std::string& key, Ref<NSError>* error);

    // What the probe found (thread-safe; probes once).
    struct Probe {
        Ref<NSError> error;  // set when the file did not open
        CMTime duration = kCMTimeInvalid;
        std::vector<Ref<AVAssetTrack>> tracks;
        bool hasVideo() const;
        CGSize naturalVideoSize() const;  // of the first video track; zero without one
    };
    const Probe& probe();

protected:
    void setURL(Ref<NSURL> url) { url_ = std::move(url); }

private:
    void probeFile();  // fills probe_ (under probeMutex_)

    Ref<NSURL> url_;
    std::mutex probeMutex_;
    std::mutex mutex_;   // probed_, loading_, failedKeys_
    bool probed_ = false;
    Probe probe_;        // written once, before probed_ is set
    std::map<std::string, int> loading_;  // keys with a load in flight (count)
    std::set<std::string> failedKeys_;   // unsupported keys asked for
};

class AVURLAsset : public AVAsset {
public:
    // Null for a null URL. `options` are accepted and not used.
    static Ref<AVURLAsset> URLAssetWithURL(const Ref<NSURL>& url, const Value& options = Value());
    Ref<AVURLAsset> initWithURL(const Ref<NSURL>& url, const Value& options = Value());
};

namespace testing {

// Holds every asynchronous key load (its probe and completion) from hold()
// until release(), so that a test can act while a player or controller is
// still loading. Nothing blocks meanwhile: held loads wait in a list.
class AssetLoads {
public:
    static void hold();
    // Lets the held loads go on, in the order they came, and later ones pass.
    static void release();
    static size_t heldCount();
};

}  // namespace testing

}  // namespace platform

using platform::AVAsset;
using platform::AVAssetTrack;
using platform::AVKeyValueStatus;
using platform::AVKeyValueStatusFailed;
using platform::AVKeyValueStatusLoaded;
using platform::AVKeyValueStatusLoading;
using platform::AVKeyValueStatusUnknown;
using platform::AVMediaTypeAudio;
using platform::AVMediaTypeVideo;
using platform::AVURLAsset;
