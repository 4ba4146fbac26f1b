// One stored report block: its bytes live in a file of their own (named by
// the block's identifier) in the client's file folder; the record keeps the
// identifier, the group the block was last sent with, its size and when it
// was made. Archivable, so a send index can keep it across launches.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/NSCoder.h"
#include "platform/foundation/NSData.h"
#include "platform/runtime/NSDate.h"
#include "platform/runtime/NSObject.h"

class OrreryDataSenderBlockInfo : public NSObject, public NSCoding {
public:
    // Writes the bytes to a new file named by a new UUID; null (logged) when
    // the file cannot be written.
    Ref<OrreryDataSenderBlockInfo> initWithData(const NSData& data);

    // Empty for a record restored with an unusable identifier.
    std::string identifier() const;
    std::optional<std::string> groupIdentifier() const;
    void setGroupIdentifier(std::optional<std::string> groupIdentifier);
    uint64_t size() const;
    NSDate creationDate() const;
    // The block file's path (in the client's file folder).
    std::string filePath() const;
    // The bytes from the file; nothing when the file is gone.
    std::optional<NSData> data() const;
    // Deletes the block file (a missing file is fine).
    void removeFile() const;

    void encodeWithCoder(NSCoder& coder) const override;
    void initWithCoder(const NSCoder& coder) override;

private:
    mutable std::mutex mutex_;  // the group identifier changes while others read
    std::string identifier_;
    std::optional<std::string> groupIdentifier_;
    uint64_t size_ = 0;
    NSDate creationDate_;
};
