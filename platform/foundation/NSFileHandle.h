// An open file for sequential reading or writing (downloads written piece by
// piece). Write errors are answered with false, never raised.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/foundation/NSData.h"
#include "platform/runtime/NSObject.h"

namespace platform {

class NSFileHandle : public NSObject {
public:
    // Null when the file does not exist (or cannot be opened). Writing starts
    // at offset 0 without truncating.
    static Ref<NSFileHandle> fileHandleForWritingAtPath(const std::string& path);
    static Ref<NSFileHandle> fileHandleForReadingAtPath(const std::string& path);

    // The new offset (0 when closed).
    uint64_t seekToEndOfFile();
    // False (and a log line) on a write error or when closed.
    bool writeData(const NSData& data);
    // From the current offset to the end; empty when closed or on error.
    NSData readDataToEndOfFile();
    void synchronizeFile();
    void closeFile();

    ~NSFileHandle() override;

private:
    static Ref<NSFileHandle> open(const std::string& path, int flags);

    std::mutex mutex_;
    std::string path_;
    int fd_ = -1;
};

}  // namespace platform

using platform::NSFileHandle;
