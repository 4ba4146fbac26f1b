// Immutable-by-default byte buffer with value semantics (copies share storage
// until one of them is changed).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class NSURL;

enum : unsigned long {
    NSDataBase64DecodingIgnoreUnknownCharacters = 1,
};

struct FileRead;

class NSData {
public:
    NSData();
    NSData(const void* bytes, size_t length);
    explicit NSData(std::vector<uint8_t> bytes);
    static NSData dataWithString(std::string_view utf8);  // the string's bytes

    size_t length() const;
    const uint8_t* bytes() const;         // never null (points to an empty buffer when empty)
    std::string_view stringView() const;  // the bytes as text (no validation)
    std::string toString() const { return std::string(stringView()); }
    const std::vector<uint8_t>& vector() const;

    // Mutation (NSMutableData): copies the storage first when shared.
    void appendBytes(const void* bytes, size_t length);
    void appendData(const NSData& other);
    void setLength(size_t length);
    uint8_t* mutableBytes();

    NSData subdataWithRange(size_t location, size_t length) const;  // clamped to the end

    // The file at `path` read whole (FileRead below). Any failure but
    // absence is logged once when it begins at a path and once when that
    // path reads again (or is gone), not at every attempt; past 32 such
    // files at once, the others go unlogged.
    static FileRead readFile(const std::string& path);

    // Files. writeToFile(atomically=true): temporary file in the same folder,
    // fsync, rename; a crash leaves the old file or the new one. A failing
    // write is logged when it begins and when it ends: a failure of the
    // folder (a full disk) when writes into it begin to fail so and when one
    // succeeds there again, whatever the files' names; a failure of the
    // target alone (a folder standing at its path, a file that may not be
    // written) when writes to that path begin to fail and when one succeeds,
    // whatever else in its folder succeeds meanwhile.
    // dataWithContentsOfFile is readFile's data.
    static std::optional<NSData> dataWithContentsOfFile(const std::string& path);
    // file: URLs from disk; http(s) by a synchronous GET that follows redirects
    // and gives the body whatever the status; nullopt on failure. Defined in
    // the net library (link platform_net to use it).
    static std::optional<NSData> dataWithContentsOfURL(const std::shared_ptr<NSURL>& url);
    bool writeToFile(const std::string& path, bool atomically) const;
    // As writeToFile(path, true), but the rename is made durable only by a
    // later flushFolder of the file's folder: several new files written
    // together then cost one folder flush instead of one each.
    bool writeToFileLeavingFolderUnflushed(const std::string& path) const;
    static void flushFolder(const std::string& folder);

    // Standard alphabet, padded, no line breaks.
    std::string base64EncodedStringWithOptions(unsigned long options = 0) const;
    // nullopt on a character outside the alphabet unless IgnoreUnknownCharacters.
    static std::optional<NSData> initWithBase64EncodedString(std::string_view text, unsigned long options = 0);

    bool isEqual(const NSData& other) const;
    bool operator==(const NSData& other) const { return isEqual(other); }
    // "<0a0b0c0d 0e0f>"
    std::string description() const;

private:
    std::shared_ptr<std::vector<uint8_t>> bytes_;
    void detach();
};

// A file read whole. Only a file known to be absent (no such file or folder:
// ENOENT, ENOTDIR) is absent; any other failure (an I/O error, too many open
// files, no permission, not a plain file) says nothing of what the file
// holds, so a caller keeps what it stands for, never replaces or deletes it,
// and reads it again later.
struct FileRead {
    std::optional<NSData> data;
    bool absent = false;  // without data: no file there
    int error = 0;        // without data: the errno of the failure
    bool unreadable() const { return !data && !absent; }
};

}  // namespace platform

using platform::NSData;
