// The client's named counters and values ("ad_req", "ad_imp",
// "ad_imp_session", "ad_session_start", "cached_files_expired",
// "cache_drop_count"), kept as one dictionary in the user-defaults store
// under the settings prefix + ".stats" and written whole after every change,
// so they survive a kill. Sent with the device data; ad requests read two.
// A store that could not be read at loadAll is not written while it stays
// so: what is counted meanwhile is kept apart and, once it reads, added to
// what it holds, so that no stored count starts again from nothing.
// Any thread: every operation runs under one lock, its write included.
// Owned by HLSdk, which it keeps weakly.
#pragma once

#include <mutex>
#include <set>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class HLSdk;

class HLStatsManager : public NSObject {
public:
    // Starts empty; HLSdk calls loadAll.
    Ref<HLStatsManager> initWithSdk(const Ref<HLSdk>& sdk);

    // The stored dictionary replaces the counters, without the values JSON
    // cannot hold (dates, data; each dropped with a log line); anything else
    // stored there is ignored with a log line. A store that cannot be read
    // gives none for now (see above).
    void loadAll();
    // The stored integer + 1 (absent counts as 0), as a 32-bit number.
    void incrementKey(const std::string& key);
    // Values JSON can hold only (they are sent as JSON): Null clears the
    // key; a date, data or an object is refused with a log line.
    void setValue(const Value& value, const std::string& key) override;
    void clearKey(const std::string& key);
    void clearAll();
    // The stored value, or the number 0.
    Value valueOfKey(const std::string& key) const;
    void persistAll();

    // A copy of the counters.
    Value stats() const;
    const std::string& userDataKey() const { return userDataKey_; }

private:
    // A string, a finite number, a boolean, or an array or dictionary of
    // those: what the device data can carry.
    static bool isJSONValue(const Value& value);
    // The stored dictionary without what JSON cannot hold (each logged); an
    // empty one for anything else stored there (logged) or nothing.
    Value storedStats() const;
    // While storeUnread_: once the store reads, lays what was counted
    // meanwhile over what it holds and writes the result.
    void readStoreIfUnreadLocked() const;
    void persistAllLocked() const;

    Weak<HLSdk> sdk_;
    std::string userDataKey_;
    mutable std::recursive_mutex mutex_;  // guards the fields below and orders the writes
    // Mutable: a reader of a store not read yet reads it again.
    mutable Value stats_ = Value::dictionary({});
    mutable bool storeUnread_ = false;           // the store could not be read at loadAll
    mutable bool clearedAllUnread_ = false;      // clearAll ran while storeUnread_
    mutable std::set<std::string> setUnread_;    // keys set or cleared while storeUnread_: not added up
};
