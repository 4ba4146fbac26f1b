// The Trillium ad platform's video ads, played on the Trillium service's
// loopback server: HTML ad pages whose video settings (between two
// "@videoJson@" markers) name an MP4 file of the service and its own
// video-event URLs ("trackvideo?d=<event>"), and the files themselves, made by
// the platform's test generator (valid, truncated, without a video track, of
// zero duration) and served whole, slowly, dropped, truncated or in any other
// scripted way. The page defines the `videoApi` the video screen calls and
// records each call, so that tests read back what the screen told it.
#pragma once

#include <string>
#include <string_view>

#include "simulator/TrilliumService.h"

namespace simulator {

enum class TrilliumVideoFile { Valid, Truncated, NoVideoTrack, ZeroDuration };

// What a served video ad says about its video.
struct TrilliumVideoAd {
    std::string file = "clip.mp4";  // served under /videos/
    std::string url;                 // the video's URL when not "/videos/<file>" (e.g. a signed one)
    bool skippable = true;
    int skippableAfter = 5;
    bool closeable = true;
    std::string postRoll = "IMAGE";  // empty: no "postRoll" key
    bool events = true;               // the nine video-event URLs
    TrilliumHtmlAd page;              // the rest of the page (lists, body)
};

class TrilliumVideoAds {
public:
    static constexpr const char* kVideoFolder = "/videos/";
    // The d parameters of the video-event URLs, in the settings' order.
    static constexpr const char* kEventNames[] = {"progress", "rewarded", "closed", "skipped", "sound",
                                                  "postRollImpression", "postRollClosed", "paused", "resumed"};

    explicit TrilliumVideoAds(TrilliumService& service) : service_(service) {}

    // The origin ("http://host:port") the pages' URLs name, e.g. a recording
    // proxy in front of the service; the service's own address by default.
    void setPublicOrigin(std::string origin) { origin_ = std::move(origin); }

    // "<origin>/videos/<file>".
    std::string videoUrl(std::string_view file) const;
    // The video settings as JSON text.
    std::string videoJson(const TrilliumVideoAd& ad) const;
    // The ad page: the ad's page with the video settings and the recording
    // `videoApi` script.
    std::string videoAdPage(const TrilliumVideoAd& ad) const;
    // Serves the page as the HTML ad and a valid file of `seconds` under its name.
    void setVideoAd(const TrilliumVideoAd& ad, double seconds = 40);

    // The bytes of a test file (timescale 600, 320 x 180 picture, audio).
    static std::string mp4File(TrilliumVideoFile kind, double seconds);
    // Answers GET /videos/<file> with the bytes, whole (video/mp4).
    void serveFile(std::string_view file, std::string bytes);
    // Answers GET /videos/<file> with any scripted answer (slow, dropped,
    // truncated, an error status, a redirect, a sequence).
    void serveFile(std::string_view file, Answer answer);
    void serveFile(std::string_view file, std::vector<Answer> answers);
    // What a captive network sends for any URL before its user signs in: a
    // login page, with status 200.
    static Answer loginPage();

    // The requests for the file, and the video events of one kind (by d).
    std::vector<TrilliumRequest> fileRequests(std::string_view file) const;
    std::vector<TrilliumRequest> events(std::string_view name) const;
    std::vector<TrilliumRequest> events() const;

private:
    std::string url(std::string_view path) const;

    TrilliumService& service_;
    std::string origin_;
};

}  // namespace simulator
