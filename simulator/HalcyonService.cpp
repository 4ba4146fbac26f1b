#include "simulator/HalcyonService.h"

#include "platform/foundation/NSJSONSerialization.h"

namespace simulator {

namespace {
std::string hlServiceJsonString(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        switch (c) {
            case '"': quoted += "\\\""; break;
            case '\\': quoted += "\\\\"; break;
            case '\n': quoted += "\\n"; break;
            default: quoted += c;
        }
    }
    return quoted + "\"";
}

Answer hlServiceJsonAnswer(std::string body) {
    return Answer::ok(std::move(body)).header("Content-Type", "application/json");
}
}  // namespace

HalcyonService::HalcyonService() = default;
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

std::string HalcyonService::resourcePrefixes() const { return server_.httpsURL("/") + "," + server_.url("/"); }

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
    if (request.path == kDevicePath) return hlServiceJsonAnswer(deviceAnswer());
    if (request.path == kRewardValidationPath) return hlServiceJsonAnswer(rewardValidationAnswer());
    if (request.path == kRewardReportPath) return hlServiceJsonAnswer("{\"results\": []}");
    if (request.path == kEventPath || request.path.starts_with(kPostbackBasePath)) return Answer::ok();
    return Answer::withStatus(404);
}

std::optional<std::string> HalcyonPixel::field(std::string_view name) const {
    for (const auto& [key, value] : query)
        if (key == name) return value;
    return std::nullopt;
}

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

Value HalcyonService::jsonBody(const RecordedRequest& request) {
    auto parsed = NSJSONSerialization::JSONObjectWithData(NSData::dataWithString(request.body));
    return parsed ? *parsed : Value();
}

}  // namespace simulator
