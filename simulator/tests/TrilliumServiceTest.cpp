// The Trillium service's own reading and writing of the ad platform's forms,
// pinned by values computed apart from any client code (the signature by a
// separate HMAC-SHA1 implementation), so that a client test through the
// service checks the client against the documented form, not against itself.
#include <gtest/gtest.h>

#include "simulator/TrilliumService.h"

using simulator::TrilliumRequest;
using simulator::TrilliumService;

namespace {

TrilliumRequest trilliumServiceTestRequest(const std::string& target) {
    TrilliumRequest request;
    request.request.target = target;
    size_t q = target.find('?');
    request.fields = TrilliumService::parseQuery(q == std::string::npos ? "" : target.substr(q + 1));
    return request;
}

}  // namespace

TEST(TrilliumServiceTest, SignatureIsCheckedAgainstAnIndependentlyComputedDigest) {
    // HMAC-SHA1, key "dev-456:app-123", message "<d as sent>:<ts>".
    auto withD = trilliumServiceTestRequest(
        "/1.3/trackclick?d=abc%20d&ts=1700000000&sig=36c7ee738a3a61ad605c1e7d39e7ce2c42c2747d");
    EXPECT_TRUE(TrilliumService::signatureMatches(withD, "dev-456", "app-123"));
    EXPECT_FALSE(TrilliumService::signatureMatches(withD, "app-123", "dev-456"));  // key order matters

    auto withoutD = trilliumServiceTestRequest("/1.3/trackclose?x=1&ts=1700000000&sig=03a5012a54d9105e6eb14571314c14fb19c73ed3");
    EXPECT_TRUE(TrilliumService::signatureMatches(withoutD, "dev-456", "app-123"));

    for (const char* bad : {"/1.3/trackclick?d=abc%20d&sig=36c7ee738a3a61ad605c1e7d39e7ce2c42c2747d",
                            "/1.3/trackclick?d=abc%20d&ts=1700000001&sig=36c7ee738a3a61ad605c1e7d39e7ce2c42c2747d",
                            "/1.3/trackclick?d=abc%20e&ts=1700000000&sig=36c7ee738a3a61ad605c1e7d39e7ce2c42c2747d"})
        EXPECT_FALSE(TrilliumService::signatureMatches(trilliumServiceTestRequest(bad), "dev-456", "app-123")) << bad;
}

TEST(TrilliumServiceTest, AdPageCarriesItsListsBetweenTheDocumentedMarkers) {
    TrilliumService service;
    simulator::TrilliumHtmlAd ad;
    ad.body = "<p>x</p>";
    ad.impressions = {"i\"1"};
    ad.closes = {};
    ad.clickTrackings = {};
    ad.smartRedirect = {true};
    ad.trilliumBrowserEnabled = {};
    ad.videoJson = "{\"v\":1}";
    std::string page = service.htmlAdPage(ad);
    std::string expectedInfo = "<!--@adInfoJson@{\"orientation\": \"portrait\", \"trackingUrl\": [\"" +
                               service.trackingUrl(TrilliumService::kImpressionPath, "i\\\"1") +
                               "\"], \"smartRedirect\": [true]}@adInfoJson@--><!--@videoJson@{\"v\":1}@videoJson@-->";
    EXPECT_NE(page.find("<p>x</p>" + expectedInfo + "</body></html>"), std::string::npos) << page;
}
