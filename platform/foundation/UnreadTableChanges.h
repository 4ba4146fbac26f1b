// For a writer that keeps a table (key → entry) in memory and saves it whole
// under one key of the user defaults (archived, say). While the defaults
// cannot be read, the table holds only what was set since, and saved it
// would replace the stored one (a value set meanwhile wins): the writer saves
// nothing meanwhile and notes here the keys it removes. Once the defaults
// read, the table it holds is laid over the stored one entry by entry, as the
// defaults lay their own keys: an entry it holds takes its place, a key
// removed meanwhile goes, and the stored entries it did not touch stay.
// Used on one thread, or under the writer's own lock.
#pragma once

#include <functional>
#include <set>
#include <string>

#include "platform/foundation/Value.h"

namespace platform {

class UnreadTableChanges {
public:
    // At the table's load: whether the defaults could be read.
    void loaded(bool read);
    // A key the writer removed from its table (whether it held it or not:
    // a stored entry it could not see goes too).
    void removed(const std::string& key);
    // True once the defaults have been read, at the load or since. While
    // they have not, tries them again; once they read, `held` becomes the
    // table `stored` gives (what the defaults hold, as the writer reads it)
    // with `held` and the removals laid over it, and the writer is to save it.
    bool readIfUnread(ValueDictionary& held, const std::function<ValueDictionary()>& stored);
    bool isUnread() const { return unread_; }

private:
    bool unread_ = false;
    std::set<std::string> removed_;
};

}  // namespace platform
