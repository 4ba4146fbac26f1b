// The client's cache folder "hl" in the caches directory: ad resources and
// the postback files, each under a flat name. Maps resource names to file
// names, writes (atomically), lists and removes files, and compacts the
// folder once per start: files older than slot 74 seconds go, and when the
// rest exceeds slot 75 MB the whole folder is emptied (both only while slot
// 73 is on). The postback files (HLPersistentPostbackManager::isQueueFileName)
// are never compacted, counted or dropped. Nothing outside the folder is ever
// written or removed: names that map to "", "." or ".." (or hold a zero byte)
// are refused, and paths outside the folder are left alone.
//
// Any thread: one recursive lock serialises every operation.
// Owned by HLSdk, which it keeps weakly.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/NSData.h"
#include "platform/foundation/NSURL.h"
#include "platform/runtime/NSObject.h"

class HLLogManager;
class HLSdk;

class HLFileManager : public NSObject {
public:
    static constexpr const char* kCacheFolderName = "hl";

    Ref<HLFileManager> initWithSdk(const Ref<HLSdk>& sdk);

    // "/", "\", "?", "%", "*", "|", the double quote, "<", ">" and ":" each
    // become "_". Nullopt for a name that is refused (see above).
    static std::optional<std::string> fileNameForResourceNamed(const std::string& name);
    // The folder + the file name, the folder created when missing; the
    // folder itself for no name. Nullopt (logged) for a refused name or when
    // the folder cannot be found or made.
    std::optional<std::string> filePathForResourceNamed(const std::optional<std::string>& name);
    // "file://" + the path.
    std::optional<std::string> urlStringForResourceNamed(const std::string& name);
    Ref<NSURL> urlForResourceNamed(const std::string& name);
    // Whether a regular file (not a folder, not a link) stands at the path.
    bool hasCachedResourceNamed(const std::string& name);
    // urlStringForResourceNamed when hasCachedResourceNamed, else nullopt:
    // the path made once.
    std::optional<std::string> cachedResourceURLString(const std::string& name);

    // The cache folder held open for a run of look-ups (a render's), so each
    // looks in it by the file name alone; closed when it goes, so that the
    // next run sees a folder made anew. Holds none when the folder could not
    // be opened: look-ups then go by path.
    class OpenFolder {
    public:
        OpenFolder() = default;
        OpenFolder(OpenFolder&& other) noexcept;
        OpenFolder& operator=(OpenFolder&& other) noexcept;
        ~OpenFolder();
        bool isOpen() const { return descriptor_ >= 0; }

    private:
        friend class HLFileManager;
        std::string path_;
        int descriptor_ = -1;
    };
    // The folder (made when missing) opened for look-ups.
    OpenFolder openFolder();
    // cachedResourceURLString, looked up in `folder` when it is open.
    std::optional<std::string> cachedResourceURLString(const std::string& name, const OpenFolder& folder);
    // Atomic: a kill leaves the old file or the new one.
    bool cacheResourceWithData(const NSData& data, const std::string& name);
    bool removeExistingFileNamed(const std::string& name);
    // False when nothing is there, the path lies outside the folder, or the
    // removal fails (logged).
    bool removeExistingFileAtPath(const std::string& path);
    // Every entry under the folder, sub-folders included, that is not a folder.
    std::vector<std::string> allCachedFilePaths();
    std::vector<std::string> allCachedFileNames();

    // Slot 74 when slot 73 is on and it is not negative; else -1 (no expiry).
    int64_t fileTTL();
    // Slot 75 when slot 73 is on and it is not negative; else -1 (no limit).
    int64_t maximumCacheSize();
    // Whole MB: the remainder is dropped.
    static uint64_t bytesToMegabytes(uint64_t bytes) { return bytes >> 20; }

    // Only while slot 73 is on and the client is not yet initialised (the
    // start-up task calls it first).
    void compactCache();
    // Removes expired files ("cached_files_expired" + 1 each); the bytes of the rest.
    uint64_t cacheSizeAfterDroppingExpiredFiles();
    // Empties the folder ("cache_drop_count" + 1) when `size` in whole MB
    // exceeds the limit; whether it did.
    bool dropCacheIfRequired(uint64_t size);
    // Every file but the postback files goes.
    void dropCache();

private:
    // allCachedFilePaths without the postback files.
    std::vector<std::string> compactableFilePaths();
    Ref<HLLogManager> logger() const;
    std::optional<std::string> folderPath();
    // fileNameForResourceNamed, a refusal logged.
    std::optional<std::string> acceptedFileName(const std::string& name);
    bool isInsideFolder(const std::string& path);

    Weak<HLSdk> sdk_;
    std::recursive_mutex fileSystemLock_;  // serialises every file operation
    std::string madeFolder_;               // the folder last made or found (under the lock)
};
