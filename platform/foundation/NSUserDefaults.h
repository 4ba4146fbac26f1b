// The program's preferences: a dictionary of property-list values kept in
// <home>/Library/Preferences/<bundle id>.plist (binary). Every change is
// written through to the file, atomically, before the call returns. A file
// that is there but cannot be read (an I/O error, too many open files) is
// never written over: changes are kept in memory and the file is read again
// at each later call; once it reads, the changes are laid over what it holds
// (a key set meanwhile takes its value, a key removed meanwhile goes) and the
// result is written. Thread-safe.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/foundation/NSData.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

namespace platform {

class NSUserDefaults : public NSObject {
public:
    static Ref<NSUserDefaults> standardUserDefaults();
    // Drops what is in memory (registered defaults too) and re-reads the file:
    // a restart, in tests. References to the shared instance stay valid.
    static void resetStandardUserDefaults();

    // Null when absent (absent stays distinct from 0); registered defaults
    // answer for keys that were never set.
    Value objectForKey(const std::string& key) const;
    // Property-list kinds only. Null removes the key; Null inside arrays or
    // dictionaries is dropped with a log line; a value holding an Object is
    // refused with an error line and nothing changes.
    void setObject(const Value& value, const std::string& key);
    void removeObjectForKey(const std::string& key);

    // A string, or a number's stringValue; else nullopt.
    std::optional<std::string> stringForKey(const std::string& key) const;
    // A number, or a string by its numeric prefix; else 0 / false.
    int64_t integerForKey(const std::string& key) const;
    bool boolForKey(const std::string& key) const;
    double doubleForKey(const std::string& key) const;
    float floatForKey(const std::string& key) const;
    // nullopt for an absent key or another kind.
    std::optional<NSData> dataForKey(const std::string& key) const;
    std::optional<Value::Array> arrayForKey(const std::string& key) const;
    std::optional<ValueDictionary> dictionaryForKey(const std::string& key) const;

    void setInteger(int64_t value, const std::string& key);
    void setBool(bool value, const std::string& key);
    void setDouble(double value, const std::string& key);
    void setFloat(float value, const std::string& key);

    // Fallback values for keys never set; in memory only.
    void registerDefaults(const Value& dictionary);
    // Registered defaults overlaid with the stored values.
    Value dictionaryRepresentation() const;
    // Changes are already on disk: true.
    bool synchronize() { return true; }
    // False while the file is there but cannot be read (tried again at each
    // call): a key then found absent may well be stored, so what its absence
    // would start (a new identity, an exchange taken as due) waits; a value
    // set meanwhile would win over the stored one.
    bool isStoreRead() const;

private:
    void reload();
    void storeLocked() const;
    // While the file could not be read: reads it again and, once it reads,
    // lays what changed meanwhile over it and writes the result.
    void readIfUnreadLocked() const;

    mutable std::mutex mutex_;  // guards the fields below
    std::string path_;
    // Mutable: a reader of a store not read yet reads it again.
    mutable ValueDictionary values_;
    mutable bool unread_ = false;                  // the file is there but could not be read
    mutable std::set<std::string> removedUnread_;  // keys removed while unread_
    ValueDictionary registered_;
};

}  // namespace platform

using platform::NSUserDefaults;
