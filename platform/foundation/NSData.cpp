#include "platform/foundation/NSData.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/foundation/FileSystemConditions.h"
#include "platform/foundation/LastingConditions.h"
#include "platform/foundation/Platform.h"
#include "platform/runtime/Log.h"

namespace platform {

namespace {
const std::shared_ptr<std::vector<uint8_t>>& emptyStorage() {
    // Never destroyed: other threads may use it during exit.
    static const std::shared_ptr<std::vector<uint8_t>>& empty =
        *new std::shared_ptr<std::vector<uint8_t>>(std::make_shared<std::vector<uint8_t>>());
    return empty;
}
const uint8_t kNoBytes = 0;
}  // namespace

NSData::NSData() : bytes_(emptyStorage()) {}

NSData::NSData(const void* bytes, size_t length)
    : bytes_(length ? std::make_shared<std::vector<uint8_t>>(static_cast<const uint8_t*>(bytes),
                                                             static_cast<const uint8_t*>(bytes) + length)
                    : emptyStorage()) {}

NSData::NSData(std::vector<uint8_t> bytes) : bytes_(std::make_shared<std::vector<uint8_t>>(std::move(bytes))) {}

NSData NSData::dataWithString(std::string_view utf8) { return NSData(utf8.data(), utf8.size()); }

size_t NSData::length() const { return bytes_ ? bytes_->size() : 0; }

const uint8_t* NSData::bytes() const { return length() ? bytes_->data() : &kNoBytes; }

std::string_view NSData::stringView() const {
    return std::string_view(reinterpret_cast<const char*>(bytes()), length());
}

const std::vector<uint8_t>& NSData::vector() const { return bytes_ ? *bytes_ : *emptyStorage(); }

void NSData::detach() {
    // Copy-on-write: the shared empty buffer and buffers held by copies are never changed.
    if (!bytes_ || bytes_.use_count() > 1 || bytes_ == emptyStorage())
        bytes_ = std::make_shared<std::vector<uint8_t>>(bytes_ ? *bytes_ : std::vector<uint8_t>());
}

void NSData::appendBytes(const void* bytes, size_t length) {
    if (!length) return;
    detach();
    const auto* p = static_cast<const uint8_t*>(bytes);
    bytes_->insert(bytes_->end(), p, p + length);
}

void NSData::appendData(const NSData& other) {
    const NSData keep = other;  // appending to itself stays valid
    appendBytes(keep.bytes(), keep.length());
}

void NSData::setLength(size_t length) {
    if (length == this->length()) return;
    detach();
    bytes_->resize(length, 0);
}

uint8_t* NSData::mutableBytes() {
    detach();
    return bytes_->data();
}

NSData NSData::subdataWithRange(size_t location, size_t length) const {
    const size_t size = this->length();
    if (location >= size) return NSData();
    if (length > size - location) length = size - location;
    return NSData(bytes() + location, length);
}

// --- files -----------------------------------------------------------------

namespace {

// The bytes of the file, or the errno of why they could not be read.
std::optional<NSData> readWhole(const std::string& path, int& error) {
    if (files::readFailsAt(path)) {
        error = errno;
        return std::nullopt;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) error = errno;
    else if (!S_ISREG(st.st_mode)) error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    if (error) {
        ::close(fd);
        return std::nullopt;
    }
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(st.st_size));
    uint8_t buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = errno;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    ::close(fd);
    return NSData(std::move(out));
}

// Files whose last read failed for another reason than absence: each file
// is what lasts, whatever the failure's kind (one that stays unreadable
// among others that read is logged once), and at most this many are kept.
constexpr size_t kUnreadableFilesKept = 32;
LastingConditions& unreadableFiles() {
    // Never destroyed: reads may run at exit.
    static auto* files = new LastingConditions(kUnreadableFilesKept);
    return *files;
}

}  // namespace

FileRead NSData::readFile(const std::string& path) {
    FileRead read;
    int error = 0;
    read.data = readWhole(path, error);
    if (!read.data) {
        read.absent = error == ENOENT || error == ENOTDIR;
        read.error = error;
    }
    if (read.unreadable()) {
        const LastingConditions::Onset onset = unreadableFiles().fails(path, 0);
        if (onset != LastingConditions::Onset::None)
            logError("NSData: the file " + shortenedForLog(path) + " cannot be read now (" + std::strerror(error) +
                     "); what it holds is kept and read again later" +
                     (onset == LastingConditions::Onset::BeganUnkept
                          ? "; more files that cannot be read are not logged until some can again"
                          : ""));
    } else if (unreadableFiles().succeeds(path)) {
        logError("NSData: the file " + shortenedForLog(path) + (read.data ? " can be read again" : " is gone"));
    }
    return read;
}

std::optional<NSData> NSData::dataWithContentsOfFile(const std::string& path) { return readFile(path).data; }

namespace {

bool writeAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w == 0) errno = EIO;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Failing writes, kept by where they hold and their kind of failure, so
// that each is logged when it begins and when it ends. A failure of the
// folder (a temporary file cannot be made in it; the file system is full,
// read-only or failing) is kept by folder: a full disk lasts, and its writers
// try again and again, each new file at a path of its own. A failure of the
// target alone (a folder standing at its path, a file that may not be
// written) is kept by the target's path, and lasts whatever else in the
// folder succeeds. A success ends what held at its path and in its folder.
constexpr size_t kFailingWritePlacesKept = 32;
LastingConditions& failingWrites() {
    // Never destroyed: writes may run at exit.
    static auto* places = new LastingConditions(kFailingWritePlacesKept);
    return *places;
}

// Kinds of failure that are the file system's, whichever step meets them.
bool isFileSystemFailure(int error) {
    return error == ENOSPC || error == EDQUOT || error == EROFS || error == EIO;
}

// A failed write to `path` (errno `error`), logged when the failure begins
// where it holds: `path` itself when `ofTarget` and the kind is not the file
// system's, else its folder.
bool writeFailed(const std::string& path, int error, const std::string& what, bool ofTarget) {
    const bool atTarget = ofTarget && !isFileSystemFailure(error);
    const std::string place = atTarget ? path : folderOf(path);
    // A folder is kept with a trailing "/": a folder standing at a target's
    // path is not the folder that target would be in.
    const LastingConditions::Onset onset = failingWrites().fails(atTarget ? place : place + "/", error);
    if (onset != LastingConditions::Onset::None)
        logError("NSData writeToFile: cannot " + what + ": " + std::strerror(error) + "; writes " +
                 (atTarget ? "to " : "into ") + shortenedForLog(place) +
                 " failing so are not logged again until one succeeds" +
                 (onset == LastingConditions::Onset::BeganUnkept ? " (nor are other places' failures)" : ""));
    return false;
}

bool writeSucceeded(const std::string& path) {
    if (failingWrites().succeeds(path)) logError("NSData writeToFile: " + shortenedForLog(path) + " can be written again");
    const std::string folder = folderOf(path);
    if (failingWrites().succeeds(folder + "/"))
        logError("NSData writeToFile: " + shortenedForLog(folder) + " can be written again");
    return true;
}

// Whether a write to `path` may go ahead (a simulated full disk fails it).
bool mayWriteTo(const std::string& path) {
    if (path.empty()) return false;
    if (files::writeFailsAt(path)) return writeFailed(path, ENOSPC, "write " + shortenedForLog(path), false);
    return true;
}

}  // namespace

bool NSData::writeToFile(const std::string& path, bool atomically) const {
    if (!atomically) {
        if (!mayWriteTo(path)) return false;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return writeFailed(path, errno, "open " + shortenedForLog(path), true);
        const bool written = writeAll(fd, bytes(), length());
        int error = written ? 0 : errno;
        if (::close(fd) != 0 && written) error = errno;
        if (error) return writeFailed(path, error, "write " + shortenedForLog(path), false);
        return writeSucceeded(path);
    }
    if (!writeToFileLeavingFolderUnflushed(path)) return false;
    // Make the rename itself durable.
    flushFolder(folderOf(path));
    return true;
}

bool NSData::writeToFileLeavingFolderUnflushed(const std::string& path) const {
    if (!mayWriteTo(path)) return false;
    // Temporary file in the same folder (same file system), flushed to disk
    // (unless the home is a throwaway one), then renamed over the target: a
    // crash leaves the old file or the new one.
    const std::string folder = folderOf(path);
    std::string temp = path + ".tmp-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        // A name too long fails the target alone: its temporary name is longer still.
        const int error = errno;
        return writeFailed(path, error, "create a temporary file in " + shortenedForLog(folder), error == ENAMETOOLONG);
    }
    ::fchmod(fd, 0644);
    const bool flush = Platform::flushesWritesToDisk();
    bool ok = writeAll(fd, bytes(), length()) && (!flush || ::fsync(fd) == 0);
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) error = errno;
    // Only the rename is the target's own step: a folder standing at its path.
    const bool ofTarget = !error;
    if (!error && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
    if (error) {
        ::unlink(temp.c_str());
        return writeFailed(path, error, "write " + shortenedForLog(path), ofTarget);
    }
    return writeSucceeded(path);
}

void NSData::flushFolder(const std::string& folder) {
    if (!Platform::flushesWritesToDisk()) return;
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    ::fsync(dir);
    ::close(dir);
}

// --- base64 ----------------------------------------------------------------

std::string NSData::base64EncodedStringWithOptions(unsigned long) const {
    const size_t n = length();
    std::string out(4 * ((n + 2) / 3), '\0');
    // EVP_EncodeBlock takes an int length: encode in chunks that are a multiple of 3.
    constexpr size_t kChunk = 3u << 20;
    size_t in = 0;
    size_t at = 0;
    while (in < n) {
        const size_t take = std::min(kChunk, n - in);
        const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data() + at), bytes() + in,
                                            static_cast<int>(take));
        at += static_cast<size_t>(written);
        in += take;
    }
    out.resize(at);
    return out;
}

std::optional<NSData> NSData::initWithBase64EncodedString(std::string_view text, unsigned long options) {
    auto sextet = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    const bool ignoreUnknown = options & NSDataBase64DecodingIgnoreUnknownCharacters;
    std::vector<uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    uint32_t acc = 0;
    int have = 0;      // sextets in the current quantum
    int padding = 0;   // '=' seen
    size_t symbols = 0;
    for (char c : text) {
        if (c == '=') {
            ++padding;
            ++symbols;
            continue;
        }
        const int v = sextet(c);
        if (v < 0) {
            if (ignoreUnknown) continue;
            return std::nullopt;
        }
        if (padding) return std::nullopt;  // data after padding
        acc = (acc << 6) | static_cast<uint32_t>(v);
        ++symbols;
        if (++have == 4) {
            out.push_back(static_cast<uint8_t>(acc >> 16));
            out.push_back(static_cast<uint8_t>(acc >> 8));
            out.push_back(static_cast<uint8_t>(acc));
            acc = 0;
            have = 0;
        }
    }
    // Padded input only: the symbol count is a multiple of 4 and the padding
    // completes the last quantum.
    if (symbols % 4 != 0 || padding > 2 || (padding && have + padding != 4) || have == 1) return std::nullopt;
    if (have == 2) {
        out.push_back(static_cast<uint8_t>(acc >> 4));
    } else if (have == 3) {
        out.push_back(static_cast<uint8_t>(acc >> 10));
        out.push_back(static_cast<uint8_t>(acc >> 2));
    }
    return NSData(std::move(out));
}

bool NSData::isEqual(const NSData& other) const {
    return length() == other.length() && (bytes_ == other.bytes_ || std::memcmp(bytes(), other.bytes(), length()) == 0);
}

std::string NSData::description() const {
    static const char* hex = "0123456789abcdef";
    std::string out = "<";
    const uint8_t* p = bytes();
    for (size_t i = 0; i < length(); ++i) {
        if (i && i % 4 == 0) out += ' ';
        out += hex[p[i] >> 4];
        out += hex[p[i] & 15];
    }
    return out + ">";
}

}  // namespace platform
