#include "host/HostOptions.h"

#include <map>

#include "platform/foundation/NSURL.h"

namespace {

bool isHttpBaseUrl(const std::string& text) {
    auto url = NSURL::URLWithString(text);
    if (!url || url->host().empty()) return false;
    std::string scheme = url->scheme();
    return scheme == "http" || scheme == "https";
}

}  // namespace

std::string hostUsage() {
    return "usage: host [options]\n"
           "Plays the application's side of start-up and of its lifecycle against the clients'\n"
           "services, prints a timeline and writes the recorded traffic and the sandbox's files.\n"
           "\n"
           "  --out DIR                output folder (default out/demo)\n"
           "  --trillium-url URL       the Trillium ad platform's base URL, e.g. http://host:8080/1.3/\n"
           "                           (default: the embedded simulator on loopback)\n"
           "  --clock virtual|wall     virtual (default): the scenario's minutes pass in seconds;\n"
           "                           wall: they take as long as they say\n"
           "  --trillium-app-id ID     the application identifier given to the Trillium client\n"
           "  --trillium-dev-id ID     the developer identifier given to the Trillium client\n"
           "  --analytics-key KEY      the analytics client's API key\n"
           "  --tamarind-key KEY       the Tamarind application key\n"
           "  --reachability-host NAME the host name on which network reachability is judged\n"
           "  --home DIR               keep the application's sandbox in DIR across runs\n"
           "                           (default: a fresh sandbox for each run)\n"
           "  --help                   this text\n";
}

HostOptionsParse parseHostOptions(const std::vector<std::string>& arguments, HostOptions& options) {
    const std::map<std::string, std::string*> texts = {
        {"--out", &options.outDir},
        {"--trillium-url", &options.trilliumUrl},
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
    std::string clock;
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
        bool known = name == "--clock" || texts.count(name);
        if (!known) return error("unknown option: " + name);
        if (!inlineValue) {
            if (i + 1 >= arguments.size()) return error(name + " needs a value");
            value = arguments[++i];
        }
        if (value.empty()) return error(name + " needs a non-empty value");
        if (name == "--clock") clock = value;
        else *texts.at(name) = value;
    }
    if (!clock.empty()) {
        if (clock == "virtual") options.clock = HostOptions::Clock::Virtual;
        else if (clock == "wall") options.clock = HostOptions::Clock::Wall;
        else return error("--clock must be virtual or wall, not " + clock);
    }
    if (!options.trilliumUrl.empty()) {
        if (!isHttpBaseUrl(options.trilliumUrl))
            return error("--trillium-url is not an http(s) URL: " + options.trilliumUrl);
        // Request paths are appended to the base directly.
        if (options.trilliumUrl.back() != '/') options.trilliumUrl += '/';
    }
    return {};
}
