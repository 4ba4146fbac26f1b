#include "halcyon/core/HLSettingsManager.h"

#include "halcyon/core/HLConstants.h"
#include "halcyon/core/HLInternalSdkSettings.h"
#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdk.h"
#include "halcyon/core/HLSdkSettings.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/NSException.h"
#include "platform/foundation/NSNumberFormatter.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/runtime/Log.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIView.h"

namespace {
constexpr const char* kHLSettingsLogSource = "HLSettingsManager";

std::string hlTagText(const std::optional<std::string>& tag) { return tag.value_or("(null)"); }
}  // namespace

template <class... Args>
void HLSettingsManager::log(std::string_view level, std::string_view format, const Args&... args) const {
    if (Ref<HLSdk> sdk = sdk_.lock())
        if (const Ref<HLLogManager>& logger = sdk->logManager())
            logger->logMessage(NSString::stringWithFormat(format, args...), kHLSettingsLogSource, level);
}

Ref<HLSettingsManager> HLSettingsManager::initWithSdk(const Ref<HLSdk>& sdk) {
    sdk_ = sdk;
    populateDefaults();
    return self<HLSettingsManager>();
}

void HLSettingsManager::checkIndex(int64_t slot) {
    if (slot < 0 || slot >= kSlotCount)
        NSException::raise(NSInvalidArgumentException, NSString::stringWithFormat("Invalid setting index: %li", slot));
}

std::string HLSettingsManager::prefix() const {
    Ref<HLSdk> sdk = sdk_.lock();
    // A key shorter than four characters names the table whole.
    std::string key = sdk ? NSString::substringToIndex(sdk->sdkKey(), 4) : std::string();
    return NSString::stringWithFormat("%@.%@", kHLSdkIdentifier, key);
}

// ---- Stored form

void HLSettingsManager::loadStoredLocked(const Value& stored, bool keepChanged) const {
    if (!stored.isDictionary()) return;
    for (int64_t slot = 0; slot < kSlotCount; ++slot) {
        if (!tags_[slot] || (keepChanged && changedUnread_[slot])) continue;
        const Value& value = stored[*tags_[slot]];
        if (!value.isNull()) settings_[slot] = value;
    }
}

void HLSettingsManager::loadAll() {
    auto defaults = NSUserDefaults::standardUserDefaults();
    const bool unread = !defaults->isStoreRead();
    const Value stored = unread ? Value() : defaults->objectForKey(prefix());
    {
        std::scoped_lock lock(mutex_);
        storeUnread_ = unread;
        changedUnread_.fill(false);
        loadStoredLocked(stored, false);
    }
    if (unread) log("DEBUG", "Persisted settings cannot be read now; they are kept until they can");
    else if (stored.isDictionary()) log("DEBUG", "Persisted settings loaded");
}

bool HLSettingsManager::readStoreIfUnreadLocked() const {
    if (!storeUnread_) return true;
    auto defaults = NSUserDefaults::standardUserDefaults();
    if (!defaults->isStoreRead()) return false;
    loadStoredLocked(defaults->objectForKey(prefix()), true);
    storeUnread_ = false;
    return true;
}

bool HLSettingsManager::isStoreRead() const {
    std::scoped_lock lock(mutex_);
    return readStoreIfUnreadLocked();
}

void HLSettingsManager::persistAll() {
    auto defaults = NSUserDefaults::standardUserDefaults();
    Value dictionary = Value::dictionary({});
    {
        std::scoped_lock lock(mutex_);
        if (!readStoreIfUnreadLocked()) return;
        for (int64_t slot = 0; slot < kSlotCount; ++slot) {
            // A slot without a tag has no key to be kept under.
            if (!tags_[slot]) continue;
            if (!settings_[slot].isNull()) dictionary.set(*tags_[slot], settings_[slot]);
            else dictionary.remove(*tags_[slot]);
        }
    }
    defaults->setObject(dictionary, prefix());
    log("DEBUG", "Halcyon setting saved");
}

void HLSettingsManager::clearAll() {
    {
        std::scoped_lock lock(mutex_);
        for (Value& value : settings_) value = Value();
        if (storeUnread_) changedUnread_.fill(true);
    }
    log("DEBUG", "Halcyon settings cleared");
}

// ---- Updates from the server and the publisher

void HLSettingsManager::loadFromServer(const Value& dictionary) {
    log("DEBUG", "Loading Halcyon settings from the server...");
    const ValueDictionary* entries = dictionary.dictionary();
    if (!entries) {
        log("WARN", "Settings are not an object; ignoring");
        return;
    }
    for (const auto& [key, value] : *entries) {
        int64_t slot = indexOfTag(key);
        if (slot < 0) {
            log("WARN", "Setting \"%@\" is unknown, ignoring", platform::shortenedForLog(key));
            continue;
        }
        Value fallback = defaultForKey(slot);
        if (fallback.isNumber()) {
            if (value.isNumber()) {
                setCurrent(value, slot);
            } else if (const std::string* text = value.string()) {
                // Text that is no number empties the slot, so the default applies again.
                auto number = NSObject::alloc<NSNumberFormatter>()->init()->numberFromString(*text);
                setCurrent(number ? *number : Value(), slot);
            } else {
                log("WARN", "Setting \"%@\" is not a number or a string, ignoring", platform::shortenedForLog(key));
            }
        } else if (fallback.isString()) {
            // Strings and numbers only: the store can hold no null, and no
            // other kind is a setting's value.
            if (value.isString() || value.isNumber()) setCurrent(value, slot);
            else
                log("WARN", "Setting \"%@\" is not a string or a number, ignoring", platform::shortenedForLog(key));
        } else {
            log("WARN", "Type of setting \"%@\" is unknown", platform::shortenedForLog(key));
        }
        log("DEBUG", "Setting %@ is set to %@", platform::shortenedForLog(key), hlValueForLog(value));
    }
    log("DEBUG", "Settings loaded.");
}

void HLSettingsManager::loadFromUserSettings(const Ref<HLSdkSettings>& settings) {
    log("DEBUG", "Loading Halcyon settings from user settings...");
    if (!settings) return;
    putBool(settings->isVerboseLogging(), kHLSlotIsVerboseLogging);
    if (!settings->autoPreloadAdSizes().empty()) putString(settings->autoPreloadAdSizes(), kHLSlotAdAutoPreloadSizes);
    const std::string& types = settings->autoPreloadAdTypes();
    if (!types.empty()) {
        bool regular = false, incentivized = false, native = false;
        if (types != "NONE") {
            for (const std::string& part : NSString::componentsSeparatedByString(types, ",")) {
                if (part == "REGULAR") regular = true;
                else if (part == "VIDEOA" || NSString::containsString(part, "REWARD") ||
                         NSString::containsString(part, "INCENT"))
                    incentivized = true;
                else if (part == "NATIVE") native = true;
            }
        }
        if (!regular) putString(std::string(), kHLSlotAdAutoPreloadSizes);
        putBool(incentivized, kHLSlotAdAutoPreloadIncent);
        putBool(native, kHLSlotAdAutoPreloadNative);
    }
    if (auto internal = std::dynamic_pointer_cast<HLInternalSdkSettings>(settings)) {
        if (Ref<HLSdk> sdk = sdk_.lock()) sdk->logManager()->setLogListener(internal->listener());
        for (const auto& [slot, value] : internal->overriddenSettings()) {
            if (slot < 0 || slot >= kSlotCount) {
                log("ERROR", "Override of setting %li refused: no such slot", slot);
            } else if (!value.isString() && !value.isNumber()) {
                log("ERROR", "Override of setting %li refused: not a string or a number", slot);
            } else {
                setCurrent(value, slot);
            }
        }
    }
    log("DEBUG", "Settings loaded.");
}

// ---- Reading

HLSettingsManager::Reading HLSettingsManager::read(int64_t slot) const {
    checkIndex(slot);
    std::scoped_lock lock(mutex_);
    readStoreIfUnreadLocked();
    return {settings_[slot].isNull() ? defaults_[slot] : settings_[slot], defaults_[slot], hlTagText(tags_[slot])};
}

std::optional<std::string> HLSettingsManager::stringForKey(int64_t slot) {
    Reading r = read(slot);
    if (const std::string* text = r.value.string()) return *text;
    if (r.value.isNumber()) return r.value.stringValue();
    log("ERROR", "%@ is not a string", r.tag);
    if (r.fallback.isNull()) return std::nullopt;
    return r.fallback.stringValue();
}

Value HLSettingsManager::numberForKey(int64_t slot) {
    Reading r = read(slot);
    if (r.value.isNumber()) return r.value;
    log("ERROR", "%@ is not a number", r.tag);
    return r.fallback;
}

Value HLSettingsManager::objectForKey(int64_t slot) {
    Reading r = read(slot);
    log("INFO", "Retrieving setting %@ via unchecked objectForKey; use a typed selector like stringForKey: instead...",
        r.tag);
    return r.value;
}

std::vector<Ref<NSLayoutConstraint>> HLSettingsManager::constraintsForKeys(
    const std::vector<int64_t>& slots, const std::map<std::string, Ref<UIView>>& bindings) {
    for (const int64_t slot : slots) checkIndex(slot);
    for (const auto& [name, view] : bindings)
        if (view) view->setTranslatesAutoresizingMaskIntoConstraints(false);
    std::vector<Ref<NSLayoutConstraint>> all;
    for (const int64_t slot : slots) {
        std::string format = stringForKey(slot).value_or("");
        Ref<NSError> error;
        auto constraints = NSLayoutConstraint::constraintsWithVisualFormat(format, 0, Value(), bindings, &error);
        if (error) {
            // A server-set format that does not parse must not break the
            // layout: the slot's own default stands in.
            std::string fallback = defaultForKey(slot).stringValue();
            log("ERROR", "Layout format \"%@\" of setting %@ cannot be used; using \"%@\"",
                platform::shortenedForLog(format), hlTagText(tagForKey(slot)), fallback);
            error.reset();
            constraints = NSLayoutConstraint::constraintsWithVisualFormat(fallback, 0, Value(), bindings, &error);
        }
        all.insert(all.end(), constraints.begin(), constraints.end());
    }
    return all;
}

Value HLSettingsManager::allSettings() const {
    Value dictionary = Value::dictionary({});
    std::scoped_lock lock(mutex_);
    readStoreIfUnreadLocked();
    for (int64_t slot = 0; slot < kSlotCount; ++slot) {
        const Value& value = settings_[slot].isNull() ? defaults_[slot] : settings_[slot];
        if (!value.isNull() && tags_[slot]) dictionary.set(*tags_[slot], value);
    }
    return dictionary;
}

int64_t HLSettingsManager::indexOfTag(std::string_view tag) const {
    std::scoped_lock lock(mutex_);
    for (int64_t slot = 0; slot < kSlotCount; ++slot)
        if (tags_[slot] && *tags_[slot] == tag) return slot;
    return -1;
}

bool HLSettingsManager::isVerboseLoggingOn() const {
    Value value = read(kHLSlotIsVerboseLogging).value;
    return value.isNumber() && value.boolValue();
}

std::optional<std::string> HLSettingsManager::tagForKey(int64_t slot) const {
    checkIndex(slot);
    std::scoped_lock lock(mutex_);
    return tags_[slot];
}

Value HLSettingsManager::defaultForKey(int64_t slot) const {
    checkIndex(slot);
    std::scoped_lock lock(mutex_);
    return defaults_[slot];
}

// ---- Writing

void HLSettingsManager::setCurrent(Value value, int64_t slot) {
    std::scoped_lock lock(mutex_);
    settings_[slot] = std::move(value);
    if (storeUnread_) changedUnread_[slot] = true;
}

void HLSettingsManager::putString(const std::optional<std::string>& value, int64_t slot) {
    checkIndex(slot);
    if (!value) NSException::raise(NSInvalidArgumentException, "No value specified");
    setCurrent(Value(*value), slot);
    log("DEBUG", "Setting %@ set to %@", hlTagText(tagForKey(slot)), *value);
}

void HLSettingsManager::putNumber(const Value& number, int64_t slot) {
    checkIndex(slot);
    setCurrent(number, slot);
    log("DEBUG", "Setting %@ is set to %@", hlTagText(tagForKey(slot)), number);
}

void HLSettingsManager::clear(int64_t slot) {
    checkIndex(slot);
    setCurrent(Value(), slot);
}

void HLSettingsManager::setDefault(Value value, int64_t slot, std::string tag) {
    checkIndex(slot);
    std::scoped_lock lock(mutex_);
    defaults_[slot] = std::move(value);
    tags_[slot] = std::move(tag);
}

void HLSettingsManager::setDefaultBool(bool value, int64_t slot, std::string tag) {
    setDefault(Value(value), slot, std::move(tag));
}
void HLSettingsManager::setDefaultInt(int32_t value, int64_t slot, std::string tag) {
    setDefault(Value(value), slot, std::move(tag));
}
void HLSettingsManager::setDefaultLong(int64_t value, int64_t slot, std::string tag) {
    setDefault(Value(static_cast<long long>(value)), slot, std::move(tag));
}
void HLSettingsManager::setDefaultString(std::string value, int64_t slot, std::string tag) {
    setDefault(Value(std::move(value)), slot, std::move(tag));
}
