#include "simulator/TrilliumClickChains.h"

namespace simulator {

namespace {

Answer TrilliumChainPage(std::string html) {
    return Answer::ok(std::move(html)).header("Content-Type", "text/html; charset=utf-8");
}

}  // namespace

void TrilliumClickChains::install() {
    std::string landing = landingUrl();
    server_.route("GET", "/chain/redirects", Answer::redirect(chainUrl("redirects/2")));
    server_.route("GET", "/chain/redirects/2", Answer::redirect(chainUrl("redirects/3"), 301));
    server_.route("GET", "/chain/redirects/3", Answer::redirect(landing, 307));
    server_.route("GET", "/chain/script",
                  TrilliumChainPage("<html><head><title>Redirecting</title></head><body><script>location.href = \"" +
                                    landing + "\";</script></body></html>"));
    auto scriptHop = [](const std::string& target) {
        return TrilliumChainPage("<html><body><script>location.href = \"" + target + "\";</script></body></html>");
    };
    server_.route("GET", "/chain/store", scriptHop(storeUrl()));
    server_.route("GET", "/chain/storeweb", scriptHop(storeWebUrl()));
    server_.route("GET", "/chain/scheme", scriptHop(kOtherSchemeTarget));
    server_.route("GET", "/chain/storeredirect", Answer::redirect(storeUrl()));
    server_.route("GET", "/chain/slow", Answer::stall(Answer::redirect(landing)));
    server_.route("GET", "/chain/loop", Answer::redirect(chainUrl("loop")));
    server_.route("GET", "/chain/storm",
                  TrilliumChainPage("<html><body><script>for (var i = 0; i < 300; i++) location.href = \"" +
                                    chainUrl("storm") + "?n=\" + i;</script></body></html>"));
    server_.route("GET", "/chain/never", Answer::stall());
    server_.route("GET", "/chain/drop", Answer::drop());
    server_.route("GET", "/landing/offer",
                  TrilliumChainPage(std::string("<html><head><title>") + kLandingTitle +
                                    "</title></head><body><h1>Offer</h1><a id=\"details\" href=\"" + detailsUrl() +
                                    "\">Details</a> <a id=\"store\" href=\"" + storeUrl() +
                                    "\">Get it</a></body></html>"));
    server_.route("GET", "/landing/details",
                  TrilliumChainPage("<html><head><title>Offer details</title></head><body><p>Details</p></body></html>"));
}

std::string TrilliumClickChains::chainUrl(std::string_view name, std::string_view query) const {
    std::string url = server_.url("/chain/" + std::string(name));
    if (!query.empty()) url += "?" + std::string(query);
    return url;
}

std::string TrilliumClickChains::landingUrl() const { return server_.url("/landing/offer"); }
std::string TrilliumClickChains::detailsUrl() const { return server_.url("/landing/details"); }

std::string TrilliumClickChains::storeUrl() {
    return std::string("itms-apps://") + kStoreWebHost + "/app/id" + kStoreProductId;
}

std::string TrilliumClickChains::storeWebUrl() {
    return std::string("https://") + kStoreWebHost + "/app/game/id" + kStoreProductId + "?mt=8";
}

std::string TrilliumClickChains::adPageBody(const std::vector<std::string>& adTargets, std::string_view externalTarget) {
    std::string body = adPageScript();
    for (size_t i = 0; i < adTargets.size(); ++i)
        body += "<a id=\"ad" + std::to_string(i) + "\" href=\"" + adTargets[i] + "\">Ad " + std::to_string(i) + "</a>";
    body += "<a id=\"close\" href=\"trilliumad://closeAd\">Close</a>";
    if (!externalTarget.empty())
        body += "<a id=\"external\" href=\"trilliumad://externalLinks/" + std::string(externalTarget) + "\">More</a>";
    return body;
}

std::string TrilliumClickChains::adPageScript() {
    return "<script>window.enabledSchemes = []; function enableScheme(name) { window.enabledSchemes.push(name); }</script>";
}

}  // namespace simulator
