#include "platform/foundation/NSUserDefaults.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/PropertyList.h"
#include "platform/runtime/Log.h"

namespace platform {

namespace {

struct Sanitizer {
    std::string droppedNullAt;  // first place a nested Null was dropped
    size_t droppedNulls = 0;
    std::string refusal;        // why the value cannot be stored

    // A copy without nested Nulls; nullopt when an Object is inside.
    std::optional<Value> clean(const Value& value, const std::string& path) {
        switch (value.kind()) {
        case Value::Kind::Object:
            refusal = "object of class " + value.object()->className() + " at " + path;
            return std::nullopt;
        case Value::Kind::Array: {
            Value::Array items;
            size_t index = 0;
            for (const Value& item : *value.array()) {
                const std::string itemPath = path + "[" + std::to_string(index++) + "]";
                if (item.isNull()) {
                    noteNull(itemPath);
                    continue;
                }
                std::optional<Value> cleaned = clean(item, itemPath);
                if (!cleaned) return std::nullopt;
                items.push_back(std::move(*cleaned));
            }
            return Value(std::move(items));
        }
        case Value::Kind::Dictionary: {
            ValueDictionary dict;
            for (const auto& [key, item] : *value.dictionary()) {
                const std::string itemPath = path + "/" + key;
                if (item.isNull()) {
                    noteNull(itemPath);
                    continue;
                }
                std::optional<Value> cleaned = clean(item, itemPath);
                if (!cleaned) return std::nullopt;
                dict.set(key, std::move(*cleaned));
            }
            return Value(std::move(dict));
        }
        default:
            return value;
        }
    }

    void noteNull(const std::string& path) {
        if (droppedNulls++ == 0) droppedNullAt = path;
    }
};

}  // namespace

Ref<NSUserDefaults> NSUserDefaults::standardUserDefaults() {
    static const Ref<NSUserDefaults> defaults = [] {
        auto d = NSUserDefaults::alloc<NSUserDefaults>();
        d->reload();
        return d;
    }();
    return defaults;
}

void NSUserDefaults::resetStandardUserDefaults() { standardUserDefaults()->reload(); }

namespace {

// What the file at `path` holds; nullopt while it cannot be read.
std::optional<ValueDictionary> storedDefaults(const std::string& path) {
    bool unreadable = false;
    std::optional<Value> stored = PropertyList::valueWithContentsOfFile(path, &unreadable);
    if (unreadable) return std::nullopt;
    if (!stored) return ValueDictionary();  // absent, or damaged (logged): starts empty
    if (const ValueDictionary* dict = stored->dictionary()) return *dict;
    log(LogLevel::Error, "NSUserDefaults: " + shortenedForLog(path) + " does not hold a dictionary; starting empty");
    return ValueDictionary();
}

}  // namespace

void NSUserDefaults::reload() {
    std::string name = NSBundle::mainBundle()->bundleIdentifier().value_or("");
    if (name.empty()) name = program_invocation_short_name;
    std::string path = NSHomeDirectory() + "/Library/Preferences/" + name + ".plist";
    std::optional<ValueDictionary> values = storedDefaults(path);
    if (!values)
        log(LogLevel::Error, "NSUserDefaults: " + shortenedForLog(path) +
                                 " cannot be read; changes are kept in memory until it can");
    std::scoped_lock lock(mutex_);
    path_ = std::move(path);
    unread_ = !values;
    values_ = std::move(values).value_or(ValueDictionary());
    removedUnread_.clear();
    registered_.clear();
}

void NSUserDefaults::readIfUnreadLocked() const {
    if (!unread_) return;
    std::optional<ValueDictionary> stored = storedDefaults(path_);
    if (!stored) return;
    const bool changed = stored->takeChangesMadeWhileUnread(values_, removedUnread_);
    values_ = std::move(*stored);
    removedUnread_.clear();
    unread_ = false;
    if (changed) storeLocked();
}

void NSUserDefaults::storeLocked() const {
    // Never over a file that could not be read: what it holds would be lost.
    if (unread_) return;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
    PropertyList::writeToFile(Value(values_), path_, PropertyList::Format::Binary);
}

bool NSUserDefaults::isStoreRead() const {
    std::scoped_lock lock(mutex_);
    readIfUnreadLocked();
    return !unread_;
}

Value NSUserDefaults::objectForKey(const std::string& key) const {
    std::scoped_lock lock(mutex_);
    readIfUnreadLocked();
    if (const Value* v = values_.find(key)) return *v;
    if (const Value* v = registered_.find(key)) return *v;
    return Value();
}

void NSUserDefaults::setObject(const Value& value, const std::string& key) {
    if (value.isNull()) {
        removeObjectForKey(key);
        return;
    }
    Sanitizer sanitizer;
    std::optional<Value> cleaned = sanitizer.clean(value, key);
    if (!cleaned) {
        log(LogLevel::Error, "NSUserDefaults: not storing \"" + shortenedForLog(key) +
                                 "\": " + shortenedForLog(sanitizer.refusal) + " is not a property-list value");
        return;
    }
    if (sanitizer.droppedNulls > 0) {
        log(LogLevel::Warning, "NSUserDefaults: dropped " + std::to_string(sanitizer.droppedNulls) +
                                   " null value(s) from \"" + shortenedForLog(key) + "\", first at " +
                                   shortenedForLog(sanitizer.droppedNullAt));
    }
    std::scoped_lock lock(mutex_);
    readIfUnreadLocked();
    removedUnread_.erase(key);
    values_.set(key, std::move(*cleaned));
    storeLocked();
}

void NSUserDefaults::removeObjectForKey(const std::string& key) {
    std::scoped_lock lock(mutex_);
    readIfUnreadLocked();
    if (unread_) removedUnread_.insert(key);
    if (values_.remove(key)) storeLocked();
}

std::optional<std::string> NSUserDefaults::stringForKey(const std::string& key) const {
    const Value v = objectForKey(key);
    if (v.isString() || v.isNumber()) return v.stringValue();
    return std::nullopt;
}

int64_t NSUserDefaults::integerForKey(const std::string& key) const { return objectForKey(key).integerValue(); }

bool NSUserDefaults::boolForKey(const std::string& key) const { return objectForKey(key).boolValue(); }

double NSUserDefaults::doubleForKey(const std::string& key) const { return objectForKey(key).doubleValue(); }

float NSUserDefaults::floatForKey(const std::string& key) const { return objectForKey(key).floatValue(); }

std::optional<NSData> NSUserDefaults::dataForKey(const std::string& key) const {
    const Value v = objectForKey(key);
    if (const NSData* d = v.data()) return *d;
    return std::nullopt;
}

std::optional<Value::Array> NSUserDefaults::arrayForKey(const std::string& key) const {
    const Value v = objectForKey(key);
    if (const Value::Array* a = v.array()) return *a;
    return std::nullopt;
}

std::optional<ValueDictionary> NSUserDefaults::dictionaryForKey(const std::string& key) const {
    const Value v = objectForKey(key);
    if (const ValueDictionary* d = v.dictionary()) return *d;
    return std::nullopt;
}

void NSUserDefaults::setInteger(int64_t value, const std::string& key) { setObject(Value(static_cast<long long>(value)), key); }

void NSUserDefaults::setBool(bool value, const std::string& key) { setObject(Value(value), key); }

void NSUserDefaults::setDouble(double value, const std::string& key) { setObject(Value(value), key); }

void NSUserDefaults::setFloat(float value, const std::string& key) { setObject(Value(value), key); }

void NSUserDefaults::registerDefaults(const Value& dictionary) {
    const ValueDictionary* dict = dictionary.dictionary();
    if (!dict) {
        log(LogLevel::Error, "NSUserDefaults: registerDefaults needs a dictionary");
        return;
    }
    std::scoped_lock lock(mutex_);
    for (const auto& [key, value] : *dict) {
        if (value.isNull()) registered_.remove(key);
        else registered_.set(key, value);
    }
}

Value NSUserDefaults::dictionaryRepresentation() const {
    std::scoped_lock lock(mutex_);
    readIfUnreadLocked();
    ValueDictionary all = registered_;
    for (const auto& [key, value] : values_) all.set(key, value);
    return Value(std::move(all));
}

}  // namespace platform
