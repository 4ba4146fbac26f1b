#include "platform/foundation/UnreadTableChanges.h"

#include "platform/foundation/NSUserDefaults.h"

namespace platform {

void UnreadTableChanges::loaded(bool read) {
    unread_ = !read;
    removed_.clear();
}

void UnreadTableChanges::removed(const std::string& key) {
    if (unread_) removed_.insert(key);
}

bool UnreadTableChanges::readIfUnread(ValueDictionary& held, const std::function<ValueDictionary()>& stored) {
    if (!unread_) return true;
    if (!NSUserDefaults::standardUserDefaults()->isStoreRead()) return false;
    ValueDictionary table = stored();
    table.takeChangesMadeWhileUnread(held, removed_);
    held = std::move(table);
    unread_ = false;
    removed_.clear();
    return true;
}

}  // namespace platform
