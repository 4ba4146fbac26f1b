#include "simulator/TamarindService.h"

#include <nlohmann/json.hpp>

#include "platform/foundation/NSURL.h"

namespace simulator {

namespace {

Answer tamarindJsonAnswer(std::string body) {
    return Answer::ok(std::move(body)).header("Content-Type", "application/json");
}

bool tamarindHasPrefix(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

}  // namespace

TamarindService::TamarindService() = default;
TamarindService::~TamarindService() { stop(); }

bool TamarindService::start() {
    if (!server_.start()) return false;
    setConfig(defaultConfig());
    setAd(TamarindAd{});
    server_.route("POST", kGenerateDevicePath, tamarindJsonAnswer(nlohmann::json{{"did", kDeviceId}}.dump()));
    server_.route("POST", kUpdateDevicePath, tamarindJsonAnswer("{}"));
    server_.route("POST", kRegisterEventPath, tamarindJsonAnswer("{}"));
    server_.route("GET", kViewabilityScriptPath,
                  Answer::ok(kViewabilityScript).header("Content-Type", "application/javascript"));
    server_.route("GET", kPicturePath, Answer::ok(pictureBytes()).header("Content-Type", "image/png"));
    server_.route("GET", kPicturePagePath,
                  Answer::ok("<html><body>not a picture</body></html>").header("Content-Type", "text/html"));
    // Pixels carry their id or metric in the path: answered by prefix.
    server_.setFallback([](const RecordedRequest& request) {
        for (const char* prefix : {kImpressionPath, kInstrumentationPath, kMetricPath})
            if (request.method == "GET" && tamarindHasPrefix(request.path, std::string(prefix) + "/")) return Answer::ok();
        return Answer::withStatus(404);
    });
    return true;
}

void TamarindService::stop() { server_.stop(); }

std::string TamarindService::defaultConfig() const {
    nlohmann::ordered_json config = {
        {"ttl", 3600},
        {"adServerHost", server_.url("")},
        {"adServerPath", kAdPath},
        {"sisHost", server_.url("")},
        {"metricEndpoint", server_.url(kMetricPath)},
        {"viewabilityScriptUrl", server_.url(kViewabilityScriptPath)},
        {"viewabilityScriptVersion", kViewabilityVersion},
        {"viewableInterval", 200},
    };
    return config.dump();
}

void TamarindService::setConfig(std::string json) { setConfigAnswer(tamarindJsonAnswer(std::move(json))); }
void TamarindService::setConfigAnswer(Answer answer) { server_.route("GET", kConfigurationPath, std::move(answer)); }

std::string TamarindService::adJson(const TamarindAd& ad) const {
    nlohmann::ordered_json answer = {{"errorCode", ad.errorCode}};
    if (ad.creative) answer["creative"] = *ad.creative;
    if (ad.creativeType) answer["creativeType"] = *ad.creativeType;
    if (ad.impressionPixel) answer["impressionPixel"] = server_.url(std::string(kImpressionPath) + "/" + ad.id);
    if (ad.instrumentationPixel)
        answer["instrumentationPixel"] = server_.url(std::string(kInstrumentationPath) + "/" + ad.id);
    if (ad.cacheTTL) answer["cacheTTL"] = *ad.cacheTTL;
    if (ad.noretryTTL) answer["noretryTTL"] = *ad.noretryTTL;
    return answer.dump();
}

Answer TamarindService::adAnswer(const TamarindAd& ad) const { return tamarindJsonAnswer(adJson(ad)); }
void TamarindService::setAd(const TamarindAd& ad) { server_.route("POST", kAdPath, adAnswer(ad)); }
void TamarindService::setAdAnswers(std::vector<Answer> answers) { server_.route("POST", kAdPath, std::move(answers)); }
void TamarindService::setAnswer(std::string method, std::string path, Answer answer) {
    server_.route(std::move(method), std::move(path), std::move(answer));
}

std::vector<RecordedRequest> TamarindService::requestsUnder(std::string_view prefix) const {
    std::vector<RecordedRequest> list;
    for (const RecordedRequest& r : server_.requests())
        if (tamarindHasPrefix(r.path, prefix)) list.push_back(r);
    return list;
}

std::vector<std::string> TamarindService::metricPixels() const {
    std::vector<std::string> names;
    std::string prefix = std::string(kMetricPath) + "/";
    for (const RecordedRequest& r : requestsUnder(prefix)) {
        std::string raw = r.path.substr(prefix.size());
        names.push_back(platform::removePercentEscapes(raw).value_or(raw));
    }
    return names;
}

std::vector<QueryFields> TamarindService::instrumentationPixels() const {
    std::vector<QueryFields> pixels;
    for (const RecordedRequest& r : requestsUnder(std::string(kInstrumentationPath) + "/"))
        pixels.push_back(parseQueryFields(r.query.value_or("")));
    return pixels;
}

std::string TamarindService::pictureBytes() {
    // A 4 x 4 opaque purple PNG, written out byte by byte.
    static const unsigned char png[] = {
        0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00, 0x00,
        0x04, 0x00, 0x00, 0x00, 0x04, 0x08, 0x06, 0x00, 0x00, 0x00, 0xa9, 0xf1, 0x9e, 0x7e, 0x00, 0x00, 0x00, 0x12, 0x49,
        0x44, 0x41, 0x54, 0x78, 0xda, 0x63, 0xe8, 0xb3, 0xba, 0xf6, 0x1f, 0x19, 0x33, 0x90, 0x2e, 0x00, 0x00, 0x7e, 0xb7,
        0x29, 0xd1, 0xdf, 0xce, 0xf3, 0x17, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82,
    };
    return std::string(reinterpret_cast<const char*>(png), sizeof png);
}

std::optional<std::string> TamarindService::field(const QueryFields& fields, std::string_view name) {
    return queryField(fields, name);
}

}  // namespace simulator
