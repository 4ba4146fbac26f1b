#include "platform/foundation/NSFileManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/foundation/FileSystemConditions.h"
#include "platform/runtime/NSDate.h"

namespace platform {

namespace {

Ref<NSError> fileError(int64_t code, const std::string& path, int errnum) {
    Value info = Value::dictionary({{NSFilePathErrorKey, path}});
    if (errnum != 0) {
        info.set(NSUnderlyingErrorKey,
                 NSError::errorWithDomain("NSPOSIXErrorDomain", errnum,
                                          Value::dictionary({{NSLocalizedDescriptionKey, std::strerror(errnum)}})));
    }
    return NSError::errorWithDomain(NSCocoaErrorDomain, code, std::move(info));
}

bool fail(Ref<NSError>* error, int64_t code, const std::string& path, int errnum) {
    if (error) *error = fileError(code, path, errnum);
    return false;
}

int64_t writeErrorCode(int errnum) {
    switch (errnum) {
    case ENOENT: return NSFileNoSuchFileError;
    case EEXIST: return NSFileWriteFileExistsError;
    case ENOSPC:
    case EDQUOT: return NSFileWriteOutOfSpaceError;
    default: return NSFileWriteUnknownError;
    }
}

int64_t readErrorCode(int errnum) {
    return errnum == ENOENT || errnum == ENOTDIR ? NSFileReadNoSuchFileError : NSFileReadUnknownError;
}

bool lstatPath(const std::string& path, struct stat& st) { return ::lstat(path.c_str(), &st) == 0; }

std::string parentFolder(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

NSDate modificationDate(const struct stat& st) {
    return NSDate::dateWithTimeIntervalSince1970(static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9);
}

// Where the file system keeps no birth time, the first date seen is kept
// with the item, so it reads the same after a restart.
constexpr const char* kCreationDateAttribute = "user.platform.creation-date";

// The item's birth time from the file system; else the date kept with it
// (recorded at the first ask as the earlier of its change and modification
// times); else that earlier time.
NSDate creationDate(const std::string& path, const struct stat& st) {
    struct statx sx {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
        return NSDate::dateWithTimeIntervalSince1970(static_cast<double>(sx.stx_btime.tv_sec) +
                                                     sx.stx_btime.tv_nsec / 1e9);
    char text[64] = {};
    ssize_t n = ::lgetxattr(path.c_str(), kCreationDateAttribute, text, sizeof text - 1);
    if (n > 0) {
        char* end = nullptr;
        double seconds = std::strtod(text, &end);
        if (end != text && std::isfinite(seconds)) return NSDate::dateWithTimeIntervalSince1970(seconds);
    }
    double earliest = std::min(static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9,
                               static_cast<double>(st.st_ctim.tv_sec) + st.st_ctim.tv_nsec / 1e9);
    std::snprintf(text, sizeof text, "%.9f", earliest);
    ::lsetxattr(path.c_str(), kCreationDateAttribute, text, std::strlen(text), XATTR_CREATE);
    return NSDate::dateWithTimeIntervalSince1970(earliest);
}

Value attributesOf(const std::string& path, const struct stat& st) {
    const char* type = NSFileTypeUnknown;
    if (S_ISDIR(st.st_mode)) type = NSFileTypeDirectory;
    else if (S_ISREG(st.st_mode)) type = NSFileTypeRegular;
    else if (S_ISLNK(st.st_mode)) type = NSFileTypeSymbolicLink;
    return Value::dictionary({
        {NSFileSize, Value(static_cast<unsigned long long>(st.st_size))},
        {NSFileModificationDate, Value(modificationDate(st))},
        {NSFileCreationDate, Value(creationDate(path, st))},
        {NSFileType, Value(type)},
    });
}

std::vector<std::string> sortedEntries(const std::string& path, int* errnum) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(path.c_str());
    if (!dir) {
        if (errnum) *errnum = errno;
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    if (errnum) *errnum = 0;
    return names;
}

// Puts `source` at `destination` unless something is there already; 0 or errno.
int renameNoReplace(const std::string& source, const std::string& destination) {
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0) return 0;
    const int err = errno;
    if (err != EINVAL && err != ENOSYS && err != EOPNOTSUPP) return err;
    // The file system lacks the flag. A hard link fails on an existing name.
    if (::link(source.c_str(), destination.c_str()) == 0) {
        ::unlink(source.c_str());
        return 0;
    }
    if (errno != EPERM) return errno;
    // Folders cannot be linked: check, then rename (the one racy case left).
    struct stat st {};
    if (lstatPath(destination, st)) return EEXIST;
    return ::rename(source.c_str(), destination.c_str()) == 0 ? 0 : errno;
}

// Copies one regular file through a temporary file next to the destination,
// so a partial copy never carries the destination's name; 0 or errno.
int copyFile(const std::string& source, const std::string& destination, const struct stat& st) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return errno;
    std::string temp = parentFolder(destination) + "/.copy-XXXXXX";
    const int out = ::mkstemp(temp.data());
    if (out < 0) {
        const int err = errno;
        ::close(in);
        return err;
    }
    int err = 0;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        for (ssize_t done = 0; done < n && err == 0;) {
            const ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno != EINTR) err = errno;
            else if (w > 0) done += w;
        }
        if (err != 0) break;
    }
    ::close(in);
    if (err == 0) {
        ::fchmod(out, st.st_mode & 07777);
        const timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
        ::futimens(out, times);
        if (::fsync(out) != 0) err = errno;
    }
    if (::close(out) != 0 && err == 0) err = errno;
    if (err == 0) err = renameNoReplace(temp, destination);
    if (err != 0) ::unlink(temp.c_str());
    return err;
}

// Copies a file, link or folder tree; 0 or errno, with the failing path.
int copyItem(const std::string& source, const std::string& destination, std::string& failedPath) {
    struct stat st {};
    if (!lstatPath(source, st)) {
        failedPath = source;
        return errno;
    }
    failedPath = destination;
    if (files::writeFailsAt(destination)) return ENOSPC;
    if (S_ISLNK(st.st_mode)) {
        std::string target(static_cast<size_t>(st.st_size) + 1, '\0');
        const ssize_t n = ::readlink(source.c_str(), target.data(), target.size());
        if (n < 0) return errno;
        target.resize(static_cast<size_t>(n));
        return ::symlink(target.c_str(), destination.c_str()) == 0 ? 0 : errno;
    }
    if (!S_ISDIR(st.st_mode)) return copyFile(source, destination, st);
    if (::mkdir(destination.c_str(), st.st_mode & 07777) != 0) return errno;
    int errnum = 0;
    for (const std::string& name : sortedEntries(source, &errnum)) {
        const int err = copyItem(source + "/" + name, destination + "/" + name, failedPath);
        if (err != 0) return err;
    }
    if (errnum != 0) failedPath = source;
    return errnum;
}

}  // namespace

// ---- NSDirectoryEnumerator ---------------------------------------------------

Ref<NSDirectoryEnumerator> NSDirectoryEnumerator::initWithPath(const std::string& path) {
    root_ = path;
    int errnum = 0;
    std::vector<std::string> names = sortedEntries(path, &errnum);
    if (errnum != 0) return nullptr;
    pending_.assign(names.rbegin(), names.rend());
    return self<NSDirectoryEnumerator>();
}

std::optional<std::string> NSDirectoryEnumerator::nextObject() {
    // Descend into the folder returned last, unless told not to.
    if (!current_.empty() && !skip_ && currentAttributes_[NSFileType].stringValue() == NSFileTypeDirectory) {
        std::vector<std::string> names = sortedEntries(root_ + "/" + current_, nullptr);
        for (auto it = names.rbegin(); it != names.rend(); ++it) pending_.push_back(current_ + "/" + *it);
    }
    skip_ = false;
    current_.clear();
    currentAttributes_ = Value();
    while (!pending_.empty()) {
        std::string next = std::move(pending_.back());
        pending_.pop_back();
        struct stat st {};
        if (!lstatPath(root_ + "/" + next, st)) continue;  // removed meanwhile
        current_ = std::move(next);
        currentAttributes_ = attributesOf(root_ + "/" + current_, st);
        return current_;
    }
    return std::nullopt;
}

Value NSDirectoryEnumerator::fileAttributes() const { return currentAttributes_; }

void NSDirectoryEnumerator::skipDescendants() { skip_ = true; }

// ---- NSFileManager -------------------------------------------------------------

Ref<NSFileManager> NSFileManager::defaultManager() {
    // Never destroyed: other threads may use it during exit.
    static const Ref<NSFileManager>& manager = *new Ref<NSFileManager>(NSFileManager::alloc<NSFileManager>());
    return manager;
}

bool NSFileManager::fileExistsAtPath(const std::string& path) const { return fileExistsAtPath(path, nullptr); }

bool NSFileManager::fileExistsAtPath(const std::string& path, bool* isDirectory) const {
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (isDirectory) *isDirectory = exists && S_ISDIR(st.st_mode);
    return exists;
}

bool NSFileManager::createDirectoryAtPath(const std::string& path, bool withIntermediateDirectories,
                                          const Value& /*attributes*/, Ref<NSError>* error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode) && withIntermediateDirectories) return true;
        return fail(error, NSFileWriteFileExistsError, path, EEXIST);
    }
    if (files::writeFailsAt(path)) return fail(error, NSFileWriteOutOfSpaceError, path, ENOSPC);
    if (withIntermediateDirectories) {
        std::error_code ec;
        std::filesystem::create_directories(path, ec);
        if (ec) return fail(error, writeErrorCode(ec.value()), path, ec.value());
        return true;
    }
    if (::mkdir(path.c_str(), 0755) != 0) return fail(error, writeErrorCode(errno), path, errno);
    return true;
}

bool NSFileManager::createFileAtPath(const std::string& path, const std::optional<NSData>& contents,
                                     const Value& attributes) {
    if (!contents.value_or(NSData()).writeToFile(path, true)) return false;
    if (attributes[NSFileModificationDate].isDate()) setAttributes(attributes, path, nullptr);
    return true;
}

std::optional<NSData> NSFileManager::contentsAtPath(const std::string& path) const {
    return NSData::dataWithContentsOfFile(path);
}

bool NSFileManager::removeItemAtPath(const std::string& path, Ref<NSError>* error) {
    struct stat st {};
    if (!lstatPath(path, st)) return fail(error, NSFileNoSuchFileError, path, errno);
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    if (ec) return fail(error, writeErrorCode(ec.value()), path, ec.value());
    return true;
}

std::vector<std::string> NSFileManager::contentsOfDirectoryAtPath(const std::string& path, Ref<NSError>* error) const {
    int errnum = 0;
    std::vector<std::string> names = sortedEntries(path, &errnum);
    if (errnum != 0) fail(error, readErrorCode(errnum), path, errnum);
    return names;
}

Ref<NSDirectoryEnumerator> NSFileManager::enumeratorAtPath(const std::string& path) const {
    return NSDirectoryEnumerator::alloc<NSDirectoryEnumerator>()->initWithPath(path);
}

Value NSFileManager::attributesOfItemAtPath(const std::string& path, Ref<NSError>* error) const {
    struct stat st {};
    if (!lstatPath(path, st)) {
        fail(error, readErrorCode(errno), path, errno);
        return Value();
    }
    return attributesOf(path, st);
}

bool NSFileManager::setAttributes(const Value& attributes, const std::string& path, Ref<NSError>* error) {
    struct stat st {};
    if (!lstatPath(path, st)) return fail(error, NSFileNoSuchFileError, path, errno);
    const NSDate* date = attributes[NSFileModificationDate].date();
    if (!date) return true;
    const double t = date->timeIntervalSince1970();
    timespec times[2] = {{0, UTIME_OMIT}, {}};
    const double whole = std::floor(t);
    times[1].tv_sec = static_cast<time_t>(whole);
    times[1].tv_nsec = std::clamp<long>(std::lround((t - whole) * 1e9), 0, 999999999);
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        return fail(error, writeErrorCode(errno), path, errno);
    return true;
}

bool NSFileManager::moveItemAtPath(const std::string& source, const std::string& destination, Ref<NSError>* error) {
    struct stat st {};
    if (!lstatPath(source, st)) return fail(error, NSFileNoSuchFileError, source, errno);
    int err = renameNoReplace(source, destination);
    if (err == EXDEV) {
        // Another file system: copy (never overwriting), then remove the source.
        std::string failedPath;
        err = copyItem(source, destination, failedPath);
        if (err == 0) {
            std::error_code ec;
            std::filesystem::remove_all(source, ec);
        }
    }
    if (err != 0) return fail(error, writeErrorCode(err), destination, err);
    return true;
}

bool NSFileManager::copyItemAtPath(const std::string& source, const std::string& destination, Ref<NSError>* error) {
    struct stat st {};
    if (!lstatPath(source, st)) return fail(error, NSFileReadNoSuchFileError, source, errno);
    if (lstatPath(destination, st)) return fail(error, NSFileWriteFileExistsError, destination, EEXIST);
    std::string failedPath;
    const int err = copyItem(source, destination, failedPath);
    if (err != 0) return fail(error, writeErrorCode(err), failedPath, err);
    return true;
}

Value NSFileManager::attributesOfFileSystemForPath(const std::string& path, Ref<NSError>* error) const {
    struct statvfs fs {};
    if (::statvfs(path.c_str(), &fs) != 0) {
        fail(error, readErrorCode(errno), path, errno);
        return Value();
    }
    const auto blockSize = static_cast<unsigned long long>(fs.f_frsize);
    const auto size = static_cast<unsigned long long>(fs.f_blocks) * blockSize;
    unsigned long long freeSize = static_cast<unsigned long long>(fs.f_bavail) * blockSize;
    if (auto simulated = files::simulatedFreeSpace(path)) freeSize = *simulated;
    return Value::dictionary({
        {NSFileSystemFreeSize, Value(freeSize)},
        {NSFileSystemSize, Value(std::max(size, freeSize))},
    });
}

std::vector<Ref<NSURL>> NSFileManager::URLsForDirectory(NSSearchPathDirectory directory, unsigned long domainMask) const {
    std::vector<Ref<NSURL>> urls;
    for (const std::string& path : NSSearchPathForDirectoriesInDomains(directory, domainMask, true))
        if (Ref<NSURL> url = NSURL::fileURLWithPath(path + "/")) urls.push_back(std::move(url));
    return urls;
}

}  // namespace platform
