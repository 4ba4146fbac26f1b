#include "Trillium/display/TRAVideosManager.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

#include "Trillium/TRAAdCache.h"
#include "Trillium/TRAAdSDKUtils.h"
#include "Trillium/TRALog.h"
#include "Trillium/TRAMetadata.h"
#include "Trillium/TRAVisualCache.h"
#include "platform/foundation/Digest.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/Log.h"

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
    const bool read = NSUserDefaults::standardUserDefaults()->isStoreRead();
    unreadChanges_.loaded(read);
    if (!read) TRALog::info("The stored video table cannot be read now; it is read again at each use and not saved over.");
    bool changed = false;
    videosDb_ = Value(storedTable(changed));
    // No download runs before this store exists: every partial file is a
    // killed process's leftover, never to be resumed.
    std::string folder = TRAAdSDKUtils::videoDestinationDirectoryPath();
    auto files = NSFileManager::defaultManager();
    for (const std::string& entry : files->contentsOfDirectoryAtPath(folder)) {
        if (NSString::hasSuffix(entry, TRAVideoDownloader::tmpSuffix())) removeFile(folder + "/" + entry);
    }
    if (changed) writeTable();
}

ValueDictionary TRAVideosManager::storedTable(bool& changed) {
    Value stored = NSUserDefaults::standardUserDefaults()->objectForKey(kVideosDbKey);
    Value table = stored.isData() ? NSKeyedUnarchiver::unarchiveObjectWithData(*stored.data()) : Value();
    if (!stored.isNull() && !table.isDictionary())
        TRALog::error("Stored video table cannot be read; it starts empty.");
    ValueDictionary entries;
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
        entries.set(name, Value(downloader));
    }
    return entries;
}

void TRAVideosManager::readTableIfUnread() {
    if (!unreadChanges_.isUnread()) return;
    ValueDictionary held = *videosDb_.dictionary();
    bool changed = false;
    if (!unreadChanges_.readIfUnread(held, [&changed] { return storedTable(changed); })) return;
    videosDb_ = Value(std::move(held));
    TRALog::info("The stored video table can be read again; the videos known meanwhile are laid over it.");
    writeTable();
}

void TRAVideosManager::downloadVideoWithUrl(const std::string& videoUrl, const Ref<TRAVideosManagerDelegate>& delegate) {
    Ref<TRAVideosManager> keep = self<TRAVideosManager>();
    readTableIfUnread();
    if (!TRAAdSDKUtils::isEnougthMemoryForVideo()) {
        TRALog::error("Not enough free space for videos; the video ad fails.");
        if (delegate) delegate->didFailDownloadVideo();
        return;
    }
    // Only the network is a source of videos: a server's "file:" or "data:"
    // URL must not copy the device's own files into the store.
    if (!TRAAdSDKUtils::isHttpUrl(videoUrl)) {
        TRALog::errorf("Video URL \"%@\" is not an http or https URL; the video ad fails.",
                       platform::urlForLog(videoUrl));
        if (delegate) delegate->didFailDownloadVideo();
        return;
    }
    std::optional<std::string> fileName = TRAAdSDKUtils::getFileNameFromVideoUrl(videoUrl);
    if (!fileName) {
        TRALog::errorf("Video URL \"%@\" names no file; the video ad fails.", platform::urlForLog(videoUrl));
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
    // URLs of one name share the entry, so a running download serves this ad
    // whatever URL it fetches, a refused one too: that costs no request.
    if (entry && entry->downloading()) {
        entry->addExternalAd(delegate);
        return;
    }
    // A twin of a refused URL (signed anew, spelled otherwise) would only
    // fetch the same refusal; the refusal lapses, so that one bad answer
    // costs nothing lasting.
    std::string refused = refusalUrl(videoUrl);
    if (auto known = refusals_.find(refusalKey(refused)); known != refusals_.end()) {
        const Refusal& refusal = known->second;
        double now = platform::Clock::current()->uptime();
        if (now < refusal.until) {
            TRALog::errorf("Video download of %@ is not tried: %@ was refused %lld s ago (%@) and is fetched again "
                           "only after %lld s more; the video ad fails.",
                           platform::urlForLog(videoUrl), platform::urlForLog(refused),
                           static_cast<long long>(now - (refusal.until - refusal.seconds)), refusal.reason,
                           static_cast<long long>(std::ceil(refusal.until - now)));
            if (delegate) delegate->didFailDownloadVideo();
            return;
        }
        TRALog::infof("The refusal of video URL %@ has lapsed; it is tried again.", platform::urlForLog(refused));
    }
    if (!entry) {
        auto downloader = NSObject::alloc<TRAVideoDownloader>()->initWithVideoUrl(videoUrl, delegate);
        videosDb_.set(*fileName, Value(downloader));
        saveVideosDBToLocalData();
        downloader->CheckNetworkStatus();
        return;
    }
    // Not loaded, or loaded but the file has gone: this ad's URL is fetched,
    // since the entry's own (an earlier launch's, say) may be signed for a
    // server that has gone.
    entry->addExternalAd(delegate);
    if (entry->videoUrl() != videoUrl) {
        TRALog::infof("Video %@ is not there; it is fetched from the URL the ad names.",
                      platform::shortenedForLog(*fileName));
        entry->setVideoUrl(videoUrl);
        saveVideosDBToLocalData();
    }
    entry->CheckNetworkStatus();
}

void TRAVideosManager::rememberRefusedVideo(const std::string& videoUrl, const std::string& reason) {
    std::string refused = refusalUrl(videoUrl);
    RefusalKey key = refusalKey(refused);
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
    refusal.reason = platform::shortenedForLog(reason, kRefusalReasonBytes);
    refusal.reason.shrink_to_fit();  // built by appending: its spare room would pass the entry's charge
    TRALog::infof("Video URL %@ is refused for %lld s: asks of it, whatever their query, fail without a request "
                  "until then.",
                  platform::urlForLog(refused), static_cast<long long>(refusal.seconds));
}

void TRAVideosManager::forgetRefusedVideo(const std::string& videoUrl) {
    refusals_.erase(refusalKey(refusalUrl(videoUrl)));
}

std::string TRAVideosManager::refusalUrl(const std::string& videoUrl) {
    std::string_view text = std::string_view(videoUrl).substr(0, videoUrl.find_first_of("?#"));
    const auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    const auto hexValue = [&](char c) {
        c = lower(c);
        return isDigit(c) ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    // Escapes of unreserved characters decoded, the others' hex digits in
    // upper case; with `foldCase`, letters in lower case (outside escapes).
    const auto normalizeEscapes = [&](std::string_view part, bool foldCase) {
        static constexpr char kHex[] = "0123456789ABCDEF";
        std::string out;
        out.reserve(part.size());
        for (size_t i = 0; i < part.size(); ++i) {
            if (!foldCase && part[i] != '%') {
                // The text up to the next escape, whole.
                size_t next = std::min(part.find('%', i), part.size());
                out.append(part.substr(i, next - i));
                i = next - 1;
                continue;
            }
            int high = part[i] == '%' && i + 2 < part.size() ? hexValue(part[i + 1]) : -1;
            int low = high >= 0 ? hexValue(part[i + 2]) : -1;
            if (low < 0) {
                out += foldCase ? lower(part[i]) : part[i];
                continue;
            }
            char c = static_cast<char>(high * 16 + low);
            bool unreserved = isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
            if (unreserved) {
                out += foldCase ? lower(c) : c;
            } else {
                out += '%';
                out += kHex[high];
                out += kHex[low];
            }
            i += 2;
        }
        return out;
    };

    // A scheme is a letter, then letters, digits, "+", "-" or ".".
    size_t schemeEnd = 0;
    while (schemeEnd < text.size()) {
        char c = text[schemeEnd];
        if (!isAlpha(c) && (schemeEnd == 0 || (!isDigit(c) && c != '+' && c != '-' && c != '.'))) break;
        ++schemeEnd;
    }
    if (schemeEnd == 0 || text.substr(schemeEnd, 3) != "://") return normalizeEscapes(text, false);
    std::string scheme = normalizeEscapes(text.substr(0, schemeEnd), true);
    std::string key = scheme + "://";
    text.remove_prefix(schemeEnd + 3);
    std::string_view authority = text.substr(0, text.find('/'));
    std::string_view path = text.substr(authority.size());
    if (size_t at = authority.rfind('@'); at != std::string_view::npos) {
        key += normalizeEscapes(authority.substr(0, at + 1), false);
        authority.remove_prefix(at + 1);
    }
    // The port follows the last ":" outside an IPv6 literal's brackets.
    size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos && authority.find(']', colon) != std::string_view::npos)
        colon = std::string_view::npos;
    key += normalizeEscapes(authority.substr(0, colon), true);
    if (colon != std::string_view::npos) {
        std::string_view port = authority.substr(colon + 1);
        while (port.size() > 1 && port.front() == '0') port.remove_prefix(1);
        bool isDefault = port.empty() || (scheme == "http" && port == "80") || (scheme == "https" && port == "443");
        if (!isDefault) key += ":" + std::string(port);
    }
    std::string resolved = platform::removeDotSegments(normalizeEscapes(path, false));
    key += resolved.empty() ? "/" : resolved;
    return key;
}

TRAVideosManager::RefusalKey TRAVideosManager::refusalKey(const std::string& refusalUrl) {
    RefusalKey key{};
    std::vector<uint8_t> digest = platform::sha1(refusalUrl);
    std::copy_n(digest.begin(), std::min(digest.size(), key.size()), key.begin());
    return key;
}

std::optional<std::string> TRAVideosManager::destPathFromVideoUrl(const std::string& videoUrl) const {
    auto fileName = TRAAdSDKUtils::getFileNameFromVideoUrl(videoUrl);
    if (!fileName) return std::nullopt;
    return TRAAdSDKUtils::getDestPathFromFileName(*fileName);
}

void TRAVideosManager::removeVideo(const std::string& fileName) {
    readTableIfUnread();
    Ref<TRAVideoDownloader> entry = downloaderForFileName(fileName);
    videosDb_.remove(fileName);
    unreadChanges_.removed(fileName);
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
    readTableIfUnread();
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
    // Saved before the stored table is read, this one would replace it.
    readTableIfUnread();
    if (unreadChanges_.isUnread()) return;
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setObject(Value(NSKeyedArchiver::archivedDataWithRootObject(videosDb_)), kVideosDbKey);
    defaults->synchronize();
}

bool TRAVideosManager::isFileExistWithPath(const std::string& path) {
    return NSFileManager::defaultManager()->fileExistsAtPath(path);
}

Value TRAVideosManager::getVideosDBCopy() {
    readTableIfUnread();
    return videosDb_;
}

Ref<TRAVideoDownloader> TRAVideosManager::downloaderForFileName(const std::string& fileName) const {
    return videosDb_[fileName].object<TRAVideoDownloader>();
}
