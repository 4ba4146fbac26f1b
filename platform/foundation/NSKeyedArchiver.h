// Keyed archives: a tree of values and NSCoding records in a binary property
// list, {"$archiver": "platform", "$version": 1, "$top": node}. Reading never
// raises: whatever cannot be read gives Null with one log line.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/NSCoder.h"
#include "platform/foundation/NSData.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

namespace platform {

class NSKeyedArchiver : public NSObject {
public:
    static NSData archivedDataWithRootObject(const Value& rootObject);
    // Atomic write (temporary file in the same folder, fsync, rename).
    static bool archiveRootObject(const Value& rootObject, const std::string& path);
};

class NSKeyedUnarchiver : public NSObject {
public:
    // Null for corrupt bytes, a wrong root, an unregistered class or a
    // throwing initWithCoder; a bad element inside an array is skipped.
    static Value unarchiveObjectWithData(const NSData& data);
    // Also Null for a missing file, and for one that is there but cannot be
    // read now (NSData::readFile), which sets `*unreadable` (when given): a
    // caller keeps what the file stands for and never writes over it on
    // that account.
    static Value unarchiveObjectWithFile(const std::string& path, bool* unreadable = nullptr);

private:
    static Value unarchiveRoot(const std::optional<Value>& root);
};

}  // namespace platform

using platform::NSKeyedArchiver;
using platform::NSKeyedUnarchiver;
