#include "platform/foundation/NSBundle.h"

#include <sys/stat.h>

#include "platform/foundation/Platform.h"
#include "platform/foundation/PropertyList.h"
#include "platform/runtime/Log.h"

namespace platform {

namespace {

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

Ref<NSBundle> NSBundle::mainBundle() {
    static const Ref<NSBundle> bundle = [] {
        auto b = NSBundle::alloc<NSBundle>();
        b->load(Platform::bundlePath());
        return b;
    }();
    return bundle;
}

void NSBundle::loadMainBundle(const std::string& path) { mainBundle()->load(path); }

Ref<NSBundle> NSBundle::bundleWithPath(const std::string& path) {
    return NSBundle::alloc<NSBundle>()->initWithPath(path);
}

Ref<NSBundle> NSBundle::initWithPath(const std::string& path) {
    if (!isDirectory(path)) return nullptr;
    load(path);
    return self<NSBundle>();
}

void NSBundle::load(const std::string& path) {
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    Value info = Value(ValueDictionary());
    if (std::optional<Value> read = PropertyList::valueWithContentsOfFile(folder + "/Info.plist")) {
        if (read->isDictionary()) info = std::move(*read);
        else log(LogLevel::Error, "NSBundle: " + folder + "/Info.plist is not a dictionary; ignored");
    }
    std::scoped_lock lock(mutex_);
    path_ = std::move(folder);
    info_ = std::move(info);
}

std::string NSBundle::bundlePath() const {
    std::scoped_lock lock(mutex_);
    return path_;
}

std::optional<std::string> NSBundle::bundleIdentifier() const {
    std::scoped_lock lock(mutex_);
    if (const std::string* id = info_["CFBundleIdentifier"].string()) return *id;
    return std::nullopt;
}

Value NSBundle::infoDictionary() const {
    std::scoped_lock lock(mutex_);
    return info_;
}

Value NSBundle::objectForInfoDictionaryKey(const std::string& key) const {
    std::scoped_lock lock(mutex_);
    return info_[key];
}

void NSBundle::setInfoDictionaryValue(const std::string& key, const Value& value) {
    std::scoped_lock lock(mutex_);
    if (value.isNull()) info_.remove(key);
    else info_.set(key, value);
}

std::optional<std::string> NSBundle::pathForResource(const std::string& name, const std::string& type) const {
    return pathForResource(name, type, "");
}

std::optional<std::string> NSBundle::pathForResource(const std::string& name, const std::string& type,
                                                     const std::string& inDirectory) const {
    if (name.empty() && type.empty()) return std::nullopt;
    std::string path = bundlePath();
    if (!inDirectory.empty()) path += "/" + inDirectory;
    path += "/" + name;
    if (!type.empty()) path += (type.front() == '.' ? "" : ".") + type;
    if (!exists(path)) return std::nullopt;
    return path;
}

Ref<NSURL> NSBundle::URLForResource(const std::string& name, const std::string& extension) const {
    std::optional<std::string> path = pathForResource(name, extension);
    return path ? NSURL::fileURLWithPath(*path) : nullptr;
}

Ref<NSURL> NSBundle::appStoreReceiptURL() const { return NSURL::fileURLWithPath(bundlePath() + "/StoreKit/receipt"); }

Value NSBundle::loadNibNamed(const std::string& /*name*/, const Ref<NSObject>& /*owner*/, const Value& /*options*/) const {
    return Value(Value::Array());
}

}  // namespace platform
