#include "platform/foundation/NSFileHandle.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/foundation/FileSystemConditions.h"
#include "platform/runtime/Log.h"

namespace platform {

Ref<NSFileHandle> NSFileHandle::open(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return nullptr;
    auto handle = NSFileHandle::alloc<NSFileHandle>();
    handle->path_ = path;
    handle->fd_ = fd;
    return handle;
}

Ref<NSFileHandle> NSFileHandle::fileHandleForWritingAtPath(const std::string& path) { return open(path, O_WRONLY); }

Ref<NSFileHandle> NSFileHandle::fileHandleForReadingAtPath(const std::string& path) { return open(path, O_RDONLY); }

uint64_t NSFileHandle::seekToEndOfFile() {
    std::scoped_lock lock(mutex_);
    if (fd_ < 0) return 0;
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    return end < 0 ? 0 : static_cast<uint64_t>(end);
}

bool NSFileHandle::writeData(const NSData& data) {
    std::scoped_lock lock(mutex_);
    if (fd_ < 0) {
        log(LogLevel::Error, "NSFileHandle: write to a closed file " + shortenedForLog(path_));
        return false;
    }
    if (data.length() > 0 && files::writeFailsAt(path_)) {
        log(LogLevel::Error, "NSFileHandle: write to " + shortenedForLog(path_) + " failed: " + std::strerror(ENOSPC));
        return false;
    }
    const uint8_t* bytes = data.bytes();
    size_t left = data.length();
    while (left > 0) {
        const ssize_t n = ::write(fd_, bytes, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            log(LogLevel::Error,
                "NSFileHandle: write to " + shortenedForLog(path_) + " failed: " + std::strerror(errno));
            return false;
        }
        bytes += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

NSData NSFileHandle::readDataToEndOfFile() {
    std::scoped_lock lock(mutex_);
    NSData result;
    if (fd_ < 0) return result;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            log(LogLevel::Error,
                "NSFileHandle: read from " + shortenedForLog(path_) + " failed: " + std::strerror(errno));
            break;
        }
        result.appendBytes(buffer, static_cast<size_t>(n));
    }
    return result;
}

void NSFileHandle::synchronizeFile() {
    std::scoped_lock lock(mutex_);
    if (fd_ >= 0) ::fsync(fd_);
}

void NSFileHandle::closeFile() {
    std::scoped_lock lock(mutex_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

NSFileHandle::~NSFileHandle() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace platform
