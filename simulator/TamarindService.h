// The Tamarind client's servers, played on one loopback server: the
// configuration ("/msdk/getConfig"), the ad server ("/msdk/getAd", answers
// scripted per request), the identity service ("/api3/…"), the viewability
// script, the impression, instrumentation and metric pixels its answers
// point at, and pictures for creatives to store. Every request is recorded; helpers read back query fields, pixel
// metrics and request bodies. The service writes and reads the wire forms
// with its own code, never the client's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "simulator/LoopbackServer.h"

namespace simulator {

// One ad answer as the ad server writes it.
struct TamarindAd {
    int64_t errorCode = 200;
    std::optional<std::string> creative = "<div id=\"tm-ad\">Tamarind test ad</div>";
    std::optional<std::string> creativeType = "template";
    // The service's own pixel URLs, named after `id`; false leaves them out.
    bool impressionPixel = true;
    bool instrumentationPixel = true;
    std::string id = "ad1";
    std::optional<int64_t> cacheTTL = std::nullopt;
    std::optional<int64_t> noretryTTL = std::nullopt;
};

class TamarindService {
public:
    static constexpr const char* kConfigurationPath = "/msdk/getConfig";
    static constexpr const char* kAdPath = "/msdk/getAd";
    static constexpr const char* kGenerateDevicePath = "/api3/generate_did";
    static constexpr const char* kUpdateDevicePath = "/api3/update_dev_info";
    static constexpr const char* kRegisterEventPath = "/api3/register_event";
    static constexpr const char* kViewabilityScriptPath = "/scripts/viewability.js";
    // Pixel paths: each request goes to "<path>/<id or metric>".
    static constexpr const char* kImpressionPath = "/pixel/impression";
    static constexpr const char* kInstrumentationPath = "/pixel/instrumentation";
    static constexpr const char* kMetricPath = "/metric";
    // Pictures a creative may ask to store: a 4 x 4 PNG, and an HTML page
    // answered 200 where a picture was expected (any other path is 404).
    static constexpr const char* kPicturePath = "/pictures/ghost.png";
    static constexpr const char* kPicturePagePath = "/pictures/page.html";
    static constexpr const char* kDeviceId = "sim-device-1";
    static constexpr const char* kViewabilityScript =
        "(function(){ var pixel = %@; var slot = %@; window.tmViewabilityReady = true; })();";
    static constexpr const char* kViewabilityVersion = "1";

    TamarindService();
    ~TamarindService();
    TamarindService(const TamarindService&) = delete;
    TamarindService& operator=(const TamarindService&) = delete;

    // Starts with the default configuration, the default ad, the identity
    // answers, the viewability script and 200 for every pixel.
    bool start();
    void stop();
    LoopbackServer& server() { return server_; }

    std::string url(std::string_view path) const { return server_.url(path); }
    std::string configurationURL() const { return server_.url(kConfigurationPath); }

    // The default configuration: every endpoint on this service, "ttl" 3600,
    // "viewableInterval" 200, the viewability script version 1.
    std::string defaultConfig() const;
    void setConfig(std::string json);
    void setConfigAnswer(Answer answer);

    // The ad answer's JSON text, and as a 200 answer.
    std::string adJson(const TamarindAd& ad) const;
    Answer adAnswer(const TamarindAd& ad) const;
    // Every ad request gets this answer / these answers in turn (the last repeating).
    void setAd(const TamarindAd& ad);
    void setAdAnswers(std::vector<Answer> answers);

    void setAnswer(std::string method, std::string path, Answer answer);

    std::vector<RecordedRequest> requestsTo(std::string_view path) const { return server_.requestsTo(path); }
    // Requests whose path starts with `prefix`, in arrival order.
    std::vector<RecordedRequest> requestsUnder(std::string_view prefix) const;
    // The decoded last path segment of every metric pixel, in order.
    std::vector<std::string> metricPixels() const;
    // The query fields of every instrumentation pixel, in order.
    std::vector<QueryFields> instrumentationPixels() const;

    // The bytes served at kPicturePath.
    static std::string pictureBytes();

    // The first value of the field; nullopt when absent.
    static std::optional<std::string> field(const QueryFields& fields, std::string_view name);

private:
    LoopbackServer server_;
};

}  // namespace simulator
