#include "host/HostOptions.h"

#include <map>

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

std::string hostUsage() {
    std::string scenarios;
    for (const ScenarioInfo& info : ScenarioRegistry::all())
        scenarios += "                             " + std::string(info.name) + ": " + info.summary + "\n";
    return "usage: host [options]\n"
           "Plays the application's side of a scenario against the clients' services, prints a\n"
           "timeline and writes the recorded traffic and the sandbox's files.\n"
           "\n"
           "  --scenario NAME          what to play (default startup):\n" +
           scenarios +
           "  --out DIR                output folder (default out/demo): new, empty or an earlier\n"
           "                           output of this program, whose files alone are replaced\n"
           "  --trillium-url URL       the Trillium ad platform's base URL, e.g. http://host:8080/1.3/\n"
           "  --relay-url URL          the Relay configuration endpoint, e.g. http://host/sdk/v1/config\n"
           "  --partner-url URL        the partner named by the embedded Relay configuration\n"
           "  --halcyon-url URL        the Halcyon servers' base URL: the client is given api/, ads/\n"
           "                           and pix? below it, e.g. http://host:8080/\n"
           "  --tamarind-url URL       the Tamarind servers' base URL: the client's configuration is\n"
           "                           msdk/getConfig below it, e.g. http://host:8080/\n"
           "                           (each service: default the embedded simulator on loopback;\n"
           "                           a scenario starts only the services it uses)\n"
           "  --clock virtual|wall     virtual (default): the scenario's minutes pass in seconds;\n"
           "                           wall: they take as long as they say\n"
           "  --trillium-app-id ID     the application identifier given to the Trillium client\n"
           "  --trillium-dev-id ID     the developer identifier given to the Trillium client\n"
           "  --analytics-key KEY      the analytics client's API key\n"
           "  --tamarind-key KEY       the Tamarind application key\n"
           "  --halcyon-key KEY        the Halcyon SDK key (at least four characters)\n"
           "  --splash-theme N         the theme (0-5) of the trillium scenario's splash screen\n"
           "                           (default: the ad platform configuration's)\n"
           "  --reachability-host NAME the host name on which network reachability is judged\n"
           "  --home DIR               keep the application's sandbox in DIR across runs (not inside\n"
           "                           --out; default: a fresh sandbox for each run)\n"
           "  --exit-when-idle         stop at the first idle main loop after launch (saying\n"
           "                           \"host: idle\"), writing nothing (for the start-up benchmark)\n"
           "  --help                   this text\n"
           "\n"
           "SIGINT or SIGTERM ends the scenario early and writes what it has; a second one ends\n"
           "the program at once.\n";
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
        if (name == "--help" || name == "-h") return {HostOptionsParse::Outcome::Help, hostUsage()};
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
    if (!ScenarioRegistry::find(options.scenario)) {
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
