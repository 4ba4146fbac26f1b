#include "analytics/OrreryDataSenderBlockInfo.h"

#include "analytics/OrreryLog.h"
#include "analytics/OrreryUtil.h"
#include "platform/foundation/LastingConditions.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/runtime/Log.h"

namespace {
constexpr const char* kIdentifierKey = "identifier";
constexpr const char* kGroupIdentifierKey = "groupIdentifier";
constexpr const char* kSizeKey = "size";
constexpr const char* kCreationDateKey = "creationDate";
constexpr const char* kItemKey = "item";
constexpr std::string_view kBlockFileMagic = "OBK1";
constexpr size_t kBlockFileHeaderLength = 8;  // magic, checksum

// Folders where block files could not be written at the last attempt (a
// full disk lasts, and every hand-over and walk tries again), and where the
// items of shared files could not be given files of their own.
constexpr size_t kBlockFoldersKept = 4;
platform::LastingConditions& unwritableBlockFolders() {
    static auto* folders = new platform::LastingConditions(kBlockFoldersKept);  // never destroyed: walks may run at exit
    return *folders;
}
platform::LastingConditions& unsplitFolders() {
    static auto* folders = new platform::LastingConditions(kBlockFoldersKept);  // never destroyed: walks may run at exit
    return *folders;
}

bool isPlainFileName(const std::string& name) {
    if (name.empty() || name.size() > 64) return false;
    for (char c : name)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-')) return false;
    return true;
}

void blockFilePutBigEndian(uint64_t value, int byteCount, NSData& data) {
    uint8_t bytes[8];
    for (int i = 0; i < byteCount; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * (byteCount - 1 - i)));
    data.appendBytes(bytes, static_cast<size_t>(byteCount));
}

uint64_t blockFileGetBigEndian(const uint8_t* bytes, int byteCount) {
    uint64_t value = 0;
    for (int i = 0; i < byteCount; ++i) value = (value << 8) | bytes[i];
    return value;
}

// The checked contents of a block file: its data key and items.
struct OrreryBlockFileContents {
    std::string dataKey;
    std::vector<NSData> items;
};

std::optional<OrreryBlockFileContents> readBlockFile(const NSData& file) {
    const uint8_t* bytes = file.bytes();
    const size_t length = file.length();
    if (length < kBlockFileHeaderLength + 6 || file.stringView().substr(0, 4) != kBlockFileMagic) return std::nullopt;
    const uint32_t checksum = static_cast<uint32_t>(blockFileGetBigEndian(bytes + 4, 4));
    if (OrreryUtil::dataChecksum(file.subdataWithRange(kBlockFileHeaderLength, length - kBlockFileHeaderLength)) !=
        static_cast<int32_t>(checksum))
        return std::nullopt;
    size_t at = kBlockFileHeaderLength;
    auto take = [&](size_t n) -> const uint8_t* {
        if (length - at < n) return nullptr;
        const uint8_t* p = bytes + at;
        at += n;
        return p;
    };
    OrreryBlockFileContents contents;
    const uint8_t* keyLength = take(2);
    const uint8_t* key = keyLength ? take(blockFileGetBigEndian(keyLength, 2)) : nullptr;
    const uint8_t* count = key ? take(4) : nullptr;
    if (!count) return std::nullopt;
    contents.dataKey.assign(reinterpret_cast<const char*>(key), blockFileGetBigEndian(keyLength, 2));
    for (uint64_t n = blockFileGetBigEndian(count, 4); n > 0; --n) {
        const uint8_t* itemLength = take(4);
        const uint8_t* item = itemLength ? take(blockFileGetBigEndian(itemLength, 4)) : nullptr;
        if (!item) return std::nullopt;
        contents.items.emplace_back(item, blockFileGetBigEndian(itemLength, 4));
    }
    if (at != length || contents.items.empty()) return std::nullopt;
    return contents;
}

// When the file was last written; now when that cannot be read.
NSDate blockFileModificationDate(const std::string& path) {
    const Value modified = NSFileManager::defaultManager()->attributesOfItemAtPath(path)[NSFileModificationDate];
    return modified.date() ? *modified.date() : NSDate::date();
}

}  // namespace

Ref<OrreryDataSenderBlockInfo> OrreryDataSenderBlockInfo::initWithItems(const std::vector<NSData>& items,
                                                                        const std::string& dataKey) {
    std::string identifier = OrreryUtil::generateCFUUID();
    if (!writeBlockFile(items, dataKey, identifier, true)) return nullptr;
    uint64_t size = 0;
    for (const NSData& item : items) size += item.length();
    std::lock_guard lock(mutex_);
    identifier_ = std::move(identifier);
    size_ = size;
    creationDate_ = NSDate::date();
    return self<OrreryDataSenderBlockInfo>();
}

std::vector<Ref<OrreryDataSenderBlockInfo>> OrreryDataSenderBlockInfo::blocksWithItems(const std::vector<NSData>& blockItems,
                                                                                    const std::string& dataKey) {
    // A file each: an answer or a discard that takes one block takes its
    // bytes with it, so no lost index can bring them back.
    std::vector<Ref<OrreryDataSenderBlockInfo>> blocks;
    const NSDate now = NSDate::date();
    for (const NSData& item : blockItems) {
        std::string identifier = OrreryUtil::generateCFUUID();
        if (!writeBlockFile({item}, dataKey, identifier, false)) {
            for (const auto& stored : blocks) stored->removeFile();
            return {};
        }
        blocks.push_back(recordOf(std::move(identifier), item.length(), now));
    }
    if (!blocks.empty()) NSData::flushFolder(OrreryUtil::filePathDirectory());
    return blocks;
}

Ref<OrreryDataSenderBlockInfo> OrreryDataSenderBlockInfo::recordOf(std::string identifier, uint64_t size,
                                                                   NSDate creationDate) {
    auto block = alloc<OrreryDataSenderBlockInfo>();
    std::lock_guard lock(block->mutex_);
    block->identifier_ = std::move(identifier);
    block->size_ = size;
    block->creationDate_ = creationDate;
    return block;
}

bool OrreryDataSenderBlockInfo::writeBlockFile(const std::vector<NSData>& items, const std::string& dataKey,
                                               const std::string& identifier, bool flushFolder) {
    if (items.empty() || items.size() > 0xFFFFFFFFu || dataKey.size() > 0xFFFF) {
        OrreryLog::error("a report block needs one item or more and a short data key; nothing is stored");
        return false;
    }
    NSData body;
    blockFilePutBigEndian(dataKey.size(), 2, body);
    body.appendBytes(dataKey.data(), dataKey.size());
    blockFilePutBigEndian(items.size(), 4, body);
    for (const NSData& item : items) {
        if (item.length() > 0xFFFFFFFFu) {
            OrreryLog::error("a report block item is too large to store; nothing is stored");
            return false;
        }
        blockFilePutBigEndian(item.length(), 4, body);
        body.appendData(item);
    }
    NSData file;
    file.appendBytes(kBlockFileMagic.data(), kBlockFileMagic.size());
    blockFilePutBigEndian(static_cast<uint32_t>(OrreryUtil::dataChecksum(body)), 4, file);
    file.appendData(body);

    const std::string folder = OrreryUtil::filePathDirectory();
    const std::string path = folder + "/" + identifier;
    if (!(flushFolder ? file.writeToFile(path, true) : file.writeToFileLeavingFolderUnflushed(path))) {
        if (unwritableBlockFolders().fails(folder, 0) != platform::LastingConditions::Onset::None)
            OrreryLog::error("could not write the report block file " + path + "; blocks are not stored until one can be");
        return false;
    }
    if (unwritableBlockFolders().succeeds(folder)) OrreryLog::error("report block files can be written again");
    return true;
}

std::string OrreryDataSenderBlockInfo::separatedFileName(const std::string& identifier, uint32_t item) {
    const std::string hex = OrreryUtil::md5String(identifier + "#" + std::to_string(item));
    return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
           hex.substr(20, 12);
}

std::optional<std::vector<Ref<OrreryDataSenderBlockInfo>>> OrreryDataSenderBlockInfo::separatedFromSharedFile(
    const std::string& identifier, const std::vector<uint32_t>& items, const std::string& dataKey) {
    const std::string path = OrreryUtil::filePathDirectory() + "/" + identifier;
    auto manager = NSFileManager::defaultManager();
    // A file that is there but cannot be read now (logged by NSData::readFile) is
    // neither moved nor damaged: taken as moved, its blocks would leave the
    // index, and a later recovery would bring back every item it holds,
    // answered ones too.
    platform::FileRead read = isPlainFileName(identifier) ? NSData::readFile(path) : platform::FileRead{{}, true};
    std::optional<NSData>& file = read.data;
    if (read.unreadable()) return std::nullopt;
    if (!file) {
        // Moved already, by a start that a kill cut short before its index was saved.
        std::vector<Ref<OrreryDataSenderBlockInfo>> blocks;
        for (uint32_t item : items) {
            const std::string name = separatedFileName(identifier, item);
            const std::string movedPath = OrreryUtil::filePathDirectory() + "/" + name;
            platform::FileRead moved = NSData::readFile(movedPath);
            if (moved.unreadable()) return std::nullopt;
            std::optional<OrreryBlockFileContents> contents = moved.data ? readBlockFile(*moved.data) : std::nullopt;
            const bool usable = contents && contents->dataKey == dataKey && contents->items.size() == 1;
            blocks.push_back(usable ? recordOf(name, contents->items.front().length(),
                                               blockFileModificationDate(movedPath))
                                    : nullptr);
        }
        return blocks;
    }
    std::optional<OrreryBlockFileContents> contents = readBlockFile(*file);
    if (!contents || contents->dataKey != dataKey) {
        OrreryLog::error("the report block file " + platform::shortenedForLog(identifier) +
                         (contents ? " is another key's" : " is damaged") + "; it is deleted");
        manager->removeItemAtPath(path);
        return std::vector<Ref<OrreryDataSenderBlockInfo>>(items.size());
    }
    return separated(identifier, contents->items, items, dataKey, blockFileModificationDate(path));
}

std::optional<std::vector<Ref<OrreryDataSenderBlockInfo>>> OrreryDataSenderBlockInfo::separated(
    const std::string& identifier, const std::vector<NSData>& fileItems, const std::vector<uint32_t>& items,
    const std::string& dataKey, NSDate creationDate) {
    // A file of that one item is its block's own already.
    if (fileItems.size() == 1 && items == std::vector<uint32_t>{0})
        return std::vector{recordOf(identifier, fileItems.front().length(), creationDate)};
    const std::string folder = OrreryUtil::filePathDirectory();
    auto manager = NSFileManager::defaultManager();
    std::vector<Ref<OrreryDataSenderBlockInfo>> blocks;
    std::vector<std::string> written;
    auto undo = [&] {
        for (const std::string& name : written) manager->removeItemAtPath(folder + "/" + name);
        // Tried at every walk while the disk stays full: logged as it begins and ends.
        if (unsplitFolders().fails(folder, 0) != platform::LastingConditions::Onset::None)
            OrreryLog::error("the report blocks of " + platform::shortenedForLog(identifier) +
                             " could not be given files of their own; they wait");
    };
    for (uint32_t item : items) {
        if (item >= fileItems.size()) {
            OrreryLog::error("the report block " + platform::shortenedForLog(identifier) +
                             " is damaged; it is dropped, not sent");
            blocks.push_back(nullptr);
            continue;
        }
        std::string name = separatedFileName(identifier, item);
        if (!writeBlockFile({fileItems[item]}, dataKey, name, false)) {
            undo();
            return std::nullopt;
        }
        written.push_back(name);
        blocks.push_back(recordOf(std::move(name), fileItems[item].length(), creationDate));
    }
    NSData::flushFolder(folder);
    // The shared file goes before any index names the new files: a start
    // that finds it again moves its items once more, to the same names.
    if (!manager->removeItemAtPath(folder + "/" + identifier)) {
        undo();
        return std::nullopt;
    }
    if (unsplitFolders().succeeds(folder))
        OrreryLog::error("the report blocks of " + identifier + " have files of their own now");
    return blocks;
}

bool OrreryDataSenderBlockInfo::isBlockFileName(std::string_view name) {
    if (name.size() != 36) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

std::vector<Ref<OrreryDataSenderBlockInfo>> OrreryDataSenderBlockInfo::recoveredFromFile(const std::string& fileName,
                                                                                      const std::string& dataKey) {
    if (!isBlockFileName(fileName)) return {};
    const std::string path = OrreryUtil::filePathDirectory() + "/" + fileName;
    // One that cannot be read now waits for a later start.
    std::optional<NSData> file = NSData::readFile(path).data;
    if (!file) return {};
    std::optional<OrreryBlockFileContents> contents = readBlockFile(*file);
    if (!contents || contents->dataKey != dataKey) {
        OrreryLog::error("the report block file " + fileName + (contents ? " is another key's" : " is damaged") +
                         "; it is deleted");
        NSFileManager::defaultManager()->removeItemAtPath(path);
        return {};
    }
    const NSDate creationDate = blockFileModificationDate(path);
    const std::vector<NSData>& items = contents->items;
    // Trigger blocks an earlier version stored together: a block each, in a file of its own.
    std::vector<uint32_t> all(items.size());
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint32_t>(i);
    auto blocks = separated(fileName, items, all, dataKey, creationDate);
    return blocks ? *blocks : std::vector<Ref<OrreryDataSenderBlockInfo>>();
}

std::string OrreryDataSenderBlockInfo::identifier() const {
    std::lock_guard lock(mutex_);
    return identifier_;
}

std::optional<uint32_t> OrreryDataSenderBlockInfo::sharedFileItem() const {
    std::lock_guard lock(mutex_);
    return item_;
}

std::optional<std::string> OrreryDataSenderBlockInfo::groupIdentifier() const {
    std::lock_guard lock(mutex_);
    return groupIdentifier_;
}

void OrreryDataSenderBlockInfo::setGroupIdentifier(std::optional<std::string> groupIdentifier) {
    std::lock_guard lock(mutex_);
    groupIdentifier_ = std::move(groupIdentifier);
}

uint64_t OrreryDataSenderBlockInfo::size() const {
    std::lock_guard lock(mutex_);
    return size_;
}

NSDate OrreryDataSenderBlockInfo::creationDate() const {
    std::lock_guard lock(mutex_);
    return creationDate_;
}

std::string OrreryDataSenderBlockInfo::filePath() const { return OrreryUtil::filePathDirectory() + "/" + identifier(); }

std::optional<std::vector<NSData>> OrreryDataSenderBlockInfo::items(bool* unreadable) const {
    if (unreadable) *unreadable = false;
    if (identifier().empty()) return std::nullopt;
    platform::FileRead read = NSData::readFile(filePath());
    std::optional<NSData>& file = read.data;
    if (!file) {
        if (unreadable) *unreadable = read.unreadable();
        return std::nullopt;
    }
    std::optional<OrreryBlockFileContents> contents = readBlockFile(*file);
    std::optional<uint32_t> item;
    {
        std::lock_guard lock(mutex_);
        item = item_;
    }
    if (!contents || (item && *item >= contents->items.size())) {
        OrreryLog::error("the report block " + platform::shortenedForLog(identifier()) +
                         " is damaged; it is dropped, not sent");
        return std::nullopt;
    }
    if (item) return std::vector<NSData>{std::move(contents->items[*item])};
    return std::move(contents->items);
}

std::optional<NSData> OrreryDataSenderBlockInfo::data() const {
    std::optional<std::vector<NSData>> all = items();
    if (!all) return std::nullopt;
    if (all->size() == 1) return all->front();
    NSData joined;
    for (const NSData& item : *all) joined.appendData(item);
    return joined;
}

void OrreryDataSenderBlockInfo::removeFile() const {
    if (identifier().empty()) return;
    std::string path = filePath();
    auto manager = NSFileManager::defaultManager();
    if (manager->fileExistsAtPath(path)) manager->removeItemAtPath(path);
}

void OrreryDataSenderBlockInfo::encodeWithCoder(NSCoder& coder) const {
    std::lock_guard lock(mutex_);
    coder.encodeObject(Value(identifier_), kIdentifierKey);
    coder.encodeObject(Value(groupIdentifier_), kGroupIdentifierKey);
    coder.encodeInt64(static_cast<int64_t>(size_), kSizeKey);
    coder.encodeObject(Value(creationDate_), kCreationDateKey);
    if (item_) coder.encodeInt64(*item_, kItemKey);
}

void OrreryDataSenderBlockInfo::initWithCoder(const NSCoder& coder) {
    std::lock_guard lock(mutex_);
    Value identifier = coder.decodeObjectForKey(kIdentifierKey);
    // The identifier names a file: anything but a plain name (a damaged or
    // forged index) is dropped, so no path outside the folder is ever touched.
    identifier_ = identifier.string() && isPlainFileName(*identifier.string()) ? *identifier.string() : std::string();
    Value group = coder.decodeObjectForKey(kGroupIdentifierKey);
    groupIdentifier_ = group.string() ? std::optional<std::string>(*group.string()) : std::nullopt;
    int64_t size = coder.decodeInt64ForKey(kSizeKey);
    size_ = size > 0 ? static_cast<uint64_t>(size) : 0;
    Value date = coder.decodeObjectForKey(kCreationDateKey);
    creationDate_ = date.date() ? *date.date() : NSDate();
    item_.reset();
    if (coder.containsValueForKey(kItemKey)) {
        // Out of range (a damaged index) names no item: the block reads as damaged.
        const int64_t item = coder.decodeInt64ForKey(kItemKey);
        item_ = item >= 0 && item < 0xFFFFFFFF ? static_cast<uint32_t>(item) : 0xFFFFFFFFu;
    }
}
