// File-system operations with the platform's outcomes: errors in
// NSCocoaErrorDomain, moves and copies that never overwrite, attributes as
// dictionaries, a recursive directory enumerator.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/NSData.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

namespace platform {

// NSCocoaErrorDomain codes of file operations.
inline constexpr int64_t NSFileNoSuchFileError = 4;
inline constexpr int64_t NSFileReadUnknownError = 256;
inline constexpr int64_t NSFileReadNoSuchFileError = 260;
inline constexpr int64_t NSFileWriteUnknownError = 512;
inline constexpr int64_t NSFileWriteFileExistsError = 516;
inline constexpr int64_t NSFileWriteOutOfSpaceError = 640;

// Attribute keys and values (their own names).
inline constexpr const char* NSFileSize = "NSFileSize";
inline constexpr const char* NSFileModificationDate = "NSFileModificationDate";
inline constexpr const char* NSFileCreationDate = "NSFileCreationDate";
inline constexpr const char* NSFileType = "NSFileType";
inline constexpr const char* NSFileTypeDirectory = "NSFileTypeDirectory";
inline constexpr const char* NSFileTypeRegular = "NSFileTypeRegular";
inline constexpr const char* NSFileTypeSymbolicLink = "NSFileTypeSymbolicLink";
inline constexpr const char* NSFileTypeUnknown = "NSFileTypeUnknown";
inline constexpr const char* NSFileSystemSize = "NSFileSystemSize";
inline constexpr const char* NSFileSystemFreeSize = "NSFileSystemFreeSize";
inline constexpr const char* NSFilePathErrorKey = "NSFilePath";

// Walks a folder depth first, names sorted within each folder; paths are
// relative to the folder walked.
class NSDirectoryEnumerator : public NSObject {
public:
    Ref<NSDirectoryEnumerator> initWithPath(const std::string& path);
    // The next relative path, nullopt at the end.
    std::optional<std::string> nextObject();
    // Attributes of the entry nextObject() last returned (as attributesOfItemAtPath).
    Value fileAttributes() const;
    // Do not descend into the folder nextObject() last returned.
    void skipDescendants();

private:
    std::string root_;
    std::vector<std::string> pending_;  // relative paths, next at the back
    std::string current_;
    Value currentAttributes_;
    bool skip_ = false;
};

class NSFileManager : public NSObject {
public:
    static Ref<NSFileManager> defaultManager();

    // True for folders too.
    bool fileExistsAtPath(const std::string& path) const;
    bool fileExistsAtPath(const std::string& path, bool* isDirectory) const;

    // An existing folder is success with intermediates and error 516 without.
    bool createDirectoryAtPath(const std::string& path, bool withIntermediateDirectories,
                               const Value& attributes = Value(), Ref<NSError>* error = nullptr);
    // Creates or truncates, writing `contents` (atomically). A modification
    // date among the attributes is applied.
    bool createFileAtPath(const std::string& path, const std::optional<NSData>& contents,
                          const Value& attributes = Value());
    std::optional<NSData> contentsAtPath(const std::string& path) const;
    // Folders recursively. A missing item is error 4.
    bool removeItemAtPath(const std::string& path, Ref<NSError>* error = nullptr);
    // Names in the folder, sorted; empty with error 260 when it cannot be read.
    std::vector<std::string> contentsOfDirectoryAtPath(const std::string& path, Ref<NSError>* error = nullptr) const;
    // Null when the folder cannot be read.
    Ref<NSDirectoryEnumerator> enumeratorAtPath(const std::string& path) const;

    // {NSFileSize, NSFileModificationDate, NSFileCreationDate, NSFileType};
    // Null and error 260 when missing. The creation date is the file
    // system's birth time; where it keeps none, the first date seen is kept
    // with the item (an extended attribute), so it never changes across
    // restarts or writes into the item.
    Value attributesOfItemAtPath(const std::string& path, Ref<NSError>* error = nullptr) const;
    // Applies NSFileModificationDate (other keys are ignored).
    bool setAttributes(const Value& attributes, const std::string& path, Ref<NSError>* error = nullptr);

    // Never overwrite: an existing destination fails with error 516 and
    // leaves both items as they were. A missing source is error 4 (move) or
    // 260 (copy). A copy never leaves a partial file under the destination's name.
    bool moveItemAtPath(const std::string& source, const std::string& destination, Ref<NSError>* error = nullptr);
    bool copyItemAtPath(const std::string& source, const std::string& destination, Ref<NSError>* error = nullptr);

    // {NSFileSystemFreeSize, NSFileSystemSize} of the file system holding
    // `path`; Null and error 260 for a missing path. Test seam:
    // testing::FileSystemConditions (FileSystemConditions.h).
    Value attributesOfFileSystemForPath(const std::string& path, Ref<NSError>* error = nullptr) const;

    // The folder of NSSearchPathForDirectoriesInDomains as a file URL.
    std::vector<Ref<NSURL>> URLsForDirectory(NSSearchPathDirectory directory, unsigned long domainMask) const;
};

}  // namespace platform

using platform::NSDirectoryEnumerator;
using platform::NSFileManager;
using platform::NSFileCreationDate;
using platform::NSFileModificationDate;
using platform::NSFileNoSuchFileError;
using platform::NSFileReadNoSuchFileError;
using platform::NSFileReadUnknownError;
using platform::NSFileWriteFileExistsError;
using platform::NSFileWriteOutOfSpaceError;
using platform::NSFileWriteUnknownError;
using platform::NSFileSize;
using platform::NSFileSystemFreeSize;
using platform::NSFileSystemSize;
using platform::NSFileType;
using platform::NSFileTypeDirectory;
using platform::NSFileTypeRegular;
using platform::NSFileTypeSymbolicLink;
using platform::NSFileTypeUnknown;
