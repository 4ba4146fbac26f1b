// A Trillium ad served as an HTML page ("gethtmlad?"): it reads the page's
// lists and video settings, fetches the video of a video ad before it counts
// as loaded, and shows itself in a full-screen ad screen (the video screen
// for a video ad), which it keeps while it is up.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Trillium/TRAAd.h"
#include "Trillium/TRAAdScreen.h"
#include "Trillium/TRAVideosManagerDelegate.h"
#include "Trillium/TRAViewControllerDelegate.h"

class TRAHtmlAd : public TRAAd, public TRAVideosManagerDelegate {
public:
    Ref<TRAHtmlAd> init() { return self<TRAHtmlAd>(); }

    // Processes the received page: the lists of the ad-info block, then the
    // video settings. False (logged) when the block is malformed; the ad's
    // lists then stay as they were.
    virtual bool onReceiveAd();

    // Marks a video ad's file as now playing, creates the ad screen (video or
    // HTML), keeps it and hands it the ad, the delegate and the tag. Without
    // an ad screen the delegate hears failedDisplayAd: on the next main-queue turn.
    void showAd(const Ref<TRAViewControllerDelegate>& delegate, const std::optional<std::string>& adTag);
    // Whether the display side provides ad screens at all.
    static bool canMakeAdScreen();
    // Closes the shown ad (no animation, no click, whatever is asked).
    void closeAd(bool animated, bool click);
    const Ref<TRAAdScreen>& viewController() const { return viewController_; }
    void setViewController(Ref<TRAAdScreen> controller) { viewController_ = std::move(controller); }

    // Asks the video store for the video of videoPref, with this ad as delegate.
    void downloadVideo();
    void didFinishDownloadVideoWithPath(const std::string& path) override;
    void didFailDownloadVideo() override;

    // Sets videoPref from the text between the first two "@videoJson@"
    // markers of the page when that text is not empty.
    void getVideoPreferences();
    static Ref<TRAAdVideoPreferences> getAdVideoPreferencesWithJsonString(std::string_view json);

protected:
    std::string adRequestPath() const override;
    void didReceiveAnswer(const std::string& body) override;

private:
    Ref<TRAAdScreen> viewController_;
};
