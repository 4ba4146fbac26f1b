// The Halcyon client's log sink. Every line names a level and a source (a
// class name, or a task's tag): "DEBUG [HLSdk] message". Lines reach the
// console as "[HalcyonSdk] <line>" only while verbose logging (slot 9) is on;
// user errors always do. A listener, when set, hears every line. Lines a
// page's calls or navigations give go through `folded`, so that a page looping
// on a bad command writes a few lines, not one per call. Called from every
// queue and the main thread at once.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/NSString.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class HLSettingsManager;
namespace platform::web {
class RepeatedRefusals;
}

// Hears every line the log manager writes (user errors as their message
// alone), on the logging thread: any task queue or the main thread, possibly
// several at once, sometimes with the postback queue's or the file cache's
// lock held: a listener must not wait for another thread that uses the client.
class HLLogListenerDelegate : public virtual NSObjectProtocol {
public:
    virtual void didLog(const std::string& line) = 0;
};

// A value a server or a stored file supplied (an ad's id, a JSON answer), as
// "%@" prints it, fit for a log line: by its start and length (shortenedForLog).
std::string hlValueForLog(const Value& value);

class HLLogManager : public NSObject {
public:
    Ref<HLLogManager> init() { return self<HLLogManager>(); }

    // Until it is given, slot 9 reads as off.
    void setSettingsManager(const Ref<HLSettingsManager>& settingsManager);
    Ref<HLSettingsManager> settingsManager() const;
    void setLogListener(const Ref<HLLogListenerDelegate>& listener);
    Ref<HLLogListenerDelegate> logListener() const;

    template <class... Args>
    void d(std::string_view source, std::string_view format, const Args&... args) {
        if (isHeard()) logMessage(NSString::stringWithFormat(format, args...), source, "DEBUG");
    }
    template <class... Args>
    void i(std::string_view source, std::string_view format, const Args&... args) {
        if (isHeard()) logMessage(NSString::stringWithFormat(format, args...), source, "INFO");
    }
    template <class... Args>
    void w(std::string_view source, std::string_view format, const Args&... args) {
        if (isHeard()) logMessage(NSString::stringWithFormat(format, args...), source, "WARN");
    }
    template <class... Args>
    void e(std::string_view source, std::string_view format, const Args&... args) {
        if (isHeard()) eBecauseOf(source, NSString::stringWithFormat(format, args...), std::nullopt);
    }
    // "<message> : <exception>" with an exception, the message alone without.
    void eBecauseOf(std::string_view source, std::string_view message, const std::optional<std::string>& exception);
    // Always on the console, as "[HalcyonSdk] USER [<source>] <message>".
    template <class... Args>
    void userError(std::string_view source, std::string_view format, const Args&... args) {
        userErrorMessage(source, NSString::stringWithFormat(format, args...));
    }
    void userErrorMessage(std::string_view source, std::string_view message);

    // How often a folded line's count is written while its kind goes on.
    static constexpr double kFoldedLinePeriod = 10;
    // A page-driven line at `level` ("DEBUG", "INFO", "WARN"), when heard:
    // folded with the earlier lines of its format in `lines` (the first at
    // once, then a count per period while they go on). Off the main thread
    // it is written at once.
    template <class... Args>
    void folded(platform::web::RepeatedRefusals& lines, std::string_view level, std::string_view source,
                std::string_view format, const Args&... args) {
        if (isHeard()) writeFolded(lines, level, source, format, NSString::stringWithFormat(format, args...));
    }
    // A navigation a page made itself (not a user's tap): "Handling a click
    // on: <url>", folded by URL when heard: a URL the fold has not written
    // (in more than its numbers) is written at once, up to
    // kNewFoldedLinesPerPeriod of them a period; each URL repeated is counted
    // on a line of its own, and the rest as "<n> more navigations in 10 s;
    // the last to <url>".
    static constexpr size_t kNewFoldedLinesPerPeriod = 20;
    void foldedNavigation(platform::web::RepeatedRefusals& lines, std::string_view source, const std::string& url);
    void writeFolded(platform::web::RepeatedRefusals& lines, std::string_view level, std::string_view source,
                     std::string_view kind, std::string message);

    // The common path: "<level> [<source>] <message>".
    void logMessage(std::string_view message, std::string_view source, std::string_view level);
    // Whether a line would reach the console or a listener now: a line
    // nobody hears is not even formatted.
    bool isHeard() const { return verbose() || logListener(); }

private:
    bool verbose() const;

    mutable std::mutex mutex_;  // guards the two references below
    Ref<HLSettingsManager> settingsManager_;
    Ref<HLLogListenerDelegate> listener_;
};
