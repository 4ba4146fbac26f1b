#include "tamarind/TMLog.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "platform/runtime/Log.h"
#include "platform/web/RepeatedRefusals.h"

namespace TMLog {

namespace {
std::atomic<TMLogLevel> gTMLogLevel{TMLogLevel::Warn};
}  // namespace

void setLogLevel(TMLogLevel level) { gTMLogLevel.store(level); }
TMLogLevel logLevel() { return gTMLogLevel.load(); }
bool enabled(TMLogLevel level) { return level >= gTMLogLevel.load() && level != TMLogLevel::None; }

void write(TMLogLevel level, std::string_view message) {
    static constexpr const char* prefixes[] = {"TamarindAd [Debug]: ", "TamarindAd [Info]: ", "TamarindAd [Warn]: ",
                                               "TamarindAd [Error]: "};
    static constexpr platform::LogLevel levels[] = {platform::LogLevel::Debug, platform::LogLevel::Info,
                                                    platform::LogLevel::Warning, platform::LogLevel::Error};
    auto index = static_cast<size_t>(level);
    if (index >= 4) return;
    std::string line = prefixes[index];
    line.append(message);
    platform::log(levels[index], line);
}

void writeFolded(platform::web::RepeatedRefusals& lines, TMLogLevel level, const std::string& kind, std::string line) {
    if (!enabled(level)) return;
    lines.refuse(kind, std::move(line), [level](const std::string& folded) { write(level, folded); });
}

std::string pointerText(const void* object) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", object);
    return text;
}

}  // namespace TMLog
