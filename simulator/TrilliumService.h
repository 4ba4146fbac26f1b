// The Trillium ad platform, played on a loopback server: the configuration
// ("getadsmetadata"), HTML ad ("gethtmlad") and JSON ads ("getads") answers,
// the first-launch report ("trackdownload"), the impression, click, close and
// video-event tracking endpoints its ad pages point at, and the analytics
// endpoint ("/tracking/infoEvent"). Every request is recorded; helpers read
// back its query fields and check the signature of tracking URLs. It writes
// and reads the documented forms with its own code and never includes the
// client's, so a test through it catches a fault in the client's wire code.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "simulator/LoopbackServer.h"

namespace simulator {

using QueryFields = std::vector<std::pair<std::string, std::string>>;

// One request with its query fields, percent-decoded, in order.
struct TrilliumRequest {
    RecordedRequest request;
    QueryFields fields;

    // The first value of the field; nullopt when absent.
    std::optional<std::string> field(std::string_view name) const;
    // The field names in order.
    std::vector<std::string> fieldNames() const;
};

// What a served HTML ad carries.
struct TrilliumHtmlAd {
    std::string orientation = "portrait";
    std::string body = "<p>Trillium test ad</p>";
    // d parameters of the service's own tracking URLs; empty lists are left out.
    std::vector<std::string> impressions = {"imp1"};
    std::vector<std::string> closes = {"close1"};
    std::vector<std::string> clickTrackings = {"click1"};
    std::vector<bool> smartRedirect = {false};
    std::vector<bool> trilliumBrowserEnabled = {true};
    // Text placed between two "@videoJson@" markers (none when empty).
    std::string videoJson;
};

class TrilliumService {
public:
    static constexpr const char* kBasePath = "/1.3/";
    static constexpr const char* kMetadataPath = "/1.3/getadsmetadata";
    static constexpr const char* kHtmlAdPath = "/1.3/gethtmlad";
    static constexpr const char* kJsonAdsPath = "/1.3/getads";
    static constexpr const char* kFirstLaunchPath = "/1.3/trackdownload";
    static constexpr const char* kImpressionPath = "/1.3/trackimpression";
    static constexpr const char* kClickPath = "/1.3/trackclick";
    static constexpr const char* kClosePath = "/1.3/trackclose";
    static constexpr const char* kVideoEventPath = "/1.3/trackvideo";
    static constexpr const char* kAnalyticsPath = "/tracking/infoEvent";

    TrilliumService();
    ~TrilliumService();
    TrilliumService(const TrilliumService&) = delete;
    TrilliumService& operator=(const TrilliumService&) = delete;

    // Starts the loopback server with the default answers: the default
    // configuration, the default HTML ad, one JSON ad, 200 for the rest.
    bool start();
    void stop();
    LoopbackServer& server() { return server_; }

    // "http://127.0.0.1:<port>/1.3/": the ad platform base URL.
    std::string baseUrl() const;
    // The service's tracking URL of a kind ("trackclick", …) with a d parameter.
    std::string trackingUrl(std::string_view path, std::string_view dParameter) const;

    // A configuration with "ttl" 3600 and "adPlatformHost" = baseUrl().
    std::string defaultConfig() const;
    std::string htmlAdPage(const TrilliumHtmlAd& ad) const;
    std::string defaultJsonAds() const;

    // Answers 200 with this body (JSON), or exactly this answer.
    void setConfig(std::string json);
    void setConfigAnswer(Answer answer);
    void setHtmlAd(std::string page);
    void setHtmlAdAnswer(Answer answer);
    // Answers the HTML ad requests of one placement ("placement=" in the
    // query) with these in turn, the first again after the last; the other
    // placements get the HTML ad.
    void setHtmlAdsForPlacement(std::string placement, std::vector<Answer> answers);
    void setJsonAds(std::string json);
    void setJsonAdsAnswer(Answer answer);
    // Any endpoint, e.g. a failing analytics or tracking endpoint.
    void setAnswer(std::string path, Answer answer);

    std::vector<TrilliumRequest> requestsTo(std::string_view path) const;
    std::vector<TrilliumRequest> requests() const;

    // "a=1&b=%20" → {{"a", "1"}, {"b", " "}}; a piece without "=" has an
    // empty value; an undecodable value stays raw.
    static QueryFields parseQuery(std::string_view rawQuery);
    // Whether the request ends with the "&ts=…&sig=…" suffix that the
    // identifiers' key gives for its d parameter.
    static bool signatureMatches(const TrilliumRequest& request, std::string_view publisherId,
                                 std::string_view productId);

private:
    struct HtmlAds;

    LoopbackServer server_;
    std::shared_ptr<HtmlAds> htmlAds_;
};

}  // namespace simulator
