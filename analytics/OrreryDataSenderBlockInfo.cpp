#include "analytics/OrreryDataSenderBlockInfo.h"

#include "analytics/OrreryLog.h"
#include "analytics/OrreryUtil.h"
#include "platform/foundation/NSFileManager.h"

namespace {
constexpr const char* kIdentifierKey = "identifier";
constexpr const char* kGroupIdentifierKey = "groupIdentifier";
constexpr const char* kSizeKey = "size";
constexpr const char* kCreationDateKey = "creationDate";
constexpr const char* kItemKey = "item";
constexpr std::string_view kBlockFileMagic = "OBK1";
constexpr size_t kBlockFileHeaderLength = 8;  // magic, checksum

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

}  // namespace

Ref<OrreryDataSenderBlockInfo> OrreryDataSenderBlockInfo::initWithItems(const std::vector<NSData>& items,
                                                                        const std::string& dataKey) {
    std::optional<std::string> identifier = writeBlockFile(items, dataKey);
    if (!identifier) return nullptr;
    uint64_t size = 0;
    for (const NSData& item : items) size += item.length();
    std::lock_guard lock(mutex_);
    identifier_ = std::move(*identifier);
    size_ = size;
    creationDate_ = NSDate::date();
    return self<OrreryDataSenderBlockInfo>();
}

std::vector<Ref<OrreryDataSenderBlockInfo>> OrreryDataSenderBlockInfo::blocksWithItems(const std::vector<NSData>& blockItems,
                                                                                    const std::string& dataKey) {
    // One file for them all, so storing them costs one flush, not one each.
    std::optional<std::string> identifier = writeBlockFile(blockItems, dataKey);
    if (!identifier) return {};
    std::vector<Ref<OrreryDataSenderBlockInfo>> blocks;
    const NSDate now = NSDate::date();
    for (size_t i = 0; i < blockItems.size(); ++i)
        blocks.push_back(recordOf(*identifier, static_cast<uint32_t>(i), blockItems[i].length(), now));
    return blocks;
}

Ref<OrreryDataSenderBlockInfo> OrreryDataSenderBlockInfo::recordOf(std::string identifier, std::optional<uint32_t> item,
                                                                   uint64_t size, NSDate creationDate) {
    auto block = alloc<OrreryDataSenderBlockInfo>();
    std::lock_guard lock(block->mutex_);
    block->identifier_ = std::move(identifier);
    block->item_ = item;
    block->size_ = size;
    block->creationDate_ = creationDate;
    return block;
}

std::optional<std::string> OrreryDataSenderBlockInfo::writeBlockFile(const std::vector<NSData>& items,
                                                                     const std::string& dataKey) {
    if (items.empty() || items.size() > 0xFFFFFFFFu || dataKey.size() > 0xFFFF) {
        OrreryLog::error("a report block needs one item or more and a short data key; nothing is stored");
        return std::nullopt;
    }
    NSData body;
    blockFilePutBigEndian(dataKey.size(), 2, body);
    body.appendBytes(dataKey.data(), dataKey.size());
    blockFilePutBigEndian(items.size(), 4, body);
    for (const NSData& item : items) {
        if (item.length() > 0xFFFFFFFFu) {
            OrreryLog::error("a report block item is too large to store; nothing is stored");
            return std::nullopt;
        }
        blockFilePutBigEndian(item.length(), 4, body);
        body.appendData(item);
    }
    NSData file;
    file.appendBytes(kBlockFileMagic.data(), kBlockFileMagic.size());
    blockFilePutBigEndian(static_cast<uint32_t>(OrreryUtil::dataChecksum(body)), 4, file);
    file.appendData(body);

    std::string identifier = OrreryUtil::generateCFUUID();
    std::string path = OrreryUtil::filePathDirectory() + "/" + identifier;
    if (!file.writeToFile(path, true)) {
        OrreryLog::error("could not write the report block file " + path);
        return std::nullopt;
    }
    return identifier;
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
    std::optional<NSData> file = NSData::dataWithContentsOfFile(path);
    if (!file) return {};
    std::optional<OrreryBlockFileContents> contents = readBlockFile(*file);
    if (!contents || contents->dataKey != dataKey) {
        OrreryLog::error("the report block file " + fileName + (contents ? " is another key's" : " is damaged") +
                         "; it is deleted");
        NSFileManager::defaultManager()->removeItemAtPath(path);
        return {};
    }
    const Value modified = NSFileManager::defaultManager()->attributesOfItemAtPath(path)[NSFileModificationDate];
    const NSDate creationDate = modified.date() ? *modified.date() : NSDate::date();
    const std::vector<NSData>& items = contents->items;
    if (items.size() == 1) return {recordOf(fileName, std::nullopt, items.front().length(), creationDate)};
    std::vector<Ref<OrreryDataSenderBlockInfo>> blocks;
    for (size_t i = 0; i < items.size(); ++i)
        blocks.push_back(recordOf(fileName, static_cast<uint32_t>(i), items[i].length(), creationDate));
    return blocks;
}

std::string OrreryDataSenderBlockInfo::identifier() const {
    std::lock_guard lock(mutex_);
    return identifier_;
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

std::optional<std::vector<NSData>> OrreryDataSenderBlockInfo::items() const {
    if (identifier().empty()) return std::nullopt;
    std::optional<NSData> file = NSData::dataWithContentsOfFile(filePath());
    if (!file) return std::nullopt;
    std::optional<OrreryBlockFileContents> contents = readBlockFile(*file);
    std::optional<uint32_t> item;
    {
        std::lock_guard lock(mutex_);
        item = item_;
    }
    if (!contents || (item && *item >= contents->items.size())) {
        OrreryLog::error("the report block " + identifier() + " is damaged; it is dropped, not sent");
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
