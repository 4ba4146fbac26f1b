// The client's configuration: 158 settings addressed by slot number, each
// with a tag (the key the server sends and the store keeps), a typed default
// and an optional current value. The server changes slots through the
// "settings" object of its answers, the publisher a few at creation; the
// table is kept as one dictionary in the user-defaults store under
// prefix() ("<SDK identifier>.<first four characters of the SDK key>") and
// written only by persistAll. A store that could not be read at loadAll is
// not written while it stays so, and is read again at each later use: once
// it reads, its values fill in the slots not set since. Used from every
// queue and the main thread: each slot is read and written under the
// table's lock.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

namespace platform {
class NSLayoutConstraint;
class UIView;
}  // namespace platform

class HLSdk;
class HLSdkSettings;

class HLSettingsManager : public NSObject {
public:
    static constexpr int64_t kSlotCount = 158;

    // Keeps the owner weakly (it owns this table) and fills the defaults.
    Ref<HLSettingsManager> initWithSdk(const Ref<HLSdk>& sdk);
    // Every current value emptied, every default and tag written anew.
    void populateDefaults();

    // The store key of the table; ".stats" and ".targeting" follow it for the
    // counters and the targeting values.
    std::string prefix() const;
    // Current values from the stored dictionary (slots sharing a tag get the
    // same value); anything but a dictionary stored there is ignored.
    void loadAll();
    // Writes tag → current value for every tagged slot that has one. Waits
    // (writes nothing) while the store loadAll could not read stays so: the
    // table would stand on defaults in place of what is stored.
    void persistAll();
    // Empties every current value (defaults and tags stay).
    void clearAll();
    // False while the store loadAll could not read stays so: a slot then
    // standing on its default (the device's identity) may well be stored.
    bool isStoreRead() const;
    // A server "settings" object: known keys set their slot by the slot's
    // type; unknown keys and values of the wrong kind are logged and skipped.
    // The caller persists.
    void loadFromServer(const Value& dictionary);
    // The publisher's settings: verbose switch, preload sizes and types, and
    // for HLInternalSdkSettings its slot overrides and log listener.
    void loadFromUserSettings(const Ref<HLSdkSettings>& settings);

    // Typed reads of the effective value (current, else default). A value of
    // the wrong kind is logged ("%@ is not a string" / "%@ is not a number")
    // and the default returned. Every slot operation raises
    // NSInvalidArgumentException "Invalid setting index: %li" outside 0…157.
    std::optional<std::string> stringForKey(int64_t slot);
    // A number Value, or the default (Null for a slot without one).
    Value numberForKey(int64_t slot);
    int64_t integerForKey(int64_t slot) { return numberForKey(slot).integerValue(); }
    int32_t intForKey(int64_t slot) { return numberForKey(slot).intValue(); }
    int64_t longForKey(int64_t slot) { return numberForKey(slot).integerValue(); }
    bool boolForKey(int64_t slot) { return numberForKey(slot).boolValue(); }
    // No unit conversion: a slot in milliseconds reads as milliseconds.
    double timeIntervalForKey(int64_t slot) { return numberForKey(slot).doubleValue(); }
    // Unchecked (logged at info level).
    Value objectForKey(int64_t slot);
    // The constraints of each slot's visual format with `bindings`; the views
    // stop translating their resizing masks first. A format that does not
    // parse is logged and the slot's default format used. Main thread.
    std::vector<Ref<platform::NSLayoutConstraint>> constraintsForKeys(
        const std::vector<int64_t>& slots, const std::map<std::string, Ref<platform::UIView>>& bindings);
    // Tag → effective value, leaving out slots with neither.
    Value allSettings() const;
    // The lowest slot with this tag, or -1.
    int64_t indexOfTag(std::string_view tag) const;
    // Slot 9 read without logging: a number other than 0 is on.
    bool isVerboseLoggingOn() const;

    // nullopt raises NSInvalidArgumentException "No value specified".
    void putString(const std::optional<std::string>& value, int64_t slot);
    void putNumber(const Value& number, int64_t slot);
    void putInt(int32_t value, int64_t slot) { putNumber(Value(value), slot); }
    void putLong(int64_t value, int64_t slot) { putNumber(Value(static_cast<long long>(value)), slot); }
    void putBool(bool value, int64_t slot) { putNumber(Value(value), slot); }
    void clear(int64_t slot);

    void setDefaultBool(bool value, int64_t slot, std::string tag);
    void setDefaultInt(int32_t value, int64_t slot, std::string tag);
    void setDefaultLong(int64_t value, int64_t slot, std::string tag);
    void setDefaultString(std::string value, int64_t slot, std::string tag);

    // The tag of a slot (nullopt for a slot without a default), and its default.
    std::optional<std::string> tagForKey(int64_t slot) const;
    Value defaultForKey(int64_t slot) const;

private:
    static void checkIndex(int64_t slot);
    void setDefault(Value value, int64_t slot, std::string tag);
    void setCurrent(Value value, int64_t slot);
    // Current values from `stored`, past the slots `changedUnread_` names when `keepChanged`.
    void loadStoredLocked(const Value& stored, bool keepChanged) const;
    // While storeUnread_: once the store reads, its values fill in the slots
    // not set since. False while it stays unread.
    bool readStoreIfUnreadLocked() const;
    // A slot's effective value, default and tag ("(null)" for none), read together.
    struct Reading {
        Value value, fallback;
        std::string tag;
    };
    Reading read(int64_t slot) const;
    template <class... Args>
    void log(std::string_view level, std::string_view format, const Args&... args) const;

    Weak<HLSdk> sdk_;
    mutable std::mutex mutex_;  // guards the three tables
    // Mutable: a reader of a store not read yet reads it again.
    mutable std::array<Value, kSlotCount> settings_;
    std::array<Value, kSlotCount> defaults_;
    std::array<std::optional<std::string>, kSlotCount> tags_;
    // The store could not be read at loadAll: the slots set since, which its
    // values do not replace once it reads.
    mutable bool storeUnread_ = false;
    std::array<bool, kSlotCount> changedUnread_{};
};
