#include "host/RunLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "host/RunSignals.h"

RunLock::~RunLock() { release(); }

RunLock::RunLock(RunLock&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) { other.fd_ = -1; }

RunLock& RunLock::operator=(RunLock&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

std::optional<RunLock> RunLock::acquire(const std::string& folder, const std::string& what, std::string& refusal) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::string path = (std::filesystem::path(folder) / kFileName).string();
    // A holder that releases removes the file: a lock taken on the removed
    // file is no lock, so the file is opened again until it is the one named.
    for (int tries = 0; tries < 10; ++tries) {
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            refusal = "cannot lock " + what + ": " + std::strerror(errno);
            return std::nullopt;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            int error = errno;
            char text[32] = {};
            ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
            ::close(fd);
            if (error != EWOULDBLOCK) {
                refusal = "cannot lock " + what + ": " + std::strerror(error);
                return std::nullopt;
            }
            std::string pid = n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
            while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
            refusal = what + " is in use by another run of the host program (process " +
                      (pid.empty() ? std::string("unknown") : pid) + "); wait for it to end or give another folder";
            return std::nullopt;
        }
        struct stat held {}, named {};
        if (::fstat(fd, &held) != 0 || ::stat(path.c_str(), &named) != 0 || held.st_ino != named.st_ino ||
            held.st_dev != named.st_dev) {
            ::close(fd);
            continue;
        }
        std::string pid = std::to_string(::getpid()) + "\n";
        if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
            refusal = "cannot write the lock file of " + what + ": " + std::strerror(errno);
            ::close(fd);
            return std::nullopt;
        }
        RunLock lock;
        lock.fd_ = fd;
        lock.path_ = path;
        // A run ended at once by a second signal leaves no stale lock file.
        RunSignals::removeOnAbort(path, false);
        return lock;
    }
    refusal = "cannot lock " + what + ": its lock file keeps changing";
    return std::nullopt;
}

void RunLock::release() {
    if (fd_ < 0) return;
    RunSignals::keepOnAbort(path_);
    ::unlink(path_.c_str());
    ::close(fd_);
    fd_ = -1;
}
