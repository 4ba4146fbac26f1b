// One stored report block: its bytes live in a file of their own (named by
// the block's identifier) in the client's file folder; the record keeps the
// identifier, the group the block was last sent with, its size and when it
// was made. Archivable, so a send index can keep it across launches.
//
// The file holds one or more items behind a header: "OBK1", the CRC-32 of
// everything after it, the data key the block was stored under, the item
// count, then each item's length and bytes (big-endian lengths). A report
// sender stores one trigger block a file. Earlier versions stored a
// hand-over's trigger blocks in one file: as one block of several items, or
// as blocks sharing the file, each standing for one item of it; such a file
// is split into files of their own (see separatedFromSharedFile). A file that
// fails its checksum or its framing is damaged: it is dropped with a log line
// and never sent.
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
    // Stores each of `blockItems` as a block of its own, in a file of its own
    // (one item each), under `dataKey`, durably, with one folder flush for
    // them all: every block, or none (their files removed) and an empty list.
    static std::vector<Ref<OrreryDataSenderBlockInfo>> blocksWithItems(const std::vector<NSData>& blockItems,
                                                                        const std::string& dataKey);
    // One item under no data key.
    Ref<OrreryDataSenderBlockInfo> initWithData(const NSData& data) { return initWithItems({data}, std::string()); }
    // The records of a block file found in the client's file folder (whose
    // index lost it): one for a file of one item; for a file of several
    // (trigger blocks an earlier version stored together), one per item, each
    // moved to a file of its own as separatedFromSharedFile does (none while
    // that cannot be done, or while the file cannot be read: it waits). None
    // when the name is no block's, or when the file is damaged or another
    // key's (it is then deleted, logged).
    static std::vector<Ref<OrreryDataSenderBlockInfo>> recoveredFromFile(const std::string& fileName,
                                                                          const std::string& dataKey);
    // Moves `items` of the file `identifier` that blocks of an earlier version
    // share to files of their own under `dataKey` (durably, one folder flush),
    // then deletes the shared file, so that answering or dropping one of them
    // takes its bytes with it. The new files are named after the shared file
    // and the item: a move that a kill cut short is done again without a
    // second copy, and one whose shared file is already gone finds them. The
    // records of the new blocks, one for each of `items` in order: null for an
    // item that is gone or that the file does not hold, and all null when the
    // file is damaged or another key's (it is deleted, logged). Nothing when
    // the move cannot be made now (a full disk, or a file there that cannot
    // be read: an I/O error, too many open files): the shared file stays as
    // it was and no new file is left.
    static std::optional<std::vector<Ref<OrreryDataSenderBlockInfo>>> separatedFromSharedFile(
        const std::string& identifier, const std::vector<uint32_t>& items, const std::string& dataKey);
    // The name of the file of its own that item `item` of the shared file
    // `identifier` moves to: a UUID's shape, the same every time.
    static std::string separatedFileName(const std::string& identifier, uint32_t item);
    // Whether a file name is a block's (a UUID).
    static bool isBlockFileName(std::string_view name);

    // Empty for a record restored with an unusable identifier.
    std::string identifier() const;
    // The item of a shared file (an earlier version's) that this block stands
    // for; nothing for a block with a file of its own.
    std::optional<uint32_t> sharedFileItem() const;
    std::optional<std::string> groupIdentifier() const;
    void setGroupIdentifier(std::optional<std::string> groupIdentifier);
    // The items' bytes together.
    uint64_t size() const;
    NSDate creationDate() const;
    // The block file's path (in the client's file folder).
    std::string filePath() const;
    // The block's items from the file (its own one, when it shares the
    // file), checked; nothing when the file is gone, or damaged (logged), or
    // there but unreadable now (an I/O error, too many open files: logged
    // when that begins), which sets `*unreadable`: such a block is kept and
    // read again later, never dropped.
    std::optional<std::vector<NSData>> items(bool* unreadable = nullptr) const;
    // The items' bytes together, as items() reads them.
    std::optional<NSData> data() const;
    // Deletes the block file (a missing file is fine), with every block that
    // shares it: the index deletes a shared file only once none of them is left.
    void removeFile() const;

    void encodeWithCoder(NSCoder& coder) const override;
    void initWithCoder(const NSCoder& coder) override;

private:
    // Writes the items under `dataKey` to the block file `identifier`; durably
    // unless `flushFolder` is false (the caller flushes the folder later).
    // False (logged) when it cannot.
    static bool writeBlockFile(const std::vector<NSData>& items, const std::string& dataKey, const std::string& identifier,
                               bool flushFolder);
    // separatedFromSharedFile for a shared file read whole, whose items are `fileItems`.
    static std::optional<std::vector<Ref<OrreryDataSenderBlockInfo>>> separated(const std::string& identifier,
                                                                                const std::vector<NSData>& fileItems,
                                                                                const std::vector<uint32_t>& items,
                                                                                const std::string& dataKey, NSDate creationDate);
    // A record of the block file `identifier`, a file of its own.
    static Ref<OrreryDataSenderBlockInfo> recordOf(std::string identifier, uint64_t size, NSDate creationDate);

    mutable std::mutex mutex_;  // the group identifier changes while others read
    std::string identifier_;
    std::optional<uint32_t> item_;  // the one item of a shared file this block stands for
    std::optional<std::string> groupIdentifier_;
    uint64_t size_ = 0;
    NSDate creationDate_;
};
