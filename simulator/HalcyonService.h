// The Halcyon servers, played on one loopback server: the API endpoint
// ("/api/": "device", "vr", "cr") answering the "results" shapes the client
// reads, with a "settings" object the test sets; the event pixel endpoint
// ("/pix") and the postback endpoints ("/postback/<name>") answering 200
// with an empty body; the ad server ("/ads/2.0/ad") answering the ad set with
// setAd (204, no ad, until one is set); the resource files ads name ("/res/":
// scripts, style, images, a video, mute images; the ads' click tracking goes
// to "/postback/click") and the click destination ("/landing"); the ad
// server's native path ("/ads/nad") with its resource files ("/res/native/")
// and tracking paths, see HalcyonNativeAds.h. Both listeners, http and
// https, serve every path. Scripted answers (statuses, delays, stalls, empty
// or non-JSON bodies) are given per path and used in turn before the default
// answer returns. Every
// request is recorded (URL, query, headers, body). The wire forms are written
// and read here, apart from the client's code.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Value.h"
#include "simulator/HalcyonNativeAds.h"
#include "simulator/LoopbackServer.h"

namespace simulator {

// One event pixel or postback as it arrived: the request, its query decoded
// (in order) and its body read as JSON (Null when it has none or it is no JSON).
struct HalcyonPixel {
    RecordedRequest request;
    QueryFields query;
    Value body;

    // The first value of a query field.
    std::optional<std::string> field(std::string_view name) const;
    // How often the field occurs.
    size_t count(std::string_view name) const;
};

// The identifiers a "device" answer returns.
struct HalcyonDeviceIdentity {
    std::string deviceId = "hl-device-1";
    std::string deviceToken = "hl-token-1";
    std::string publisherId = "hl-publisher-1";
    std::string appId = "hl-app-1";
    std::optional<std::string> vz;  // sent beside "app_id" when set
};

// One ad the ad server answers, written as JSON by the service. In the
// page and the URLs, "{RES}" stands for the resource prefix on the http
// listener ("http://127.0.0.1:<port>/res/") and "{BASE}" for the server
// ("http://127.0.0.1:<port>/").
struct HalcyonAd {
    std::optional<int64_t> adId;        // default: 1, 2, … in answer order
    std::optional<std::string> size;    // default: the request's "size"
    std::optional<std::string> adType;  // default: the request's "require", else "REGULAR"
    std::optional<std::string> html = std::string(kDefaultPage);
    std::optional<std::string> video;   // a URL, e.g. "{RES}video.mp4"
    std::optional<std::string> muteImage;
    std::optional<std::string> unmuteImage;
    std::optional<std::string> clickUrl = std::string("{BASE}landing");
    std::optional<std::string> clickTrackingUrl = std::string("{BASE}postback/click?clcode={CLCODE}&p={PLACEMENT}");
    std::optional<std::string> videoEndUrl;
    std::optional<std::string> presentationMode;
    std::optional<int64_t> closeStyle;
    std::optional<std::string> storekitInfoJson;  // an object's JSON text
    std::vector<std::string> clcodes = {"cl-1"};
    std::optional<std::string> settingsJson;      // the answer's "settings" object
    std::optional<std::string> extraMembersJson;  // raw members ("\"k\": 1") added last

    // A page naming a script, a style sheet and an image under "{RES}".
    static constexpr const char* kDefaultPage =
        "<html><head><script src=\"{RES}ad.js\"></script><link rel='stylesheet' href='{RES}ad.css'></head>"
        "<body><a href=\"{BASE}landing\"><img src=\"{RES}banner.png\"></a></body></html>";
    // A video ad of {RES}video.mp4 with mute images and a completion URL.
    static HalcyonAd videoAd();
};

class HalcyonService {
public:
    static constexpr const char* kApiBasePath = "/api/";
    static constexpr const char* kDevicePath = "/api/device";
    static constexpr const char* kRewardValidationPath = "/api/vr";
    static constexpr const char* kRewardReportPath = "/api/cr";
    static constexpr const char* kAdServerBasePath = "/ads/";
    static constexpr const char* kAdPath = "/ads/2.0/ad";
    static constexpr const char* kResourceBasePath = "/res/";
    static constexpr const char* kLandingPath = "/landing";
    static constexpr const char* kEventPath = "/pix";
    static constexpr const char* kPostbackBasePath = "/postback/";
    static constexpr const char* kNativeAdPath = "/ads/nad";
    static constexpr const char* kNativeResourceBasePath = "/res/native/";
    static constexpr const char* kNativeTrackingBasePath = "/track/native_";

    HalcyonService();
    ~HalcyonService();
    HalcyonService(const HalcyonService&) = delete;
    HalcyonService& operator=(const HalcyonService&) = delete;

    bool start();
    void stop();
    LoopbackServer& server() { return server_; }

    // "http://127.0.0.1:<port>/api/", ".../ads/", ".../pix?": the values of
    // the client's endpoint settings (slots 11, 12 and 100).
    std::string apiUrl() const;
    std::string adServerUrl() const;
    std::string eventUrl() const;
    // The API endpoint on the https listener (trusted once the server's
    // certificateAuthorityPEM() is added to the trusted authorities).
    std::string secureApiUrl() const;
    // "http://127.0.0.1:<port>/postback/<name>" (answers 200 until scripted).
    std::string postbackUrl(std::string_view name) const;
    static std::string postbackPath(std::string_view name) { return std::string(kPostbackBasePath) + std::string(name); }
    // The resource prefix on the https and the http listener, joined by ","
    // (slot 31).
    std::string resourcePrefixes() const;
    // "http://127.0.0.1:<port>/res/" + name.
    std::string resourceUrl(std::string_view name = "") const;

    // The ad the ad server answers from now on; nullopt: 204.
    void setAd(std::optional<HalcyonAd> ad);
    // The ad requests for the incentivized type ("require=VIDEOA") get from
    // now on; nullopt: the same as every other request.
    void setIncentivizedAd(std::optional<HalcyonAd> ad);
    // The answer's JSON text for `ad` and `request` (placeholders filled, ids
    // taken from the counter).
    std::string adAnswer(const HalcyonAd& ad, const RecordedRequest& request);
    // A resource file served under "/res/<name>" (replacing a default one):
    // "ad.js", "ad.css", "banner.png", "mute.png", "unmute.png", "video.mp4".
    void setResource(const std::string& name, std::string body, std::string contentType);
    // The requests for "/res/<name>".
    size_t resourceRequestCount(std::string_view name) const;
    // The ad requests' query fields, in arrival order.
    std::vector<QueryFields> adRequestQueries() const;

    // The "settings" object (JSON object text) that every API answer carries
    // in its first result; nullopt: none.
    void setSettings(std::optional<std::string> json);
    void setDeviceIdentity(HalcyonDeviceIdentity identity);
    // What "vr" answers: {"results": [{"result": …, "params": …}]}.
    void setRewardResult(std::string result, std::string paramsJson = "{}");

    // The next requests to `path` get these answers in turn; then the
    // default answer returns.
    void script(const std::string& path, std::vector<Answer> answers);
    // Shorthand: statuses with empty bodies.
    void scriptStatuses(const std::string& path, const std::vector<int>& statuses);

    // What "nad" answers from now on (by default: generated ads, one per
    // "slot_count"); nullopt: 204.
    void setNativeAnswer(std::optional<HalcyonNativeAnswer> answer);
    // The answer's JSON text for `answer` and `request` (placeholders
    // filled, ids taken from the counter).
    std::string nativeAnswerJson(const HalcyonNativeAnswer& answer, const RecordedRequest& request);
    // "http://127.0.0.1:<port>/res/native/" + name.
    std::string nativeResourceUrl(std::string_view name = "") const;
    size_t nativeResourceRequestCount(std::string_view name) const;
    // The "nad" requests' query fields, in arrival order.
    std::vector<QueryFields> nativeRequestQueries() const;

    // The default answers' bodies.
    std::string deviceAnswer() const;
    std::string rewardValidationAnswer() const;

    std::vector<RecordedRequest> requestsTo(std::string_view path) const { return server_.requestsTo(path); }
    // The requests to the event endpoint, and to one postback endpoint, decoded.
    std::vector<HalcyonPixel> eventPixels() const { return pixelsTo(kEventPath); }
    std::vector<HalcyonPixel> postbacksTo(std::string_view name) const { return pixelsTo(postbackPath(name)); }
    std::vector<HalcyonPixel> pixelsTo(std::string_view path) const;
    // A request's body as JSON (Null when it is none).
    static Value jsonBody(const RecordedRequest& request);

    // A reward validation answer played per test: {"results": [{"result": …,
    // "params": …, "settings": …}]} with each member's raw JSON text (any
    // kind; left out when nullopt), as a 200 answer. Hold it with
    // Answer::stall(…) and let it go with server().releaseStalled().
    static std::string rewardAnswerBody(std::optional<std::string> resultJson,
                                        std::optional<std::string> paramsJson = std::nullopt,
                                        std::optional<std::string> settingsJson = std::nullopt);
    static Answer rewardAnswer(std::optional<std::string> resultJson,
                               std::optional<std::string> paramsJson = std::nullopt,
                               std::optional<std::string> settingsJson = std::nullopt);
    // The "vr" and "cr" bodies received, decoded, in order.
    std::vector<Value> rewardValidations() const;
    std::vector<Value> rewardReports() const;

private:
    Answer answer(const RecordedRequest& request);
    // The native path's answer; nullopt for another path.
    std::optional<Answer> nativeAnswer(const RecordedRequest& request);
    std::string resultsWith(std::string firstResult) const;  // under mutex_
    // `text` with "{RES}" and "{BASE}" replaced by these URLs.
    static std::string fillPlaceholders(std::string text, const std::string& resources, const std::string& base);
    // The first value of the request's query field.
    static std::optional<std::string> requestField(const RecordedRequest& request, std::string_view name);

    LoopbackServer server_;
    mutable std::mutex mutex_;  // guards the fields below
    std::optional<std::string> settings_;
    HalcyonDeviceIdentity identity_;
    std::string rewardResult_ = "accepted";
    std::string rewardParams_ = "{}";
    std::map<std::string, std::deque<Answer>> scripts_;
    std::optional<HalcyonAd> ad_;
    std::optional<HalcyonAd> incentivizedAd_;
    int64_t nextAdId_ = 1;
    std::map<std::string, std::pair<std::string, std::string>> resources_;  // name → body, content type
    std::optional<HalcyonNativeAnswer> nativeAnswer_ = HalcyonNativeAnswer{};
    int64_t nextNativeAdId_ = 1;
};

}  // namespace simulator
