#include "simulator/HalcyonService.h"

#include "platform/foundation/NSJSONSerialization.h"
#include "platform/foundation/NSString.h"
#ifdef HALCYON_SIMULATOR_MP4
#include "platform/media/TestMp4.h"
#endif

namespace simulator {

namespace {
std::string hlServiceJsonString(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        switch (c) {
            case '"': quoted += "\\\""; break;
            case '\\': quoted += "\\\\"; break;
            case '\n': quoted += "\\n"; break;
            case '\r': quoted += "\\r"; break;
            case '\t': quoted += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) quoted += NSString::stringWithFormat("\\u%04x", int(c));
                else quoted += c;
        }
    }
    return quoted + "\"";
}

// A 1×1 PNG (the images ads name).
std::string hlServicePng() {
    static const unsigned char png[] = {
        0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52,
        0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00, 0x00, 0x1f, 0x15, 0xc4,
        0x89, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0xf8, 0xcf, 0xc0, 0xf0,
        0x1f, 0x00, 0x05, 0x00, 0x01, 0xff, 0x89, 0x99, 0x3d, 0x1d, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45,
        0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
    return std::string(reinterpret_cast<const char*>(png), sizeof png);
}

// The video ads' file: a real 15 s clip when the media library is built.
std::string hlServiceVideo() {
#ifdef HALCYON_SIMULATOR_MP4
    std::vector<uint8_t> bytes = platform::testing::testMp4Bytes(15, 600, 320, 180, true);
    return std::string(bytes.begin(), bytes.end());
#else
    return "not a video";
#endif
}

Answer hlServiceJsonAnswer(std::string body) {
    return Answer::ok(std::move(body)).header("Content-Type", "application/json");
}
}  // namespace

std::string HalcyonService::fillPlaceholders(std::string text, const std::string& resources, const std::string& base) {
    text = NSString::stringByReplacingOccurrencesOfString(text, "{RES}", resources);
    return NSString::stringByReplacingOccurrencesOfString(text, "{BASE}", base);
}

std::optional<std::string> HalcyonService::requestField(const RecordedRequest& request, std::string_view name) {
    return queryField(parseQueryFields(request.query.value_or("")), name);
}

HalcyonAd HalcyonAd::videoAd() {
    HalcyonAd ad;
    ad.video = "{RES}video.mp4";
    ad.muteImage = "{RES}mute.png";
    ad.unmuteImage = "{RES}unmute.png";
    ad.videoEndUrl = "{BASE}postback/video_end?clcode={CLCODE}&p={PLACEMENT}";
    ad.presentationMode = "view_controller";
    return ad;
}

HalcyonService::HalcyonService() {
    const std::string png = hlServicePng();
    resources_ = {
        {"ad.js", {"window.halcyonAdLoaded = true;\n", "application/javascript"}},
        {"ad.css", {"body { margin: 0; background: #204060; }\n", "text/css"}},
        {"banner.png", {png, "image/png"}},
        {"mute.png", {png, "image/png"}},
        {"unmute.png", {png, "image/png"}},
        {"video.mp4", {hlServiceVideo(), "video/mp4"}},
    };
}
HalcyonService::~HalcyonService() { stop(); }

bool HalcyonService::start() {
    if (!server_.start()) return false;
    auto handler = [this](const RecordedRequest& request) { return answer(request); };
    for (const char* path : {kDevicePath, kRewardValidationPath, kRewardReportPath}) {
        server_.route("POST", path, handler);
        server_.route("GET", path, handler);
    }
    // Paths without a default answer still play scripted ones.
    server_.setFallback(handler);
    return true;
}

void HalcyonService::stop() { server_.stop(); }

std::string HalcyonService::apiUrl() const { return server_.url(kApiBasePath); }
std::string HalcyonService::adServerUrl() const { return server_.url(kAdServerBasePath); }
std::string HalcyonService::eventUrl() const { return server_.url(kEventPath) + "?"; }

std::string HalcyonService::postbackUrl(std::string_view name) const { return server_.url(postbackPath(name)); }

std::string HalcyonService::secureApiUrl() const { return server_.httpsURL(kApiBasePath); }

std::string HalcyonService::resourcePrefixes() const {
    return server_.httpsURL(kResourceBasePath) + "," + server_.url(kResourceBasePath);
}

std::string HalcyonService::resourceUrl(std::string_view name) const {
    return server_.url(kResourceBasePath) + std::string(name);
}

void HalcyonService::setIncentivizedAd(std::optional<HalcyonAd> ad) {
    std::scoped_lock lock(mutex_);
    incentivizedAd_ = std::move(ad);
}

void HalcyonService::setAd(std::optional<HalcyonAd> ad) {
    std::scoped_lock lock(mutex_);
    ad_ = std::move(ad);
}

void HalcyonService::setResource(const std::string& name, std::string body, std::string contentType) {
    std::scoped_lock lock(mutex_);
    resources_[name] = {std::move(body), std::move(contentType)};
}

size_t HalcyonService::resourceRequestCount(std::string_view name) const {
    return server_.requestsTo(std::string(kResourceBasePath) + std::string(name)).size();
}

std::vector<QueryFields> HalcyonService::adRequestQueries() const {
    std::vector<QueryFields> queries;
    for (const RecordedRequest& request : server_.requestsTo(kAdPath))
        queries.push_back(parseQueryFields(request.query.value_or("")));
    return queries;
}

std::string HalcyonService::adAnswer(const HalcyonAd& ad, const RecordedRequest& request) {
    const std::string resources = server_.url(kResourceBasePath);
    const std::string base = server_.url("/");
    int64_t id;
    {
        std::scoped_lock lock(mutex_);
        id = ad.adId.value_or(nextAdId_++);
    }
    std::string json = "{\"ad_id\": " + std::to_string(id);
    auto member = [&](const char* key, const std::optional<std::string>& value) {
        if (value) json += ", \"" + std::string(key) + "\": " + hlServiceJsonString(fillPlaceholders(*value, resources, base));
    };
    member("size", ad.size ? ad.size : requestField(request, "size"));
    std::optional<std::string> type = ad.adType ? ad.adType : requestField(request, "require");
    member("ad_type", type.value_or("REGULAR"));
    member("html", ad.html);
    member("video", ad.video);
    member("mute_image", ad.muteImage);
    member("unmute_image", ad.unmuteImage);
    member("click_url", ad.clickUrl);
    member("click_tracking_url", ad.clickTrackingUrl);
    member("video_end_url", ad.videoEndUrl);
    member("presentation_mode", ad.presentationMode);
    if (ad.closeStyle) json += ", \"close_style\": " + std::to_string(*ad.closeStyle);
    if (ad.storekitInfoJson) json += ", \"storekit_info\": " + *ad.storekitInfoJson;
    json += ", \"clcodes\": [";
    for (size_t i = 0; i < ad.clcodes.size(); ++i) json += (i ? ", " : "") + hlServiceJsonString(ad.clcodes[i]);
    json += "]";
    if (ad.settingsJson) json += ", \"settings\": " + *ad.settingsJson;
    if (ad.extraMembersJson) json += ", " + *ad.extraMembersJson;
    return json + "}";
}

void HalcyonService::setSettings(std::optional<std::string> json) {
    std::scoped_lock lock(mutex_);
    settings_ = std::move(json);
}

void HalcyonService::setDeviceIdentity(HalcyonDeviceIdentity identity) {
    std::scoped_lock lock(mutex_);
    identity_ = std::move(identity);
}

void HalcyonService::setRewardResult(std::string result, std::string paramsJson) {
    std::scoped_lock lock(mutex_);
    rewardResult_ = std::move(result);
    rewardParams_ = std::move(paramsJson);
}

void HalcyonService::script(const std::string& path, std::vector<Answer> answers) {
    std::scoped_lock lock(mutex_);
    auto& queue = scripts_[path];
    for (Answer& a : answers) queue.push_back(std::move(a));
}

void HalcyonService::scriptStatuses(const std::string& path, const std::vector<int>& statuses) {
    std::vector<Answer> answers;
    for (int status : statuses) answers.push_back(Answer::withStatus(status));
    script(path, std::move(answers));
}

std::string HalcyonService::resultsWith(std::string firstResult) const {
    if (settings_) {
        firstResult.pop_back();  // the closing brace
        firstResult += ", \"settings\": " + *settings_ + "}";
    }
    return "{\"results\": [" + firstResult + "]}";
}

std::string HalcyonService::deviceAnswer() const {
    std::scoped_lock lock(mutex_);
    std::string result = "{\"device_id\": " + hlServiceJsonString(identity_.deviceId) +
                         ", \"device_token\": " + hlServiceJsonString(identity_.deviceToken) +
                         ", \"publisher_id\": " + hlServiceJsonString(identity_.publisherId) +
                         ", \"app_id\": " + hlServiceJsonString(identity_.appId);
    if (identity_.vz) result += ", \"vz\": " + hlServiceJsonString(*identity_.vz);
    return resultsWith(result + "}");
}

std::string HalcyonService::rewardValidationAnswer() const {
    std::scoped_lock lock(mutex_);
    return resultsWith("{\"result\": " + hlServiceJsonString(rewardResult_) + ", \"params\": " + rewardParams_ + "}");
}

Answer HalcyonService::answer(const RecordedRequest& request) {
    {
        std::scoped_lock lock(mutex_);
        auto it = scripts_.find(request.path);
        if (it != scripts_.end() && !it->second.empty()) {
            Answer next = std::move(it->second.front());
            it->second.pop_front();
            return next;
        }
    }
    if (std::optional<Answer> native = nativeAnswer(request)) return *native;
    if (request.path == kDevicePath) return hlServiceJsonAnswer(deviceAnswer());
    if (request.path == kRewardValidationPath) return hlServiceJsonAnswer(rewardValidationAnswer());
    if (request.path == kRewardReportPath) return hlServiceJsonAnswer("{\"results\": []}");
    if (request.path == kEventPath || request.path.starts_with(kPostbackBasePath)) return Answer::ok();
    if (request.path == kAdPath) {
        std::optional<HalcyonAd> ad;
        {
            std::scoped_lock lock(mutex_);
            ad = ad_;
            if (incentivizedAd_ && requestField(request, "require") == "VIDEOA") ad = incentivizedAd_;
        }
        return ad ? hlServiceJsonAnswer(adAnswer(*ad, request)) : Answer::withStatus(204);
    }
    if (request.path.rfind(kResourceBasePath, 0) == 0) {
        std::scoped_lock lock(mutex_);
        auto it = resources_.find(request.path.substr(std::string_view(kResourceBasePath).size()));
        if (it == resources_.end()) return Answer::withStatus(404);
        return Answer::ok(it->second.first).header("Content-Type", it->second.second);
    }
    if (request.path == kLandingPath) return Answer::ok("<html><body>landing</body></html>").header("Content-Type", "text/html");
    return Answer::withStatus(404);
}

std::optional<std::string> HalcyonPixel::field(std::string_view name) const { return queryField(query, name); }

size_t HalcyonPixel::count(std::string_view name) const {
    size_t n = 0;
    for (const auto& entry : query) n += entry.first == name;
    return n;
}

std::vector<HalcyonPixel> HalcyonService::pixelsTo(std::string_view path) const {
    std::vector<HalcyonPixel> pixels;
    for (RecordedRequest& request : server_.requestsTo(path)) {
        HalcyonPixel pixel;
        pixel.query = parseQueryFields(request.query.value_or(""));
        pixel.body = jsonBody(request);
        pixel.request = std::move(request);
        pixels.push_back(std::move(pixel));
    }
    return pixels;
}

std::string HalcyonService::rewardAnswerBody(std::optional<std::string> resultJson,
                                            std::optional<std::string> paramsJson,
                                            std::optional<std::string> settingsJson) {
    std::string members;
    auto add = [&](const char* key, const std::optional<std::string>& json) {
        if (!json) return;
        members += std::string(members.empty() ? "" : ", ") + "\"" + key + "\": " + *json;
    };
    add("result", resultJson);
    add("params", paramsJson);
    add("settings", settingsJson);
    return "{\"results\": [{" + members + "}]}";
}

Answer HalcyonService::rewardAnswer(std::optional<std::string> resultJson, std::optional<std::string> paramsJson,
                                    std::optional<std::string> settingsJson) {
    return hlServiceJsonAnswer(rewardAnswerBody(std::move(resultJson), std::move(paramsJson), std::move(settingsJson)));
}

std::vector<Value> HalcyonService::rewardValidations() const {
    std::vector<Value> bodies;
    for (const RecordedRequest& request : server_.requestsTo(kRewardValidationPath)) bodies.push_back(jsonBody(request));
    return bodies;
}

std::vector<Value> HalcyonService::rewardReports() const {
    std::vector<Value> bodies;
    for (const RecordedRequest& request : server_.requestsTo(kRewardReportPath)) bodies.push_back(jsonBody(request));
    return bodies;
}

Value HalcyonService::jsonBody(const RecordedRequest& request) {
    auto parsed = NSJSONSerialization::JSONObjectWithData(NSData::dataWithString(request.body));
    return parsed ? *parsed : Value();
}

}  // namespace simulator
