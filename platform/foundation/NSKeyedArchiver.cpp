#include "platform/foundation/NSKeyedArchiver.h"

#include "platform/foundation/PropertyList.h"
#include "platform/runtime/Log.h"

namespace platform {

namespace {

const char* const kArchiverKey = "$archiver";
const char* const kVersionKey = "$version";
const char* const kTopKey = "$top";
const char* const kArchiverName = "platform";
constexpr int64_t kVersion = 1;

}  // namespace

NSData NSKeyedArchiver::archivedDataWithRootObject(const Value& rootObject) {
    std::vector<const NSObject*> encoding;
    const Value root = Value::dictionary({
        {kArchiverKey, kArchiverName},
        {kVersionKey, Value(static_cast<long long>(kVersion))},
        {kTopKey, NSCoder::encodeNode(rootObject, encoding)},
    });
    std::string error;
    std::optional<NSData> data = PropertyList::dataWithValue(root, PropertyList::Format::Binary, &error);
    if (!data) {
        // Nodes hold property-list kinds only, so this is not expected.
        log(LogLevel::Error, "NSKeyedArchiver: cannot serialise the archive: " + shortenedForLog(error));
        return NSData();
    }
    return *data;
}

bool NSKeyedArchiver::archiveRootObject(const Value& rootObject, const std::string& path) {
    const NSData data = archivedDataWithRootObject(rootObject);
    if (data.length() == 0) return false;
    if (!data.writeToFile(path, true)) {
        log(LogLevel::Error, "NSKeyedArchiver: cannot write " + shortenedForLog(path));
        return false;
    }
    return true;
}

Value NSKeyedUnarchiver::unarchiveObjectWithData(const NSData& data) {
    return unarchiveRoot(PropertyList::valueWithData(data, "keyed archive"));
}

Value NSKeyedUnarchiver::unarchiveRoot(const std::optional<Value>& root) {
    if (!root) return Value();  // already logged
    const Value& archiver = (*root)[kArchiverKey];
    const Value& version = (*root)[kVersionKey];
    if (!root->isDictionary() || !archiver.isString() || *archiver.string() != kArchiverName ||
        !version.isInteger() || version.integerValue() != kVersion || !root->contains(kTopKey)) {
        log(LogLevel::Error, "NSKeyedUnarchiver: not an archive of this platform (wrong root)");
        return Value();
    }
    return NSCoder::decodeNode((*root)[kTopKey]).value_or(Value());
}

Value NSKeyedUnarchiver::unarchiveObjectWithFile(const std::string& path, bool* unreadable) {
    FileRead read = NSData::readFile(path);  // a failure other than absence is logged there
    if (unreadable) *unreadable = read.unreadable();
    if (!read.data) {
        if (read.absent) log(LogLevel::Info, "NSKeyedUnarchiver: no archive at " + shortenedForLog(path));
        return Value();
    }
    return unarchiveRoot(PropertyList::valueWithData(*read.data, path));
}

}  // namespace platform
