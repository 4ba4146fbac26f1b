// The archived index of stored report blocks, per data key, in the order
// they were stored. Changes run on the index's own serial queue and are
// saved to the index file (atomically; a run of asynchronous changes once,
// after its last), so the index and its block files carry over to the next
// launch.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "analytics/OrreryDataSenderBlockInfo.h"
#include "platform/foundation/NSCoder.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/NSObject.h"

class OrreryDataSenderIndex : public NSObject, public NSCoding {
public:
    // discardOutdatedBlocksForDataKey keeps this many blocks of a key.
    static constexpr size_t kMaxBlocksPerKey = 50;

    // Loads the index from `fileName` in the client's file folder, or makes
    // an empty one when there is none there or its bytes hold no index
    // (logged). An index file that is there but cannot be read now (an I/O
    // error, too many open files) is not replaced: the index starts unread,
    // keeps in memory what is added meanwhile, saves nothing, and
    // readStoredIndex tries the file again.
    static Ref<OrreryDataSenderIndex> instantiatedIndexWithIndexFile(const std::string& fileName);
    // True once the index file has been read (or was not there). For an
    // unread index, reads it again; once it can be, what it names goes before
    // the blocks added since, and the index is saved.
    bool readStoredIndex();

    // Drops every other data key together with its block files.
    void setupForCurrentDataKey(const std::string& dataKey);
    // Gives each block of the key that still shares a file (an earlier
    // version stored a hand-over's blocks so) a file of its own, in its place
    // in the index, and saves: once an answer or a discard takes one of them,
    // no other's file holds it any more for a lost index to bring back. Blocks
    // whose item is gone are dropped. Run it before recoverBlockFilesForDataKey.
    // Returns how many blocks still share a file (a full disk, a file that
    // cannot be read now): they keep their places and their file, and are not
    // to be sent until a later call moves them.
    size_t separateSharedBlockFiles(const std::string& dataKey);
    // Adds, under the key, the block files of the folder that the index does
    // not name (stored before a crash lost the index, or the index itself was
    // lost), oldest first; damaged files and other keys' are deleted, and a
    // file of several items becomes a block each. The files a waiting split
    // will move items to count as named. Run it only on a read index.
    // Returns how many blocks were recovered.
    size_t recoverBlockFilesForDataKey(const std::string& dataKey);
    // Appends the block under the key and saves (asynchronously).
    void addBlockInfo(Ref<OrreryDataSenderBlockInfo> blockInfo, const std::string& dataKey);
    // Appends the blocks under the key in one change: one save for them all.
    void addBlockInfos(std::vector<Ref<OrreryDataSenderBlockInfo>> blockInfos, const std::string& dataKey);
    // Removes every block of the key whose identifier or group identifier
    // equals `identifier`, deletes their files (a file blocks stored together
    // share, once none of them is left) and saves (asynchronously).
    void removeBlockInfoWithIdentifier(const std::string& identifier, const std::string& dataKey);
    // Removes that one block of the key (blocks sharing its file stay),
    // deletes its file once no block names it and saves (asynchronously).
    void removeBlockInfo(Ref<OrreryDataSenderBlockInfo> blockInfo, const std::string& dataKey);
    // The key's blocks in order (empty when none), after every change issued before.
    std::vector<Ref<OrreryDataSenderBlockInfo>> notSentBlocksForDataKey(const std::string& dataKey);
    // Keeps the key's last 50 blocks, deleting the earlier ones with their
    // files (but for blocks sharing a file with a kept one, which stay too);
    // returns whether anything was dropped and the index saved.
    bool discardOutdatedBlocksForDataKey(const std::string& dataKey);
    void setSentReportSuccessfully(bool sent);
    bool sentReportSuccessfully() const { return sentReportSuccessfully_.load(); }

    // Returns once every change issued so far has been saved.
    void waitForPendingChanges();
    const std::string& indexFilePath() const { return path_; }

    void encodeWithCoder(NSCoder& coder) const override;
    void initWithCoder(const NSCoder& coder) override;

private:
    void attachToFile(std::string path);
    // Runs `change` on the queue; it returns whether it changed anything.
    void changeAsync(std::function<bool()> change);
    void saveOnQueue();
    // On the queue: deletes the files of `dropped` that no block left names.
    void removeFilesNoLongerNamed(const std::vector<Ref<OrreryDataSenderBlockInfo>>& dropped);

    dispatch_queue_t queue_;
    std::string path_;
    // Touched only on queue_ once attached.
    std::map<std::string, std::vector<Ref<OrreryDataSenderBlockInfo>>> blocks_;
    std::atomic<bool> sentReportSuccessfully_{false};
    std::atomic<int> pendingChanges_{0};  // asynchronous changes issued, not yet run
    bool unsavedChanges_ = false;         // on queue_
    bool unread_ = false;                 // on queue_: the index file could not be read yet
};
