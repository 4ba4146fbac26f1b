// The Trillium ad platform's banner and native ads, played on the Trillium
// service's loopback server. Banner pages answer the HTML ad requests of the
// placement "INAPP_BANNER", a different page per load: each is an HTML ad
// page (lists between two "@adInfoJson@" markers) that also names its ad
// identifier, width and height as "@adId@<id>@", "@width@<n>@" and
// "@height@<n>@", and links its ad from an element "ad0". Native answers
// ("getads") carry an "adsDetails" array of records whose images are PNG
// files of the service, some missing (404) or broken (bytes that are no
// picture). Everything is written with the simulator's own code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "simulator/TrilliumService.h"

namespace simulator {

// One banner page.
struct TrilliumBannerPage {
    std::string adId = "banner1";
    // The marker texts, as written (so tests can write bad ones).
    std::string width = "320";
    std::string height = "50";
    std::string title = "Paranormal Pro";
    std::string color = "#20303f";
    // Where the ad links; empty: the click chains' landing page (TrilliumClickChains)
    // with "?index=0".
    std::string target;
    // The lists: d parameters of the service's tracking URLs, flags.
    TrilliumHtmlAd lists;
    bool markers = true;
};

// One native ad record; a field left empty is left out.
struct TrilliumNativeRecord {
    std::string adId;
    std::string title;
    std::string description;
    std::optional<double> rating;
    std::string category;
    std::string imageUrl;
    std::string secondaryImageUrl;
    std::string clickUrl;
    std::string trackingUrl;
    std::string trackingClickUrl;
    std::optional<bool> smartRedirect;
    std::optional<bool> trilliumBrowserEnabled;
    std::optional<bool> app;  // "app": true/false
    std::string packageName;
};

class TrilliumBannerAds {
public:
    static constexpr const char* kBannerPlacement = "INAPP_BANNER";
    static constexpr const char* kImageFolder = "/native/images/";
    static constexpr const char* kLandingPath = "/landing/offer";  // TrilliumClickChains' landing page

    explicit TrilliumBannerAds(TrilliumService& service) : service_(service) {}

    // The three default banner pages ("banner1" to "banner3", 320 x 50,
    // impressions "bimp<i>", click trackings "bclick<i>"), served in turn;
    // the default native answer and its images. The ads link to the click
    // chains' landing page, which TrilliumClickChains::install serves.
    void install();

    std::string bannerPage(const TrilliumBannerPage& page) const;
    static std::vector<TrilliumBannerPage> defaultBannerPages();
    // Serves these pages in turn for the banner placement.
    void setBannerPages(const std::vector<TrilliumBannerPage>& pages);

    // The default native records: "native1" with both images, "native2" whose
    // secondary image is missing (404), "native3" whose primary image is
    // broken and which has no secondary image URL.
    std::vector<TrilliumNativeRecord> defaultNativeRecords() const;
    static std::string nativeAnswer(const std::vector<TrilliumNativeRecord>& records);
    void setNativeRecords(const std::vector<TrilliumNativeRecord>& records);

    // "http://127.0.0.1:<port>/native/images/<name>".
    std::string imageUrl(std::string_view name) const;
    // A PNG file of one colour (8-bit RGBA).
    static std::string pngImage(uint32_t width, uint32_t height, uint32_t rgba);
    void serveImage(std::string_view name, std::string bytes);
    std::vector<TrilliumRequest> imageRequests() const;

private:
    TrilliumService& service_;
};

}  // namespace simulator
