// One stored report block: its bytes live in a file (named by the block's
// identifier) in the client's file folder; the record keeps the identifier,
// the group the block was last sent with, its size and when it was made.
// Blocks stored together share one file (and so its identifier), each
// standing for one item of it. Archivable, so a send index can keep it
// across launches.
//
// The file holds one or more items (a block of its own holds them all,
// blocks stored together one each) behind a header: "OBK1", the CRC-32 of everything after it,
// the data key the block was stored under, the item count, then each item's
// length and bytes (big-endian lengths). A file that fails its checksum or
// its framing is damaged: it is dropped with a log line and never sent.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/NSCoder.h"
#include "platform/foundation/NSData.h"
#include "platform/runtime/NSDate.h"
#include "platform/runtime/NSObject.h"

class OrreryDataSenderBlockInfo : public NSObject, public NSCoding {
public:
    // Writes the items, stored under `dataKey`, to a new file named by a new
    // UUID (durably: the file is flushed before this returns); null (logged)
    // when the file cannot be written or there is no item.
    Ref<OrreryDataSenderBlockInfo> initWithItems(const std::vector<NSData>& items, const std::string& dataKey);
    // Stores each of `blockItems` as a block of its own (one item each)
    // under `dataKey`, durably, in one file flushed once: every block, or
    // none (no file left) and an empty list.
    static std::vector<Ref<OrreryDataSenderBlockInfo>> blocksWithItems(const std::vector<NSData>& blockItems,
                                                                        const std::string& dataKey);
    // One item under no data key.
    Ref<OrreryDataSenderBlockInfo> initWithData(const NSData& data) { return initWithItems({data}, std::string()); }
    // The records of a block file found in the client's file folder (whose
    // index lost it): one for a file of one item, one per item for a file of
    // blocks stored together; none when the name is no block's, or when the
    // file is damaged or another key's (the file is then deleted, logged).
    static std::vector<Ref<OrreryDataSenderBlockInfo>> recoveredFromFile(const std::string& fileName,
                                                                          const std::string& dataKey);
    // Whether a file name is a block's (a UUID).
    static bool isBlockFileName(std::string_view name);

    // Empty for a record restored with an unusable identifier. Blocks stored
    // together share it.
    std::string identifier() const;
    std::optional<std::string> groupIdentifier() const;
    void setGroupIdentifier(std::optional<std::string> groupIdentifier);
    // The items' bytes together.
    uint64_t size() const;
    NSDate creationDate() const;
    // The block file's path (in the client's file folder).
    std::string filePath() const;
    // The block's items from the file (its own one, when it shares the
    // file), checked; nothing when the file is gone or damaged (logged).
    std::optional<std::vector<NSData>> items() const;
    // The items' bytes together, as items() reads them.
    std::optional<NSData> data() const;
    // Deletes the block file (a missing file is fine), with every block that
    // shares it: the index deletes a shared file once none of them is left.
    void removeFile() const;

    void encodeWithCoder(NSCoder& coder) const override;
    void initWithCoder(const NSCoder& coder) override;

private:
    // Writes the items under `dataKey` to a new block file, durably; its
    // identifier, or nothing (logged).
    static std::optional<std::string> writeBlockFile(const std::vector<NSData>& items, const std::string& dataKey);
    // A record of `identifier`'s file: of its item `item`, or of all its items.
    static Ref<OrreryDataSenderBlockInfo> recordOf(std::string identifier, std::optional<uint32_t> item, uint64_t size,
                                                  NSDate creationDate);

    mutable std::mutex mutex_;  // the group identifier changes while others read
    std::string identifier_;
    std::optional<uint32_t> item_;  // the one item of a shared file this block stands for
    std::optional<std::string> groupIdentifier_;
    uint64_t size_ = 0;
    NSDate creationDate_;
};
