#include "analytics/OrreryDataSenderIndex.h"

#include <algorithm>
#include <set>

#include "analytics/OrreryLog.h"
#include "analytics/OrreryUtil.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSURL.h"

namespace {
constexpr const char* kBlocksKey = "blocks";
constexpr const char* kSentReportSuccessfullyKey = "sentReportSuccessfully";

// The index an archive read from `path` holds; null for none (logged when
// something else is there).
Ref<OrreryDataSenderIndex> storedIndex(const Value& stored, const std::string& path) {
    Ref<OrreryDataSenderIndex> index = stored.object<OrreryDataSenderIndex>();
    if (!index && !stored.isNull()) OrreryLog::error("the send index " + path + " holds no index; starting empty");
    return index;
}
}  // namespace

Ref<OrreryDataSenderIndex> OrreryDataSenderIndex::instantiatedIndexWithIndexFile(const std::string& fileName) {
    std::string path = OrreryUtil::filePathDirectory() + "/" + fileName;
    std::optional<Value> stored = OrreryUtil::readArchiveFile(path);
    Ref<OrreryDataSenderIndex> index = stored ? storedIndex(*stored, path) : nullptr;
    if (!index) index = alloc<OrreryDataSenderIndex>();
    index->unread_ = !stored;
    index->attachToFile(std::move(path));
    return index;
}

bool OrreryDataSenderIndex::readStoredIndex() {
    bool read = false;
    dispatch_sync(queue_, [&] {
        if (!unread_) {
            read = true;
            return;
        }
        std::optional<Value> stored = OrreryUtil::readArchiveFile(path_);
        if (!stored) return;
        // What it names is older than what was added since.
        if (Ref<OrreryDataSenderIndex> index = storedIndex(*stored, path_)) {
            for (auto& [dataKey, added] : blocks_) {
                auto& blocks = index->blocks_[dataKey];
                blocks.insert(blocks.end(), added.begin(), added.end());
            }
            blocks_ = std::move(index->blocks_);
            if (index->sentReportSuccessfully()) sentReportSuccessfully_.store(true);
        }
        unread_ = false;
        saveOnQueue();
        read = true;
    });
    return read;
}

void OrreryDataSenderIndex::attachToFile(std::string path) {
    path_ = std::move(path);
    queue_ = dispatch_queue_create("orrery.senderIndex", DISPATCH_QUEUE_SERIAL);
}

void OrreryDataSenderIndex::saveOnQueue() {
    // Never over an index that could not be read: what it names would be lost.
    if (unread_) {
        unsavedChanges_ = true;
        return;
    }
    unsavedChanges_ = false;
    if (!OrreryUtil::archiveObject(Value(self<OrreryDataSenderIndex>()), path_)) {
        OrreryLog::error("could not save the send index " + path_);
        return;
    }
    OrreryUtil::addSkipBackupAttributeToItemAtURL(NSURL::fileURLWithPath(path_));
}

void OrreryDataSenderIndex::setupForCurrentDataKey(const std::string& dataKey) {
    dispatch_sync(queue_, [this, &dataKey] {
        bool changed = false;
        for (auto it = blocks_.begin(); it != blocks_.end();) {
            if (it->first == dataKey) {
                ++it;
                continue;
            }
            std::vector<Ref<OrreryDataSenderBlockInfo>> dropped = std::move(it->second);
            it = blocks_.erase(it);
            removeFilesNoLongerNamed(dropped);
            changed = true;
        }
        if (changed || unsavedChanges_) saveOnQueue();
    });
}

size_t OrreryDataSenderIndex::separateSharedBlockFiles(const std::string& dataKey) {
    size_t waiting = 0;
    dispatch_sync(queue_, [&] {
        auto found = blocks_.find(dataKey);
        if (found == blocks_.end()) return;
        std::vector<Ref<OrreryDataSenderBlockInfo>>& blocks = found->second;
        // Each shared file's items that blocks stand for, each once.
        std::map<std::string, std::vector<uint32_t>> shared;
        for (const auto& block : blocks)
            if (std::optional<uint32_t> item = block->sharedFileItem()) shared[block->identifier()].push_back(*item);
        if (shared.empty()) return;
        std::map<std::pair<std::string, uint32_t>, Ref<OrreryDataSenderBlockInfo>> moved;
        for (auto& [identifier, items] : shared) {
            std::sort(items.begin(), items.end());
            items.erase(std::unique(items.begin(), items.end()), items.end());
            auto separated = OrreryDataSenderBlockInfo::separatedFromSharedFile(identifier, items, dataKey);
            if (!separated) continue;
            for (size_t i = 0; i < items.size(); ++i) moved[{identifier, items[i]}] = (*separated)[i];
        }
        // A moved file that an earlier start's recovery added a record for
        // already (a split cut short, then the group waited): that record is
        // the block's one, kept where it is (it may be in flight).
        std::set<std::string> ownFiles;
        for (const auto& block : blocks)
            if (!block->sharedFileItem()) ownFiles.insert(block->identifier());
        std::vector<Ref<OrreryDataSenderBlockInfo>> kept;
        bool changed = false;
        for (const auto& block : blocks) {
            std::optional<uint32_t> item = block->sharedFileItem();
            auto it = item ? moved.find({block->identifier(), *item}) : moved.end();
            if (it == moved.end()) {
                if (item) ++waiting;
                kept.push_back(block);
                continue;
            }
            changed = true;
            // Gone, a second record of the same item, or recorded already.
            if (!it->second || ownFiles.count(it->second->identifier())) continue;
            it->second->setGroupIdentifier(block->groupIdentifier());
            kept.push_back(std::move(it->second));
            it->second = nullptr;
        }
        if (!changed) return;
        blocks = std::move(kept);
        saveOnQueue();
    });
    return waiting;
}

size_t OrreryDataSenderIndex::recoverBlockFilesForDataKey(const std::string& dataKey) {
    size_t recovered = 0;
    dispatch_sync(queue_, [&] {
        std::set<std::string> named;
        for (const auto& [key, blocks] : blocks_) {
            for (const auto& block : blocks) {
                named.insert(block->identifier());
                // A group waiting to be split names its moved files itself
                // once it is: added here too, they would be sent twice.
                if (std::optional<uint32_t> item = block->sharedFileItem())
                    named.insert(OrreryDataSenderBlockInfo::separatedFileName(block->identifier(), *item));
            }
        }
        std::vector<Ref<OrreryDataSenderBlockInfo>> found;
        for (const std::string& name : NSFileManager::defaultManager()->contentsOfDirectoryAtPath(OrreryUtil::filePathDirectory())) {
            if (named.count(name) || !OrreryDataSenderBlockInfo::isBlockFileName(name)) continue;
            // A file of several items gives files of their own, which the
            // listing may hold already (a split a kill cut short): each once.
            for (auto& block : OrreryDataSenderBlockInfo::recoveredFromFile(name, dataKey))
                if (named.insert(block->identifier()).second) found.push_back(std::move(block));
        }
        if (found.empty()) return;
        std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
            return a->creationDate().timeIntervalSince1970() < b->creationDate().timeIntervalSince1970();
        });
        auto& blocks = blocks_[dataKey];
        blocks.insert(blocks.end(), found.begin(), found.end());
        recovered = found.size();
        OrreryLog::log(OrreryLog::kInfo,
                       "recovered " + std::to_string(recovered) + " report block(s) the send index did not name");
        saveOnQueue();
    });
    return recovered;
}

void OrreryDataSenderIndex::changeAsync(std::function<bool()> change) {
    pendingChanges_.fetch_add(1);
    auto me = self<OrreryDataSenderIndex>();
    dispatch_async(queue_, [me, change = std::move(change)] {
        bool changed = change();
        // A run of changes is saved once, by its last change.
        if (changed) me->unsavedChanges_ = true;
        if (me->pendingChanges_.fetch_sub(1) == 1 && me->unsavedChanges_) me->saveOnQueue();
    });
}

void OrreryDataSenderIndex::addBlockInfo(Ref<OrreryDataSenderBlockInfo> blockInfo, const std::string& dataKey) {
    if (blockInfo) addBlockInfos({std::move(blockInfo)}, dataKey);
}

void OrreryDataSenderIndex::addBlockInfos(std::vector<Ref<OrreryDataSenderBlockInfo>> blockInfos, const std::string& dataKey) {
    std::erase(blockInfos, nullptr);
    if (blockInfos.empty()) return;
    OrreryDataSenderIndex* me = this;
    changeAsync([me, blockInfos = std::move(blockInfos), dataKey] {
        auto& blocks = me->blocks_[dataKey];
        blocks.insert(blocks.end(), blockInfos.begin(), blockInfos.end());
        return true;
    });
}

void OrreryDataSenderIndex::removeBlockInfoWithIdentifier(const std::string& identifier, const std::string& dataKey) {
    OrreryDataSenderIndex* me = this;
    changeAsync([me, identifier, dataKey] {
        auto found = me->blocks_.find(dataKey);
        if (found == me->blocks_.end()) return false;
        std::vector<Ref<OrreryDataSenderBlockInfo>> removed;
        std::erase_if(found->second, [&](const Ref<OrreryDataSenderBlockInfo>& block) {
            if (block->identifier() != identifier && block->groupIdentifier() != identifier) return false;
            removed.push_back(block);
            return true;
        });
        me->removeFilesNoLongerNamed(removed);
        return !removed.empty();
    });
}

void OrreryDataSenderIndex::removeBlockInfo(Ref<OrreryDataSenderBlockInfo> blockInfo, const std::string& dataKey) {
    if (!blockInfo) return;
    OrreryDataSenderIndex* me = this;
    changeAsync([me, blockInfo = std::move(blockInfo), dataKey] {
        auto found = me->blocks_.find(dataKey);
        if (found == me->blocks_.end() || std::erase(found->second, blockInfo) == 0) return false;
        me->removeFilesNoLongerNamed({blockInfo});
        return true;
    });
}

std::vector<Ref<OrreryDataSenderBlockInfo>> OrreryDataSenderIndex::notSentBlocksForDataKey(const std::string& dataKey) {
    std::vector<Ref<OrreryDataSenderBlockInfo>> result;
    dispatch_sync(queue_, [this, &dataKey, &result] {
        if (auto found = blocks_.find(dataKey); found != blocks_.end()) result = found->second;
    });
    return result;
}

bool OrreryDataSenderIndex::discardOutdatedBlocksForDataKey(const std::string& dataKey) {
    bool saved = false;
    dispatch_sync(queue_, [this, &dataKey, &saved] {
        auto found = blocks_.find(dataKey);
        if (found == blocks_.end() || found->second.size() <= kMaxBlocksPerKey) return;
        auto& blocks = found->second;
        const auto firstKept = blocks.end() - static_cast<std::ptrdiff_t>(kMaxBlocksPerKey);
        // Blocks that still share a file (waiting for files of their own)
        // stay with a kept one: dropping them alone would leave their bytes
        // in that file for a lost or unsaved index to bring back.
        std::set<std::string> sharedKept;
        for (auto it = firstKept; it != blocks.end(); ++it)
            if ((*it)->sharedFileItem()) sharedKept.insert((*it)->identifier());
        std::vector<Ref<OrreryDataSenderBlockInfo>> dropped, kept;
        for (auto it = blocks.begin(); it != firstKept; ++it)
            ((*it)->sharedFileItem() && sharedKept.count((*it)->identifier()) ? kept : dropped).push_back(*it);
        if (dropped.empty()) return;
        kept.insert(kept.end(), firstKept, blocks.end());
        blocks = std::move(kept);
        removeFilesNoLongerNamed(dropped);
        saveOnQueue();  // with any change still unsaved
        saved = true;
    });
    return saved;
}

void OrreryDataSenderIndex::removeFilesNoLongerNamed(const std::vector<Ref<OrreryDataSenderBlockInfo>>& dropped) {
    if (dropped.empty()) return;
    std::set<std::string> named;
    for (const auto& [key, blocks] : blocks_)
        for (const auto& block : blocks) named.insert(block->identifier());
    for (const auto& block : dropped)
        if (named.insert(block->identifier()).second) block->removeFile();
}

void OrreryDataSenderIndex::setSentReportSuccessfully(bool sent) {
    // Saved only when it changes: every answer sets it.
    if (sentReportSuccessfully_.exchange(sent) == sent) return;
    changeAsync([] { return true; });
}

void OrreryDataSenderIndex::waitForPendingChanges() {
    dispatch_sync(queue_, [] {});
}

void OrreryDataSenderIndex::encodeWithCoder(NSCoder& coder) const {
    ValueDictionary keys;
    for (const auto& [dataKey, blocks] : blocks_) {
        Value list = Value(Value::Array());
        for (const auto& block : blocks) list.append(Value(block));
        keys.set(dataKey, std::move(list));
    }
    coder.encodeObject(Value(std::move(keys)), kBlocksKey);
    coder.encodeBool(sentReportSuccessfully_.load(), kSentReportSuccessfullyKey);
}

void OrreryDataSenderIndex::initWithCoder(const NSCoder& coder) {
    blocks_.clear();
    Value keys = coder.decodeObjectForKey(kBlocksKey);
    if (const ValueDictionary* dictionary = keys.dictionary()) {
        for (const auto& [dataKey, list] : *dictionary) {
            auto& blocks = blocks_[dataKey];
            if (!list.array()) continue;
            for (const Value& element : *list.array()) {
                auto block = element.object<OrreryDataSenderBlockInfo>();
                // A record without a usable identifier has no file to go with it.
                if (block && !block->identifier().empty()) blocks.push_back(std::move(block));
            }
        }
    }
    sentReportSuccessfully_.store(coder.decodeBoolForKey(kSentReportSuccessfullyKey));
}
