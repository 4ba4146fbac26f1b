#include "host/HostOptions.h"

#include <map>

#include "host/HostUsageText.h"
#include "host/scenarios/Scenarios.h"
#include "platform/foundation/NSURL.h"

namespace {

bool isHttpUrl(const std::string& text) {
    auto url = NSURL::URLWithString(text);
    if (!url || url->host().empty()) return false;
    std::string scheme = url->scheme();
    return scheme == "http" || scheme == "https";
}

}  // namespace

std::string hostUsage(std::string_view invokedAs) {
    // The file names the program "host"; the first line says how it was started.
    std::string_view text = kHostUsageText;
    constexpr std::string_view kNamed = "usage: host ";
    if (text.substr(0, kNamed.size()) != kNamed) return std::string(text);
    return "usage: " + std::string(invokedAs) + " " + std::string(text.substr(kNamed.size()));
}

std::string hostUsageError(std::string_view error, std::string_view invokedAs) {
    return "host: " + std::string(error) + "\n" + std::string(invokedAs) + " --help lists the options\n";
}

HostOptionsParse parseHostOptions(const std::vector<std::string>& arguments, HostOptions& options) {
    const std::map<std::string, std::string*> texts = {
        {"--scenario", &options.scenario},
        {"--out", &options.outDir},
        {"--trillium-url", &options.trilliumUrl},
        {"--relay-url", &options.relayUrl},
        {"--partner-url", &options.partnerUrl},
        {"--halcyon-url", &options.halcyonUrl},
        {"--tamarind-url", &options.tamarindUrl},
        {"--halcyon-key", &options.halcyonKey},
        {"--trillium-app-id", &options.trilliumAppId},
        {"--trillium-dev-id", &options.trilliumDevId},
        {"--analytics-key", &options.analyticsKey},
        {"--tamarind-key", &options.tamarindKey},
        {"--reachability-host", &options.reachabilityHost},
        {"--home", &options.homeDir},
    };
    auto error = [](std::string message) {
        return HostOptionsParse{HostOptionsParse::Outcome::Error, std::move(message)};
    };
    std::string clock, splashTheme;
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::string value;
        bool inlineValue = false;
        if (size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            inlineValue = true;
        }
        if (name == "--help" || name == "-h") return {HostOptionsParse::Outcome::Help, {}};
        if (name == "--exit-when-idle" && !inlineValue) {
            options.exitWhenIdle = true;
            continue;
        }
        bool known = name == "--clock" || name == "--splash-theme" || texts.count(name);
        if (!known) return error("unknown option: " + name);
        if (!inlineValue) {
            if (i + 1 >= arguments.size()) return error(name + " needs a value");
            value = arguments[++i];
        }
        if (value.empty()) return error(name + " needs a non-empty value");
        if (name == "--clock") clock = value;
        else if (name == "--splash-theme") splashTheme = value;
        else *texts.at(name) = value;
    }
    if (!clock.empty()) {
        if (clock == "virtual") options.clock = HostOptions::Clock::Virtual;
        else if (clock == "wall") options.clock = HostOptions::Clock::Wall;
        else return error("--clock must be virtual or wall, not " + clock);
    }
    if (!splashTheme.empty()) {
        if (splashTheme.size() != 1 || splashTheme[0] < '0' || splashTheme[0] > '5')
            return error("--splash-theme must be a theme from 0 to 5, not " + splashTheme);
        options.splashTheme = splashTheme[0] - '0';
    }
    // The start-up benchmark times one scenario's start.
    if (options.scenario.empty() && options.exitWhenIdle) options.scenario = ScenarioRegistry::all().front().name;
    if (!options.scenario.empty() && !ScenarioRegistry::find(options.scenario)) {
        std::string names;
        for (const ScenarioInfo& info : ScenarioRegistry::all()) names += std::string(names.empty() ? "" : ", ") + info.name;
        return error("unknown scenario: " + options.scenario + " (known: " + names + ")");
    }
    for (auto [flag, url] : {std::pair{"--trillium-url", &options.trilliumUrl}, std::pair{"--relay-url", &options.relayUrl},
                             std::pair{"--partner-url", &options.partnerUrl},
                             std::pair{"--halcyon-url", &options.halcyonUrl},
                             std::pair{"--tamarind-url", &options.tamarindUrl}}) {
        if (!url->empty() && !isHttpUrl(*url)) return error(std::string(flag) + " is not an http(s) URL: " + *url);
    }
    // Request paths are appended to the Trillium, Halcyon and Tamarind bases directly.
    for (std::string* base : {&options.trilliumUrl, &options.halcyonUrl, &options.tamarindUrl})
        if (!base->empty() && base->back() != '/') *base += '/';
    // The client's stored settings are named by the key's first four characters.
    if (options.halcyonKey.size() < 4) return error("--halcyon-key needs at least four characters: " + options.halcyonKey);
    // The callback path is appended to the partner's base.
    while (!options.partnerUrl.empty() && options.partnerUrl.back() == '/') options.partnerUrl.pop_back();
    if (!options.partnerUrl.empty() && !options.relayUrl.empty())
        return error("--partner-url needs the embedded Relay configuration server: the configuration at --relay-url "
                     "names its own partner");
    return {};
}
