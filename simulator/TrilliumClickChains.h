// The Trillium ad platform's click side, played on a loopback server: the
// chains an ad click walks (HTTP redirects, a script hop, store links over
// "itms-apps" and over the store's web host, another app's scheme, a slow
// hop, endless redirects, a navigation storm, a page that never finishes, a
// dropped connection) and the landing pages they reach, which stay. Also the
// body of an ad page with clickable ads, a close link and an external link,
// which defines the enableScheme() function the ad screen calls.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "simulator/LoopbackServer.h"

namespace simulator {

class TrilliumClickChains {
public:
    // The store's web domain the client tests for (a substring of https URLs).
    static constexpr const char* kStoreWebHost = "apps.store.example";
    static constexpr const char* kStoreProductId = "284910350";
    // "trilliumgame://level/1": a scheme of another app.
    static constexpr const char* kOtherSchemeTarget = "trilliumgame://level/1";
    static constexpr const char* kLandingTitle = "Trillium Offer";

    // Chains, by name: "/chain/<name>".
    //   redirects  302 → 302 → 302 → the landing page
    //   script     a page whose script sends the browser to the landing page
    //   store      a script hop to "itms-apps://apps.store.example/app/id<product>"
    //   storeweb   a script hop to "https://apps.store.example/app/game/id<product>?mt=8"
    //   scheme     a script hop to kOtherSchemeTarget
    //   storeredirect  302 → the "itms-apps" store link
    //   slow       held until the test releases it (LoopbackServer::releaseStalled), then 302 → landing
    //   loop       302 to itself, for ever
    //   storm      a page that queues hundreds of navigations to itself at once
    //   never      held for good: a page that never finishes
    //   drop       the connection closes without an answer
    explicit TrilliumClickChains(LoopbackServer& server) : server_(server) {}
    // Adds the routes of every chain and landing page.
    void install();

    // server URL of "/chain/<name>", with an optional query (without "?").
    std::string chainUrl(std::string_view name, std::string_view query = {}) const;
    // "/landing/offer": the page every chain ends on (title kLandingTitle, a
    // link "details" to "/landing/details" and a link "store" to the store).
    std::string landingUrl() const;
    std::string detailsUrl() const;
    static std::string storeUrl();
    static std::string storeWebUrl();

    // The body of an ad page: adPageScript(), one link "ad<i>" per target, a
    // link "close" to "trilliumad://closeAd" and, when given, a link
    // "external" to "trilliumad://externalLinks/<externalTarget>".
    static std::string adPageBody(const std::vector<std::string>& adTargets, std::string_view externalTarget = {});
    // The script an ad page carries for its screen: it defines
    // enableScheme(name), which records the name in window.enabledSchemes.
    static std::string adPageScript();

private:
    LoopbackServer& server_;
};

}  // namespace simulator
