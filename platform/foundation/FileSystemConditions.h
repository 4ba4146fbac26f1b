// Test seams for the file system as the platform reports, writes and reads
// it: the free space reported for a folder, writes under a folder that fail
// as on a full disk, and reads that fail. Nothing is simulated until a test
// sets it; each test runs in a process of its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

namespace testing {

class FileSystemConditions {
public:
    // NSFileManager::attributesOfFileSystemForPath for `folder` or anything
    // inside it reports `freeBytes` as NSFileSystemFreeSize (the innermost
    // folder set wins); nullopt stops simulating for that folder.
    static void setFreeSpace(const std::string& folder, std::optional<uint64_t> freeBytes);
    // While on, every platform write of data under `folder` fails as on a
    // full disk: NSData::writeToFile (and so property lists, archives and
    // user defaults) and NSFileHandle::writeData answer false (errno ENOSPC,
    // a log line); NSFileManager's createFileAtPath answers false and its
    // createDirectory and copy into the folder fail with
    // NSFileWriteOutOfSpaceError (640). What was there stays unchanged. A
    // move (a rename, which needs no space) still succeeds.
    static void setWritesFail(const std::string& folder, bool fail);
    // NSData::readFile (and so dataWithContentsOfFile, property lists,
    // archives and user defaults) of `path`, or of anything inside it,
    // answers nothing with errno `error` (EIO, EMFILE, …), as an unreadable
    // file would (ENOENT: as an absent one); the file stays as it is, and
    // its attributes can still be read. nullopt stops.
    static void setReadsFail(const std::string& path, std::optional<int> error);
};

}  // namespace testing

namespace files {

// For the platform's own file code: what the seams above say about `path`.
std::optional<uint64_t> simulatedFreeSpace(const std::string& path);
// True (errno set to ENOSPC) when writes under `path` are made to fail.
bool writeFailsAt(const std::string& path);
// True (errno set to the error given) when reads of `path` are made to fail.
bool readFailsAt(const std::string& path);

}  // namespace files

}  // namespace platform
