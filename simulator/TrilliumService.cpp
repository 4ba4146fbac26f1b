#include "simulator/TrilliumService.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <cstdio>
#include <map>
#include <mutex>

#include "platform/foundation/NSURL.h"

namespace simulator {

namespace {

// The ad platform's forms as the service writes and reads them, kept apart
// from the client's code so that a fault on either side shows in the tests:
// an HTML ad page carries its lists as a JSON object between two "@adInfoJson@"
// markers and its video settings between two "@videoJson@" markers; a signed
// tracking URL ends in "&ts=<seconds>&sig=<hex HMAC-SHA1>", keyed with
// "<publisherId>:<productId>" over "<d parameter>:<ts>".
constexpr std::string_view kAdInfoMarker = "@adInfoJson@";
constexpr std::string_view kVideoJsonMarker = "@videoJson@";

std::string hex(const unsigned char* bytes, unsigned int length) {
    std::string text;
    char buffer[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(buffer, sizeof buffer, "%02x", bytes[i]);
        text += buffer;
    }
    return text;
}

std::string jsonString(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            quoted += escape;
            continue;
        }
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

template <class T, class F>
std::string jsonArray(const std::vector<T>& items, F render) {
    std::string text = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) text += ',';
        text += render(items[i]);
    }
    text += ']';
    return text;
}

TrilliumRequest decorate(const RecordedRequest& request) {
    return {request, TrilliumService::parseQuery(request.query.value_or(""))};
}

}  // namespace

std::optional<std::string> TrilliumRequest::field(std::string_view name) const { return queryField(fields, name); }

std::vector<std::string> TrilliumRequest::fieldNames() const {
    std::vector<std::string> names;
    for (const auto& entry : fields) names.push_back(entry.first);
    return names;
}

// The HTML ad answers: one for any placement, and lists served in turn for
// some placements. Read by the server's threads.
struct TrilliumService::HtmlAds {
    std::mutex mutex;
    Answer any = Answer::ok();
    std::map<std::string, std::pair<std::vector<Answer>, size_t>> byPlacement;  // answers, next

    Answer answerFor(const RecordedRequest& request) {
        std::string placement;
        for (const auto& [key, value] : parseQueryFields(request.query.value_or("")))
            if (key == "placement") placement = value;
        std::scoped_lock lock(mutex);
        auto found = byPlacement.find(placement);
        if (found == byPlacement.end() || found->second.first.empty()) return any;
        auto& [answers, next] = found->second;
        Answer answer = answers[next % answers.size()];
        next = (next + 1) % answers.size();
        return answer;
    }
};

TrilliumService::TrilliumService() : htmlAds_(std::make_shared<HtmlAds>()) {}
TrilliumService::~TrilliumService() { stop(); }

bool TrilliumService::start() {
    if (!server_.start()) return false;
    std::shared_ptr<HtmlAds> htmlAds = htmlAds_;
    server_.route("GET", kHtmlAdPath, [htmlAds](const RecordedRequest& request) { return htmlAds->answerFor(request); });
    setConfig(defaultConfig());
    setHtmlAd(htmlAdPage(TrilliumHtmlAd{}));
    setJsonAds(defaultJsonAds());
    for (const char* path : {kFirstLaunchPath, kImpressionPath, kClickPath, kClosePath, kVideoEventPath, kAnalyticsPath})
        server_.route("GET", path, Answer::ok());
    return true;
}

void TrilliumService::stop() { server_.stop(); }

std::string TrilliumService::baseUrl() const { return server_.url(kBasePath); }

std::string TrilliumService::trackingUrl(std::string_view path, std::string_view dParameter) const {
    return server_.url(path) + "?d=" + std::string(dParameter);
}

std::string TrilliumService::defaultConfig() const {
    return "{\"ttl\": 3600, \"adPlatformHost\": " + jsonString(baseUrl()) + "}";
}

std::string TrilliumService::htmlAdPage(const TrilliumHtmlAd& ad) const {
    auto urls = [&](const char* path, const std::vector<std::string>& ds) {
        return jsonArray(ds, [&](const std::string& d) { return jsonString(trackingUrl(path, d)); });
    };
    auto flags = [](const std::vector<bool>& list) {
        return jsonArray(list, [](bool b) { return std::string(b ? "true" : "false"); });
    };
    std::string info = "{\"orientation\": " + jsonString(ad.orientation);
    if (!ad.impressions.empty()) info += ", \"trackingUrl\": " + urls(kImpressionPath, ad.impressions);
    if (!ad.closes.empty()) info += ", \"closeUrl\": " + urls(kClosePath, ad.closes);
    if (!ad.clickTrackings.empty()) info += ", \"clickTrackingUrl\": " + urls(kClickPath, ad.clickTrackings);
    if (!ad.smartRedirect.empty()) info += ", \"smartRedirect\": " + flags(ad.smartRedirect);
    if (!ad.trilliumBrowserEnabled.empty()) info += ", \"trilliumBrowserEnabled\": " + flags(ad.trilliumBrowserEnabled);
    info += "}";
    std::string page = "<html><head><meta name=\"viewport\" content=\"width=device-width\"></head><body>" + ad.body;
    page += "<!--";
    page.append(kAdInfoMarker).append(info).append(kAdInfoMarker).append("-->");
    if (!ad.videoJson.empty()) {
        page += "<!--";
        page.append(kVideoJsonMarker).append(ad.videoJson).append(kVideoJsonMarker).append("-->");
    }
    return page + "</body></html>";
}

std::string TrilliumService::defaultJsonAds() const {
    return "{\"adsDetails\": [{\"adId\": \"native1\", \"title\": \"Test native ad\", \"clickUrl\": " +
           jsonString(trackingUrl(kClickPath, "native1")) + ", \"trackingUrl\": " +
           jsonString(trackingUrl(kImpressionPath, "native1")) + "}]}";
}

void TrilliumService::setConfig(std::string json) {
    setConfigAnswer(Answer::ok(std::move(json)).header("Content-Type", "application/json"));
}
void TrilliumService::setConfigAnswer(Answer answer) { server_.route("GET", kMetadataPath, std::move(answer)); }
void TrilliumService::setHtmlAd(std::string page) {
    setHtmlAdAnswer(Answer::ok(std::move(page)).header("Content-Type", "text/html; charset=utf-8"));
}
void TrilliumService::setHtmlAdAnswer(Answer answer) {
    std::scoped_lock lock(htmlAds_->mutex);
    htmlAds_->any = std::move(answer);
}
void TrilliumService::setHtmlAdsForPlacement(std::string placement, std::vector<Answer> answers) {
    std::scoped_lock lock(htmlAds_->mutex);
    htmlAds_->byPlacement[std::move(placement)] = {std::move(answers), 0};
}
void TrilliumService::setJsonAds(std::string json) {
    setJsonAdsAnswer(Answer::ok(std::move(json)).header("Content-Type", "application/json"));
}
void TrilliumService::setJsonAdsAnswer(Answer answer) { server_.route("GET", kJsonAdsPath, std::move(answer)); }
void TrilliumService::setAnswer(std::string path, Answer answer) { server_.route("GET", std::move(path), std::move(answer)); }

std::vector<TrilliumRequest> TrilliumService::requestsTo(std::string_view path) const {
    std::vector<TrilliumRequest> list;
    for (const RecordedRequest& r : server_.requestsTo(path)) list.push_back(decorate(r));
    return list;
}

std::vector<TrilliumRequest> TrilliumService::requests() const {
    std::vector<TrilliumRequest> list;
    for (const RecordedRequest& r : server_.requests()) list.push_back(decorate(r));
    return list;
}

QueryFields TrilliumService::parseQuery(std::string_view rawQuery) { return parseQueryFields(rawQuery); }

bool TrilliumService::signatureMatches(const TrilliumRequest& request, std::string_view publisherId,
                                       std::string_view productId) {
    const std::string& target = request.request.target;
    size_t suffix = target.rfind("&ts=");
    if (suffix == std::string::npos) return false;
    std::string_view signedPart(target.data(), suffix);
    auto ts = request.field("ts");
    auto sig = request.field("sig");
    if (!ts || !sig) return false;
    // The d parameter as it stands in the URL before the suffix.
    std::string d;
    size_t q = signedPart.find("?d="), a = signedPart.find("&d=");
    size_t at = std::min(q, a);
    if (at != std::string_view::npos) {
        std::string_view rest = signedPart.substr(at + 3);
        d = std::string(rest.substr(0, rest.find('&')));
    }
    std::string key = std::string(publisherId) + ":" + std::string(productId);
    std::string message = d + ":" + *ts;
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(message.data()),
         message.size(), digest.data(), &length);
    return hex(digest.data(), length) == *sig;
}

}  // namespace simulator
