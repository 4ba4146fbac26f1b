// The analytics client's class-method toolbox: device facts, identifiers,
// digests and checksums, URL escaping, template filling, and the client's
// file folder with its archive helpers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/NSData.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/Value.h"

class OrreryUtil {
public:
    // The client's log level (Orrery::setLogLevel); 0 at start.
    static int logLevel();
    static bool isIPad();
    // Whether the device allows advertising tracking.
    static bool isAdTrackingEnabled();
    // The hardware model string ("iPhone8,1").
    static std::string devicePlatform();
    // The analytics device identifier, made when the client first starts a
    // session and kept in the persisted globals map; nothing before that,
    // nor while the map cannot be read (the stored one is taken up then).
    static std::optional<std::string> getOrreryId();
    static std::optional<std::string> getIdentifierForVendor();
    // A new random UUID in upper case ("8-4-4-4-12").
    static std::string generateCFUUID();
    static bool hasUserOptedOut();
    // Logs an error naming `caller` when run on the main thread; returns
    // whether the thread is fine.
    static bool assertThreadIsNotMain(std::string_view caller);

    // Lower-case hexadecimal MD5 of the string's UTF-8 bytes.
    static std::string md5String(std::string_view string);
    // CRC-32 (reflected 0xEDB88320, initial value and final inversion
    // 0xFFFFFFFF) as a signed 32-bit integer; 0 for empty data.
    static int32_t dataChecksum(const NSData& data);
    static int32_t dataChecksum(const uint8_t* bytes, size_t length);
    // Percent-escapes what a URL does not allow: characters outside the URL
    // set, a "%" that starts no valid escape, every "#" after the first.
    // Valid escapes are kept, so escaping twice changes nothing.
    static std::string encodeIllegalCharsToPercentEscapeString(std::string_view string);
    // Fills `string` in place: each match of `pattern` (a POSIX extended
    // regular expression without options; the macro pattern
    // "%?\{([A-Za-z0-9_])*\}" reads the same as in other dialects) is
    // replaced by the value of `values` (a dictionary)
    // whose key is the whole matched text, or by nothing when there is no
    // such key. The search goes on after the inserted text, so a value that
    // itself looks like a match is left as it is. A null string or a pattern
    // that does not compile changes nothing (the latter is logged).
    static void substituteParamsInString(std::string* string, const Value& values, std::string_view pattern);

    // "<Library>/OrreryFiles", created when missing and excluded from backup.
    // The first call in a process removes the temporary files that writes
    // interrupted by an earlier end of the process left there.
    static std::string filePathDirectory();
    // Keyed archive of `object` written atomically to `path`.
    static bool archiveObject(const Value& object, const std::string& path);
    // The unarchived object, or Null for a missing or unreadable file.
    static Value safeUnarchiveObjectWithFile(const std::string& path);
    // The unarchived object of the file at `path`: Null for a missing file
    // or bytes that are no archive (logged); nothing while the file is there
    // but cannot be read now (NSData::readFile), when the caller keeps what
    // it stands for, never writes over it, and reads it again later.
    static std::optional<Value> readArchiveFile(const std::string& path);
    static bool addSkipBackupAttributeToItemAtURL(const Ref<NSURL>& url);
};
