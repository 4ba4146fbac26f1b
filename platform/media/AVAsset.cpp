#include "platform/media/AVAsset.h"

#include "platform/media/Mp4Probe.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/Log.h"

namespace platform {

namespace {

bool isSupportedKey(const std::string& key) { return key == "tracks" || key == "duration" || key == "playable"; }

Ref<NSError> cannotOpen() {
    return NSError::errorWithDomain(AVFoundationErrorDomain, AVErrorFileFormatNotRecognized,
                                    Value::dictionary({{NSLocalizedDescriptionKey, "Cannot Open"}}));
}

}  // namespace

bool AVAsset::Probe::hasVideo() const {
    for (const auto& t : tracks)
        if (t->mediaType() == AVMediaTypeVideo) return true;
    return false;
}

CGSize AVAsset::Probe::naturalVideoSize() const {
    for (const auto& t : tracks)
        if (t->mediaType() == AVMediaTypeVideo) return t->naturalSize();
    return CGSizeZero;
}

Ref<AVAsset> AVAsset::assetWithURL(const Ref<NSURL>& url) { return AVURLAsset::URLAssetWithURL(url); }

Ref<AVURLAsset> AVURLAsset::URLAssetWithURL(const Ref<NSURL>& url, const Value& options) {
    if (!url) return nullptr;
    return alloc<AVURLAsset>()->initWithURL(url, options);
}

Ref<AVURLAsset> AVURLAsset::initWithURL(const Ref<NSURL>& url, const Value&) {
    if (!url) return nullptr;
    setURL(url);
    return self<AVURLAsset>();
}

const AVAsset::Probe& AVAsset::probe() {
    // One probe at a time; the state lock is not held across the file reads.
    std::lock_guard probing(probeMutex_);
    {
        std::lock_guard lock(mutex_);
        if (probed_) return probe_;
    }
    probeFile();
    std::lock_guard lock(mutex_);
    probed_ = true;
    return probe_;
}

void AVAsset::probeFile() {
    std::string why;
    std::optional<Mp4Info> info;
    if (!url_ || !url_->isFileURL()) {
        why = "not a file URL";
    } else if (url_->path().empty()) {
        why = "no file path";
    } else {
        info = Mp4Probe::probeFile(url_->path(), &why);
    }
    if (!info) {
        log(LogLevel::Warning,
            "AVAsset: cannot open " + (url_ ? urlForLog(url_->absoluteString()) : std::string("(null)")) + ": " + why);
        probe_.error = cannotOpen();
        return;
    }
    probe_.duration = info->durationIndefinite
                          ? kCMTimeIndefinite
                          : CMTimeMake(static_cast<int64_t>(info->duration), static_cast<int32_t>(info->timescale));
    for (const Mp4Track& t : info->tracks) {
        CGSize size = CGSizeMake(static_cast<CGFloat>(t.width), static_cast<CGFloat>(t.height));
        // Track ids are 32-bit unsigned in the file and signed in the model.
        probe_.tracks.push_back(std::make_shared<AVAssetTrack>(static_cast<int32_t>(t.trackID), t.handlerType, size));
    }
}

CMTime AVAsset::duration() { return probe().duration; }

std::vector<Ref<AVAssetTrack>> AVAsset::tracks() { return probe().tracks; }

std::vector<Ref<AVAssetTrack>> AVAsset::tracksWithMediaType(const std::string& mediaType) {
    std::vector<Ref<AVAssetTrack>> out;
    for (const auto& t : probe().tracks)
        if (t->mediaType() == mediaType) out.push_back(t);
    return out;
}

bool AVAsset::isPlayable() { return !probe().error; }

namespace {

struct HeldLoads {
    std::mutex mutex;  // guards the fields below
    bool holding = false;
    std::vector<Block> loads;
};

HeldLoads& heldLoads() {
    static HeldLoads* held = new HeldLoads;  // never destroyed: workers may outlive exit
    return *held;
}

void dispatchLoad(Block load) {
    {
        HeldLoads& held = heldLoads();
        std::lock_guard lock(held.mutex);
        if (held.holding) {
            held.loads.push_back(std::move(load));
            return;
        }
    }
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0), std::move(load));
}

}  // namespace

void testing::AssetLoads::hold() {
    std::lock_guard lock(heldLoads().mutex);
    heldLoads().holding = true;
}

void testing::AssetLoads::release() {
    std::vector<Block> loads;
    {
        std::lock_guard lock(heldLoads().mutex);
        heldLoads().holding = false;
        loads.swap(heldLoads().loads);
    }
    for (Block& load : loads) dispatchLoad(std::move(load));
}

size_t testing::AssetLoads::heldCount() {
    std::lock_guard lock(heldLoads().mutex);
    return heldLoads().loads.size();
}

void AVAsset::loadValuesAsynchronouslyForKeys(const std::vector<std::string>& keys, Block completion) {
    {
        std::lock_guard lock(mutex_);
        for (const auto& key : keys) {
            if (isSupportedKey(key)) ++loading_[key];
            else failedKeys_.insert(key);
        }
    }
    auto self = this->self<AVAsset>();
    dispatchLoad([self, keys, completion] {
        self->probe();
        {
            std::lock_guard lock(self->mutex_);
            for (const auto& key : keys) {
                auto it = self->loading_.find(key);
                if (it != self->loading_.end() && --it->second == 0) self->loading_.erase(it);
            }
        }
        if (completion) completion();
    });
}

AVKeyValueStatus AVAsset::statusOfValueForKey(const std::string& key, Ref<NSError>* error) {
    std::lock_guard lock(mutex_);
    if (!isSupportedKey(key)) {
        if (!failedKeys_.count(key)) return AVKeyValueStatusUnknown;
        if (error) *error = NSError::errorWithDomain(AVFoundationErrorDomain, AVErrorUnknown);
        return AVKeyValueStatusFailed;
    }
    if (!probed_) return loading_.count(key) ? AVKeyValueStatusLoading : AVKeyValueStatusUnknown;
    if (probe_.error) {
        if (error) *error = probe_.error;
        return AVKeyValueStatusFailed;
    }
    return AVKeyValueStatusLoaded;
}

}  // namespace platform
