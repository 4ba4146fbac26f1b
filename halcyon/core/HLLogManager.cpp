#include "halcyon/core/HLLogManager.h"

#include <algorithm>

#include "halcyon/core/HLSettingsManager.h"
#include "platform/foundation/NSLog.h"
#include "platform/runtime/Log.h"
#include "platform/web/RepeatedRefusals.h"

namespace {
platform::LogLevel hlConsoleLevel(std::string_view level) {
    if (level == "DEBUG") return platform::LogLevel::Debug;
    if (level == "INFO") return platform::LogLevel::Info;
    if (level == "WARN") return platform::LogLevel::Warning;
    return platform::LogLevel::Error;
}

platform::web::RepeatedRefusal::Sink sinkFor(const Ref<HLLogManager>& logger, std::string_view level,
                                             std::string_view source) {
    return [logger, level = std::string(level), source = std::string(source)](const std::string& line) {
        logger->logMessage(line, source, level);
    };
}
}  // namespace

std::string hlValueForLog(const Value& value) { return platform::shortenedForLog(value.description()); }

void HLLogManager::setSettingsManager(const Ref<HLSettingsManager>& settingsManager) {
    std::scoped_lock lock(mutex_);
    settingsManager_ = settingsManager;
}

Ref<HLSettingsManager> HLLogManager::settingsManager() const {
    std::scoped_lock lock(mutex_);
    return settingsManager_;
}

void HLLogManager::setLogListener(const Ref<HLLogListenerDelegate>& listener) {
    std::scoped_lock lock(mutex_);
    listener_ = listener;
}

Ref<HLLogListenerDelegate> HLLogManager::logListener() const {
    std::scoped_lock lock(mutex_);
    return listener_;
}

bool HLLogManager::verbose() const {
    // Slot 9 is read directly, never through a getter that logs: a logging
    // getter would come back here and recurse without end.
    Ref<HLSettingsManager> settings = settingsManager();
    return settings && settings->isVerboseLoggingOn();
}

void HLLogManager::logMessage(std::string_view message, std::string_view source, std::string_view level) {
    const bool toConsole = verbose();
    Ref<HLLogListenerDelegate> listener = logListener();
    if (!toConsole && !listener) return;
    // A listener hears the line as the log would keep it: never longer.
    std::string line = platform::shortenedForLog(NSString::stringWithFormat("%@ [%@] %@", level, source, message),
                                                 platform::kLogLineLimit);
    if (toConsole) platform::NSLogMessage(NSString::stringWithFormat("[%@] %@", "HalcyonSdk", line), hlConsoleLevel(level));
    if (listener) listener->didLog(line);
}

void HLLogManager::writeFolded(platform::web::RepeatedRefusals& lines, std::string_view level, std::string_view source,
                               std::string_view kind, std::string message) {
    lines.refuse(std::string(kind), std::move(message), sinkFor(self<HLLogManager>(), level, source));
}

void HLLogManager::foldedNavigation(platform::web::RepeatedRefusals& lines, std::string_view source,
                                    const std::string& url) {
    static constexpr std::string_view kLine = "Handling a click on: ";
    static const platform::web::RepeatedRefusal::Repeats kByURL{
        kNewFoldedLinesPerPeriod, [](size_t count, const std::string& last) {
            return std::to_string(count) + " more navigations in " +
                   std::to_string(static_cast<long>(kFoldedLinePeriod)) + " s; the last to " +
                   last.substr(std::min(kLine.size(), last.size()));
        }};
    if (isHeard())
        lines.refuse(std::string(kLine), std::string(kLine) + url, sinkFor(self<HLLogManager>(), "INFO", source),
                     &kByURL);
}

void HLLogManager::eBecauseOf(std::string_view source, std::string_view message,
                              const std::optional<std::string>& exception) {
    if (exception)
        logMessage(NSString::stringWithFormat("%@ : %@", message, platform::shortenedForLog(*exception)), source,
                   "ERROR");
    else logMessage(message, source, "ERROR");
}

void HLLogManager::userErrorMessage(std::string_view source, std::string_view message) {
    std::string line = NSString::stringWithFormat("USER [%@] %@", source, message);
    platform::NSLogMessage(NSString::stringWithFormat("[%@] %@", "HalcyonSdk", line), platform::LogLevel::Error);
    if (Ref<HLLogListenerDelegate> listener = logListener())
        listener->didLog(platform::shortenedForLog(message, platform::kLogLineLimit));
}
