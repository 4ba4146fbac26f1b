#include "analytics/OrreryUtil.h"

#include <mutex>
#include <set>

#include <regex.h>

#include "analytics/OrreryGlobalVariableStorage.h"
#include "analytics/OrreryLog.h"
#include "platform/foundation/DeviceProfile.h"
#include "platform/foundation/Digest.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUUID.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSThread.h"

int OrreryUtil::logLevel() { return OrreryGlobalVariableStorage::sharedInstance()->logLevel(); }

bool OrreryUtil::isIPad() { return platform::DeviceProfile::current().idiom == 1; }

bool OrreryUtil::isAdTrackingEnabled() { return platform::DeviceProfile::current().advertisingTrackingEnabled; }

std::string OrreryUtil::devicePlatform() { return platform::DeviceProfile::current().effectiveMachine(); }

std::optional<std::string> OrreryUtil::getOrreryId() {
    return OrreryGlobalVariableStorage::sharedInstance()->orreryId();
}

std::optional<std::string> OrreryUtil::getIdentifierForVendor() {
    std::string identifier = platform::DeviceProfile::identifierForVendor();
    if (identifier.empty()) return std::nullopt;
    return identifier;
}

std::string OrreryUtil::generateCFUUID() { return NSUUID::UUID()->UUIDString(); }

bool OrreryUtil::hasUserOptedOut() { return OrreryGlobalVariableStorage::sharedInstance()->userOptedOut(); }

bool OrreryUtil::assertThreadIsNotMain(std::string_view caller) {
    if (!NSThread::isMainThread()) return true;
    OrreryLog::error(std::string(caller) + " must not run on the main thread");
    return false;
}

std::string OrreryUtil::md5String(std::string_view string) { return platform::hexLower(platform::md5(string)); }

int32_t OrreryUtil::dataChecksum(const NSData& data) { return static_cast<int32_t>(platform::crc32(data)); }

int32_t OrreryUtil::dataChecksum(const uint8_t* bytes, size_t length) {
    return static_cast<int32_t>(platform::crc32(bytes, length));
}

std::string OrreryUtil::encodeIllegalCharsToPercentEscapeString(std::string_view string) {
    auto isHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); };
    std::string result;
    bool seenFragment = false;
    size_t runStart = 0;
    // Runs of ordinary text go through the platform's escaping; "%" and "#"
    // are decided here, since whether they are legal depends on the context.
    auto flushRun = [&](size_t end) { result += platform::addPercentEscapes(string.substr(runStart, end - runStart)); };
    for (size_t i = 0; i < string.size(); ++i) {
        char c = string[i];
        if (c != '%' && c != '#') continue;
        flushRun(i);
        if (c == '%') {
            bool validEscape = i + 2 < string.size() && isHex(string[i + 1]) && isHex(string[i + 2]);
            result += validEscape ? "%" : "%25";
        } else {
            result += seenFragment ? "%23" : "#";
            seenFragment = true;
        }
        runStart = i + 1;
    }
    flushRun(string.size());
    return result;
}

void OrreryUtil::substituteParamsInString(std::string* string, const Value& values, std::string_view pattern) {
    if (!string) return;
    // The C library's matcher: it needs no stack in proportion to the text,
    // so a long template from a server cannot overflow the stack (as a
    // recursive matcher would on a long run of macro characters).
    regex_t expression;
    if (regcomp(&expression, std::string(pattern).c_str(), REG_EXTENDED) != 0) {
        OrreryLog::error("the pattern \"" + platform::shortenedForLog(pattern) +
                         "\" does not compile; nothing substituted");
        return;
    }
    size_t searchFrom = 0;
    while (searchFrom <= string->size()) {
        regmatch_t match[1];
        match[0].rm_so = static_cast<regoff_t>(searchFrom);
        match[0].rm_eo = static_cast<regoff_t>(string->size());
        if (regexec(&expression, string->c_str(), 1, match, REG_STARTEND) != 0) break;
        size_t location = static_cast<size_t>(match[0].rm_so);
        size_t length = static_cast<size_t>(match[0].rm_eo - match[0].rm_so);
        std::string replacement;
        if (const Value& value = values[string->substr(location, length)]; !value.isNull())
            replacement = value.stringValue();
        string->replace(location, length, replacement);
        // Go on after the inserted text, so a value is never expanded again;
        // an empty match moves on by one so the search always advances.
        searchFrom = location + replacement.size() + (length == 0 && replacement.empty() ? 1 : 0);
    }
    regfree(&expression);
}

namespace {

// Folders this process has prepared (created, and cleared of temporary files).
std::mutex preparedFoldersMutex;
std::set<std::string>& preparedFolders() {
    static auto* folders = new std::set<std::string>();
    return *folders;
}

// A temporary file an atomic write leaves when the process dies mid-write.
bool isInterruptedWrite(const std::string& name) { return name.find(".tmp-") != std::string::npos; }

}  // namespace

std::string OrreryUtil::filePathDirectory() {
    std::vector<std::string> library = NSSearchPathForDirectoriesInDomains(NSLibraryDirectory, NSUserDomainMask, true);
    std::string folder = (library.empty() ? NSHomeDirectory() : library.front()) + "/OrreryFiles";
    // Once per process, before anything of this process writes there.
    std::scoped_lock lock(preparedFoldersMutex);
    if (preparedFolders().count(folder)) return folder;
    auto manager = NSFileManager::defaultManager();
    if (!manager->fileExistsAtPath(folder)) {
        Ref<NSError> error;
        if (!manager->createDirectoryAtPath(folder, true, Value(), &error))
            OrreryLog::error("could not create the folder " + folder + ": " +
                             (error ? error->localizedDescription() : std::string("unknown error")));
        addSkipBackupAttributeToItemAtURL(NSURL::fileURLWithPath(folder));
    } else {
        for (const std::string& name : manager->contentsOfDirectoryAtPath(folder)) {
            if (!isInterruptedWrite(name)) continue;
            OrreryLog::log(OrreryLog::kInfo,
                           "removing " + platform::shortenedForLog(name) + ", left by an interrupted write");
            manager->removeItemAtPath(folder + "/" + name);
        }
    }
    preparedFolders().insert(folder);
    return folder;
}

bool OrreryUtil::archiveObject(const Value& object, const std::string& path) {
    return NSKeyedArchiver::archiveRootObject(object, path);
}

Value OrreryUtil::safeUnarchiveObjectWithFile(const std::string& path) { return readArchiveFile(path).value_or(Value()); }

std::optional<Value> OrreryUtil::readArchiveFile(const std::string& path) {
    platform::FileRead read = NSData::readFile(path);
    if (!read.data) return read.absent ? std::optional<Value>(Value()) : std::nullopt;
    try {
        return NSKeyedUnarchiver::unarchiveObjectWithData(*read.data);
    } catch (const std::exception& e) {
        OrreryLog::error("could not unarchive " + path + ": " + platform::shortenedForLog(e.what()));
    } catch (...) {
        OrreryLog::error("could not unarchive " + path);
    }
    return Value();
}

bool OrreryUtil::addSkipBackupAttributeToItemAtURL(const Ref<NSURL>& url) {
    if (!url) return false;
    return url->setResourceValue(true, NSURLIsExcludedFromBackupKey);
}
