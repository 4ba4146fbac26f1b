// A bundle folder and its Info.plist: the main bundle holds the program's
// resources and identity (bundle identifier, versions, supported orientations,
// the clients' configuration keys).
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/NSURL.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

namespace platform {

class NSBundle : public NSObject {
public:
    // The program's bundle (Platform::bundlePath()); always present, with an
    // empty info dictionary when the folder or its Info.plist is missing.
    static Ref<NSBundle> mainBundle();
    // Null when there is no folder at `path`.
    static Ref<NSBundle> bundleWithPath(const std::string& path);
    Ref<NSBundle> initWithPath(const std::string& path);

    std::string bundlePath() const;
    // Resources live in the bundle folder itself.
    std::string resourcePath() const { return bundlePath(); }
    // "CFBundleIdentifier", nullopt when absent or not a string.
    std::optional<std::string> bundleIdentifier() const;
    // Info.plist (binary or XML) as a dictionary; empty when absent or corrupt.
    Value infoDictionary() const;
    Value objectForInfoDictionaryKey(const std::string& key) const;

    // Path of an existing file or folder "<name>.<type>" (type empty: `name`
    // as it is), optionally in a sub-folder; nullopt when there is none.
    std::optional<std::string> pathForResource(const std::string& name, const std::string& type) const;
    std::optional<std::string> pathForResource(const std::string& name, const std::string& type,
                                               const std::string& inDirectory) const;
    Ref<NSURL> URLForResource(const std::string& name, const std::string& extension) const;
    // <bundle>/StoreKit/receipt (normally absent).
    Ref<NSURL> appStoreReceiptURL() const;
    // Nib loading is not provided: always an empty array.
    Value loadNibNamed(const std::string& name, const Ref<NSObject>& owner, const Value& options) const;

    // Test seam: changes one Info.plist value in memory (Null removes it).
    void setInfoDictionaryValue(const std::string& key, const Value& value);

    // Platform start-up: points the main bundle at `path` and reads its Info.plist.
    static void loadMainBundle(const std::string& path);

private:
    void load(const std::string& path);

    mutable std::mutex mutex_;
    std::string path_;
    Value info_;
};

}  // namespace platform

using platform::NSBundle;
