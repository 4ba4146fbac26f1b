#include "halcyon/core/HLFileManager.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>
#include <utility>

#include "halcyon/core/HLConstants.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLPersistentPostbackManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLStatsManager.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/SaturatingCast.h"

namespace {
constexpr const char* kHLFileManagerTag = "HLFileManager";
constexpr std::string_view kHLUnsafeNameCharacters = "/\\?%*|\"<>:";

// Whole seconds since 1970.
int64_t hlWholeSeconds(const NSDate& date) { return platform::saturatingCast<int64_t>(date.timeIntervalSince1970()); }

std::string hlLastPathComponent(const std::string& path) { return std::filesystem::path(path).filename().string(); }
}  // namespace

Ref<HLFileManager> HLFileManager::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    return self<HLFileManager>();
}

Ref<HLLogManager> HLFileManager::logger() const {
    Ref<HLSdk> sdk = sdk_.lock();
    return sdk ? sdk->logManager() : nullptr;
}

// ---- Names, paths and URLs

std::optional<std::string> HLFileManager::fileNameForResourceNamed(const std::string& name) {
    std::string file = name;
    for (char& c : file)
        if (kHLUnsafeNameCharacters.find(c) != std::string_view::npos) c = '_';
    // These would name the folder, its parent, or (cut at the zero byte)
    // another file.
    if (file.empty() || file == "." || file == ".." || file.find('\0') != std::string::npos) return std::nullopt;
    return file;
}

std::optional<std::string> HLFileManager::folderPath() {
    std::vector<std::string> caches = NSSearchPathForDirectoriesInDomains(NSCachesDirectory, NSUserDomainMask, true);
    if (caches.empty()) {
        if (auto log = logger()) log->e(kHLFileManagerTag, "Unable to discover user document directory");
        return std::nullopt;
    }
    std::string folder = caches.front() + "/" + kCacheFolderName;
    // Made (or found) once: every look-up of a rendered ad's resources comes
    // here. A write that fails makes it again (cacheResourceWithData).
    if (folder == madeFolder_) return folder;
    Ref<NSError> error;
    if (!NSFileManager::defaultManager()->createDirectoryAtPath(folder, true, Value(), &error)) {
        if (auto log = logger()) log->e(kHLFileManagerTag, "Unable to create directory: %@", folder);
        return std::nullopt;
    }
    madeFolder_ = folder;
    return folder;
}

std::optional<std::string> HLFileManager::filePathForResourceNamed(const std::optional<std::string>& name) {
    std::scoped_lock lock(fileSystemLock_);
    std::optional<std::string> folder = folderPath();
    if (!folder || !name) return folder;
    std::optional<std::string> file = acceptedFileName(*name);
    if (!file) return std::nullopt;
    return *folder + "/" + *file;
}

std::optional<std::string> HLFileManager::acceptedFileName(const std::string& name) {
    std::optional<std::string> file = fileNameForResourceNamed(name);
    if (!file)
        if (auto log = logger())
            log->e(kHLFileManagerTag, "Refused the resource name \"%@\": it names no file",
                   platform::shortenedForLog(name));
    return file;
}

std::optional<std::string> HLFileManager::urlStringForResourceNamed(const std::string& name) {
    std::optional<std::string> path = filePathForResourceNamed(name);
    if (!path) return std::nullopt;
    return "file://" + *path;
}

Ref<NSURL> HLFileManager::urlForResourceNamed(const std::string& name) {
    std::optional<std::string> path = filePathForResourceNamed(name);
    return path ? NSURL::fileURLWithPath(*path) : nullptr;
}

bool HLFileManager::hasCachedResourceNamed(const std::string& name) { return cachedResourceURLString(name).has_value(); }

std::optional<std::string> HLFileManager::cachedResourceURLString(const std::string& name) {
    std::scoped_lock lock(fileSystemLock_);
    std::optional<std::string> path = filePathForResourceNamed(name);
    if (!path) return std::nullopt;
    // One lstat: a link is no cached file.
    struct stat status;
    if (::lstat(path->c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return "file://" + *path;
}

HLFileManager::OpenFolder::OpenFolder(OpenFolder&& other) noexcept
    : path_(std::move(other.path_)), descriptor_(std::exchange(other.descriptor_, -1)) {}

HLFileManager::OpenFolder& HLFileManager::OpenFolder::operator=(OpenFolder&& other) noexcept {
    if (this != &other) {
        if (descriptor_ >= 0) ::close(descriptor_);
        path_ = std::move(other.path_);
        descriptor_ = std::exchange(other.descriptor_, -1);
    }
    return *this;
}

HLFileManager::OpenFolder::~OpenFolder() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

HLFileManager::OpenFolder HLFileManager::openFolder() {
    std::scoped_lock lock(fileSystemLock_);
    OpenFolder folder;
    std::optional<std::string> path = folderPath();
    if (!path) return folder;
    // A path only: it is looked in, never read.
    folder.descriptor_ = ::open(path->c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder.isOpen()) folder.path_ = std::move(*path);
    return folder;
}

std::optional<std::string> HLFileManager::cachedResourceURLString(const std::string& name, const OpenFolder& folder) {
    if (!folder.isOpen()) return cachedResourceURLString(name);
    std::scoped_lock lock(fileSystemLock_);
    std::optional<std::string> file = acceptedFileName(name);
    if (!file) return std::nullopt;
    struct stat status;
    if (::fstatat(folder.descriptor_, file->c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    std::string url;
    url.reserve(7 + folder.path_.size() + 1 + file->size());
    return url.append("file://").append(folder.path_).append("/").append(*file);
}

// ---- Writing and removing

bool HLFileManager::cacheResourceWithData(const NSData& data, const std::string& name) {
    std::scoped_lock lock(fileSystemLock_);
    std::optional<std::string> path = filePathForResourceNamed(name);
    if (path && data.writeToFile(*path, true)) return true;
    // The folder may have gone since it was made: made again, tried once more.
    madeFolder_.clear();
    path = filePathForResourceNamed(name);
    return path && data.writeToFile(*path, true);
}

bool HLFileManager::removeExistingFileNamed(const std::string& name) {
    std::scoped_lock lock(fileSystemLock_);
    std::optional<std::string> path = filePathForResourceNamed(name);
    return path && removeExistingFileAtPath(*path);
}

bool HLFileManager::isInsideFolder(const std::string& path) {
    std::optional<std::string> folder = folderPath();
    if (!folder) return false;
    // The parent with its links resolved must lie within the folder, and
    // the last component must name an entry of it.
    std::error_code error;
    const std::filesystem::path target(path);
    const std::string last = target.filename().string();
    if (last.empty() || last == "." || last == "..") return false;
    const auto parent = std::filesystem::weakly_canonical(target.parent_path(), error);
    if (error) return false;
    const auto root = std::filesystem::weakly_canonical(*folder, error);
    if (error) return false;
    const auto relative = parent.lexically_relative(root);
    return !relative.empty() && *relative.begin() != "..";
}

bool HLFileManager::removeExistingFileAtPath(const std::string& path) {
    std::scoped_lock lock(fileSystemLock_);
    auto files = NSFileManager::defaultManager();
    if (files->attributesOfItemAtPath(path).isNull()) return false;
    if (!isInsideFolder(path)) {
        if (auto log = logger())
            log->e(kHLFileManagerTag, "Refused to remove %@: it lies outside the cache folder",
                   platform::shortenedForLog(path));
        return false;
    }
    Ref<NSError> error;
    if (!files->removeItemAtPath(path, &error)) {
        if (auto log = logger())
            log->e(kHLFileManagerTag, "Unable to remove file %@: %@", platform::shortenedForLog(path), error);
        return false;
    }
    return true;
}

std::vector<std::string> HLFileManager::allCachedFilePaths() {
    std::scoped_lock lock(fileSystemLock_);
    std::vector<std::string> paths;
    std::optional<std::string> folder = folderPath();
    if (!folder) return paths;
    Ref<NSDirectoryEnumerator> entries = NSFileManager::defaultManager()->enumeratorAtPath(*folder);
    if (!entries) return paths;
    // The enumerator does not follow links: a link is listed, never entered.
    while (std::optional<std::string> relative = entries->nextObject())
        if (entries->fileAttributes()[NSFileType].stringValue() != NSFileTypeDirectory)
            paths.push_back(*folder + "/" + *relative);
    return paths;
}

std::vector<std::string> HLFileManager::allCachedFileNames() {
    std::vector<std::string> names;
    for (const std::string& path : allCachedFilePaths()) names.push_back(hlLastPathComponent(path));
    return names;
}

// ---- Compaction

int64_t HLFileManager::fileTTL() {
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk || !sdk->boolForKey(kHLSlotCacheCleanupEnabled)) return -1;
    const int64_t ttl = sdk->integerForKey(kHLSlotCacheFileTtlSeconds);
    return ttl < 0 ? -1 : ttl;
}

int64_t HLFileManager::maximumCacheSize() {
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk || !sdk->boolForKey(kHLSlotCacheCleanupEnabled)) return -1;
    const int64_t limit = sdk->integerForKey(kHLSlotCacheMaxSizeMb);
    return limit < 0 ? -1 : limit;
}

void HLFileManager::compactCache() {
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk || !sdk->boolForKey(kHLSlotCacheCleanupEnabled)) return;
    if (sdk->isEnabledAndInitialized()) {
        sdk->logManager()->e(kHLFileManagerTag,
                             "Cannot empty file cache after SDK has completed initialization and ad loads are in progress!");
        return;
    }
    std::scoped_lock lock(fileSystemLock_);
    dropCacheIfRequired(cacheSizeAfterDroppingExpiredFiles());
}

std::vector<std::string> HLFileManager::compactableFilePaths() {
    std::vector<std::string> paths = allCachedFilePaths();
    // Pending postbacks are no cache: a drop by one key's start would lose
    // another key's, which that instance may have loaded already.
    std::erase_if(paths, [](const std::string& path) {
        return HLPersistentPostbackManager::isQueueFileName(hlLastPathComponent(path));
    });
    return paths;
}

uint64_t HLFileManager::cacheSizeAfterDroppingExpiredFiles() {
    std::scoped_lock lock(fileSystemLock_);
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk) return 0;
    const Ref<HLLogManager>& log = sdk->logManager();
    const int64_t ttl = fileTTL();
    const int64_t now = hlWholeSeconds(NSDate::date());
    uint64_t total = 0;
    auto files = NSFileManager::defaultManager();
    for (const std::string& path : compactableFilePaths()) {
        Ref<NSError> error;
        const Value attributes = files->attributesOfItemAtPath(path, &error);
        if (attributes.isNull()) {
            log->e(kHLFileManagerTag, "Unable to retrieve file attributes of %@: %@",
                   platform::shortenedForLog(hlLastPathComponent(path)), error);
            continue;
        }
        const uint64_t size = attributes[NSFileSize].unsignedLongLongValue();
        const NSDate* modified = attributes[NSFileModificationDate].date();
        if (ttl == -1 || !modified) {
            total += size;
            continue;
        }
        // An unsigned 32-bit difference: a date in the future counts as very
        // old, so such a file goes (it can be fetched again).
        const uint32_t age = static_cast<uint32_t>(now - hlWholeSeconds(*modified));
        if (age > static_cast<uint64_t>(ttl)) {
            log->d(kHLFileManagerTag, "File %@ has expired, removing...", platform::shortenedForLog(path));
            if (removeExistingFileAtPath(path)) sdk->statsManager()->incrementKey("cached_files_expired");
        } else {
            total += size;
        }
    }
    return total;
}

bool HLFileManager::dropCacheIfRequired(uint64_t size) {
    Ref<HLSdk> sdk = sdk_.lock();
    if (!sdk) return false;
    const Ref<HLLogManager>& log = sdk->logManager();
    const int64_t limit = maximumCacheSize();
    if (limit == -1) {
        log->d(kHLFileManagerTag, "Cache had no maximum size set; skipping drop...");
        return false;
    }
    if (bytesToMegabytes(size) <= static_cast<uint64_t>(limit)) {
        log->d(kHLFileManagerTag, "Cache is present but under size limit. Not dropping...");
        return false;
    }
    log->d(kHLFileManagerTag, "Cache is over size limit; dropping...");
    dropCache();
    sdk->statsManager()->incrementKey("cache_drop_count");
    return true;
}

void HLFileManager::dropCache() {
    std::scoped_lock lock(fileSystemLock_);
    for (const std::string& path : compactableFilePaths()) removeExistingFileAtPath(path);
}
