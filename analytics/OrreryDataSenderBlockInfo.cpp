#include "analytics/OrreryDataSenderBlockInfo.h"

#include "analytics/OrreryLog.h"
#include "analytics/OrreryUtil.h"
#include "platform/foundation/NSFileManager.h"

namespace {
constexpr const char* kIdentifierKey = "identifier";
constexpr const char* kGroupIdentifierKey = "groupIdentifier";
constexpr const char* kSizeKey = "size";
constexpr const char* kCreationDateKey = "creationDate";

bool isPlainFileName(const std::string& name) {
    if (name.empty() || name.size() > 64) return false;
    for (char c : name)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-')) return false;
    return true;
}
}  // namespace

Ref<OrreryDataSenderBlockInfo> OrreryDataSenderBlockInfo::initWithData(const NSData& data) {
    std::string identifier = OrreryUtil::generateCFUUID();
    std::string path = OrreryUtil::filePathDirectory() + "/" + identifier;
    if (!data.writeToFile(path, true)) {
        OrreryLog::error("could not write the report block file " + path);
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    identifier_ = std::move(identifier);
    size_ = data.length();
    creationDate_ = NSDate::date();
    return self<OrreryDataSenderBlockInfo>();
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

std::optional<NSData> OrreryDataSenderBlockInfo::data() const {
    if (identifier().empty()) return std::nullopt;
    return NSData::dataWithContentsOfFile(filePath());
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
}
