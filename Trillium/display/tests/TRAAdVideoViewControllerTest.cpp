// The video ad screen end to end: a video ad served by the Trillium service
// is loaded through the public ad (its file downloaded by the video store),
// shown, played on the virtual clock and driven by its page's commands. The
// page records every `videoApi` call; the video events, impressions and
// analytics reports are read back from the service as they arrived. Signed
// URLs of one file share it, and a refused one is fetched again once its
// refusal lapses.
#include "Trillium/TRAAdCache.h"
#include "Trillium/display/TRAAdVideoViewController.h"
#include "Trillium/display/TRAVideosManager.h"
#include "platform/foundation/NSFileManager.h"
#include "Trillium/display/tests/TrilliumScreenTestSupport.h"
#include "platform/media/AVAsset.h"
#include "platform/media/AVAudioSession.h"
#include "platform/net/NetworkConditions.h"
#include "simulator/TrilliumVideoAds.h"

using simulator::Answer;
using simulator::TrilliumService;
using simulator::TrilliumVideoAd;
using simulator::TrilliumVideoAds;
using simulator::TrilliumVideoFile;

class TRAAdVideoViewControllerTest : public TrilliumScreenTest {
protected:
    // Serves the video ad (and its file) and loads it through a public ad;
    // `damaged` bytes then replace the stored file, as a disk may damage it.
    Ref<TRATrilliumAd> loadVideoAd(const TrilliumVideoAd& settings, const std::string& damaged = {}) {
        service.setHtmlAd(videos.videoAdPage(settings));
        videos.serveFile(settings.file, TrilliumVideoAds::mp4File(TrilliumVideoFile::Valid, 40));
        auto ad = NSObject::alloc<TRATrilliumAd>()->init();
        ad->loadAd(TRATrilliumAd::AdTypeOverlay, publisher);
        EXPECT_TRUE(waitFor([&] { return !publisher->events.empty(); }));
        EXPECT_EQ(publisher->events, std::vector<std::string>{"didLoadAd"});
        publisher->events.clear();
        if (!damaged.empty()) {
            EXPECT_TRUE(NSFileManager::defaultManager()->createFileAtPath(
                ad->internalAd()->videoPref()->videoPath().value_or(""), NSData::dataWithString(damaged)));
        }
        return ad;
    }
    // Shows it and runs until playback started or the display failed.
    Ref<TRAAdVideoViewController> showVideo(const Ref<TRATrilliumAd>& ad, const std::optional<std::string>& tag = {}) {
        Ref<TRAAd> model = ad->internalAd();
        ad->showAdWithAdTag(tag);
        auto screen = screenOf(model);
        EXPECT_TRUE(waitFor([&] {
            return (screen && screen->hasStartedPlayback()) || !publisher->events.empty();
        }));
        return screen;
    }
    static Ref<TRAAdVideoViewController> screenOf(const Ref<TRAAd>& model) {
        auto html = std::dynamic_pointer_cast<TRAHtmlAd>(model);
        return html ? std::dynamic_pointer_cast<TRAAdVideoViewController>(html->viewController()) : nullptr;
    }
    // Plays on the virtual clock in small steps; observer queues and event
    // requests finish after each.
    void play(double seconds) {
        for (double t = 0; t < seconds - 1e-9; t += 0.25) {
            driver().advance(0.25);
            ASSERT_TRUE(driver().settle(5));
        }
    }
    // A command from the page, as its script would navigate.
    void command(const Ref<TRAAdVideoViewController>& screen, const std::string& name) {
        screen->webView()->stringByEvaluatingJavaScriptFromString("location.href = 'trilliumad://" + name + "'");
        driver().drain();
        ASSERT_TRUE(driver().settle(5));
    }
    static std::vector<std::string> apiCalls(const Ref<TRAAdVideoViewController>& screen) {
        return NSString::componentsSeparatedByString(
            screen->webView()->stringByEvaluatingJavaScriptFromString("videoApiCalls.join('|')"), "|");
    }
    // The video events of a kind, their targets without the signature, sorted.
    std::vector<std::string> events(const std::string& name) {
        EXPECT_TRUE(driver().settle(5));
        std::vector<std::string> list;
        for (const auto& r : videos.events(name)) {
            const std::string& target = r.request.target;
            list.push_back(target.substr(target.find("&") + 1, target.find("&ts=") - target.find("&") - 1));
        }
        std::sort(list.begin(), list.end());
        return list;
    }

    // Starts loading a video ad of the event type whose page names the
    // service's "/v/clip.mov" signed with `t`, as ad servers sign each answer.
    Ref<TRATrilliumAd> loadSignedVideoAd(int t, int64_t eventType, const Ref<RecordingAdDelegate>& to) {
        auto ad = NSObject::alloc<TRATrilliumAd>()->init();
        ad->setEventType(eventType);
        TrilliumVideoAd settings;
        settings.url = service.server().url("/v/clip.mov?t=" + std::to_string(t));
        service.setHtmlAdsForPlacement(ad->placement(), {Answer::ok(videos.videoAdPage(settings))
                                                             .header("Content-Type", "text/html; charset=utf-8")});
        ad->loadAd(TRATrilliumAd::AdTypeOverlay, to);
        return ad;
    }
    size_t signedFileRequests() { return service.server().requestsTo("/v/clip.mov").size(); }

    TrilliumVideoAds videos{service};
};

TEST_F(TRAAdVideoViewControllerTest, PlaysToTheEndAndClosesAtOnceForPostRollNone) {
    TrilliumVideoAd settings;
    settings.postRoll = "NONE";
    auto ad = loadVideoAd(settings);
    ad->internalAd()->setIsRewardedVideo(true);
    auto screen = showVideo(ad, std::string("menu"));
    ASSERT_TRUE(screen);
    EXPECT_EQ(publisher->events, std::vector<std::string>{"didShowAd"});
    EXPECT_TRUE(screen->isPresented());
    EXPECT_EQ(AVAudioSession::sharedInstance()->category(), AVAudioSessionCategoryPlayback);
    EXPECT_EQ(ad->internalAd()->offset(), 0);
    EXPECT_EQ(ad->internalAd()->videoPref()->videoDuration(), 40);
    ASSERT_TRUE(driver().settle(5));

    play(41);
    EXPECT_EQ(events("progress"), (std::vector<std::string>{"cp=0&offset=0", "cp=100&offset=0", "cp=25&offset=0",
                                                            "cp=50&offset=0", "cp=75&offset=0"}));
    EXPECT_EQ(events("rewarded"), std::vector<std::string>{"cp=100&offset=0"});
    EXPECT_TRUE(events("closed").empty());
    EXPECT_EQ(publisher->events, (std::vector<std::string>{"didShowAd", "didCompleteVideo", "didCloseAd"}));
    EXPECT_FALSE(screen->isPresented());
    EXPECT_EQ(screen->avPlayer(), nullptr);
    EXPECT_NE(AVAudioSession::sharedInstance()->category(), AVAudioSessionCategoryPlayback);
    EXPECT_TRUE(TRAAdCache::sharedInstance()->allowAutoRotate());
    auto impressions = service.requestsTo(TrilliumService::kImpressionPath);
    ASSERT_EQ(impressions.size(), 1u);
    EXPECT_EQ(impressions[0].field("adTag"), "menu");
    EXPECT_EQ(impressions[0].field("offset"), "0");

    // A page close after the automatic one changes nothing.
    screen->closeVideoWithClick(false, std::nullopt, std::nullopt);
    EXPECT_EQ(publisher->events.size(), 3u);
    EXPECT_TRUE(events("closed").empty());
}

TEST_F(TRAAdVideoViewControllerTest, TheControlRefreshAndTheSkipTimerDriveThePage) {
    auto ad = loadVideoAd(TrilliumVideoAd{});
    auto screen = showVideo(ad);
    ASSERT_TRUE(screen);
    std::vector<std::string> calls = apiCalls(screen);
    ASSERT_GE(calls.size(), 8u);
    // The 320 x 180 picture fitted into the 320 x 568 screen.
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 8),
              (std::vector<std::string>{"setMode(PLAYER)", "setSkippable(1)", "setSkipTimer(5)",
                                        "setVideoFrame(0,194,320,180)", "setVideoDuration(40)",
                                        "setVideoCurrentPosition(0)", "setCloseable(1)", "setSound(ON)"}));

    play(7);
    std::vector<std::string> timers;
    for (const std::string& call : apiCalls(screen))
        if (call.rfind("setSkipTimer(", 0) == 0 && (timers.empty() || timers.back() != call)) timers.push_back(call);
    EXPECT_EQ(timers, (std::vector<std::string>{"setSkipTimer(5)", "setSkipTimer(4)", "setSkipTimer(3)",
                                                "setSkipTimer(2)", "setSkipTimer(1)", "setSkipTimer(0)"}));
}

TEST_F(TRAAdVideoViewControllerTest, ThePostRollImageShowsAndAReplayPlaysAgainWithTheNextOffset) {
    TrilliumVideoAd settings;
    settings.skippable = false;
    auto ad = loadVideoAd(settings);
    auto screen = showVideo(ad);
    ASSERT_TRUE(screen);
    play(41);
    EXPECT_TRUE(screen->isShowingPostRoll());
    EXPECT_EQ(events("postRollImpression"), std::vector<std::string>{"offset=0&cp=100"});
    auto calls = apiCalls(screen);
    EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()),
              (std::vector<std::string>{"setMode(POST_ROLL_IMAGE)", "setCloseable(1)"}));

    command(screen, "replayVideo");
    EXPECT_FALSE(screen->isShowingPostRoll());
    EXPECT_EQ(ad->internalAd()->offset(), 1);
    EXPECT_TRUE(ad->internalAd()->videoPref()->isSkippable());
    EXPECT_EQ(ad->internalAd()->videoPref()->skippableAfter(), 0);
    calls = apiCalls(screen);
    for (const char* reset : {"setSkippable(1)", "setSkipTimer(0)"})
        EXPECT_NE(std::find(calls.end() - 9, calls.end(), reset), calls.end()) << reset;
    play(41);
    auto progress = events("progress");
    EXPECT_EQ(std::count_if(progress.begin(), progress.end(),
                            [](const std::string& e) { return NSString::hasSuffix(e, "&offset=1"); }),
              5);

    command(screen, "closeAd");
    EXPECT_EQ(events("postRollClosed"), std::vector<std::string>{"cp=100&offset=1"});
    EXPECT_TRUE(events("closed").empty());
    EXPECT_EQ(publisher->events, (std::vector<std::string>{"didShowAd", "didCloseAd"}));
}

TEST_F(TRAAdVideoViewControllerTest, AnotherPostRollKeepsTheLastFrameAndItsCloseSendsTheClosedEvent) {
    TrilliumVideoAd settings;
    settings.postRoll = "";
    auto ad = loadVideoAd(settings);
    auto screen = showVideo(ad);
    ASSERT_TRUE(screen);
    play(41);
    EXPECT_FALSE(screen->isShowingPostRoll());
    EXPECT_TRUE(screen->isPresented());
    command(screen, "replayVideo");  // from the end: nothing rewinds it
    play(2);
    EXPECT_EQ(CMTimeGetSeconds(screen->avPlayer()->currentTime()), 40);
    command(screen, "closeAd");
    EXPECT_EQ(events("closed"), std::vector<std::string>{"offset=1&cp=100"});
    EXPECT_EQ(publisher->events, (std::vector<std::string>{"didShowAd", "didCloseAd"}));
}

TEST_F(TRAAdVideoViewControllerTest, SoundSkipAndTheApplicationsPausesSendTheirEvents) {
    auto ad = loadVideoAd(TrilliumVideoAd{});
    auto screen = showVideo(ad);
    ASSERT_TRUE(screen);
    play(2);
    command(screen, "toggleSound");
    EXPECT_TRUE(screen->avPlayer()->isMuted());
    EXPECT_EQ(apiCalls(screen).back(), "setSound(OFF)");
    EXPECT_EQ(events("sound"), std::vector<std::string>{"sound=OFF&offset=0&cp=5"});

    auto application = UIApplication::sharedApplication();
    for (int pause = 1; pause <= 2; ++pause) {
        application->simulateResignActive();
        double at = CMTimeGetSeconds(screen->avPlayer()->currentTime());
        play(3);  // the pause holds: no tick restarts playback meanwhile
        EXPECT_EQ(CMTimeGetSeconds(screen->avPlayer()->currentTime()), at);
        application->simulateBecomeActive();
        play(1);
        EXPECT_GT(CMTimeGetSeconds(screen->avPlayer()->currentTime()), at);
    }
    EXPECT_EQ(events("paused"), (std::vector<std::string>{"po=EXTERNAL&pn=1&offset=0&cp=5",
                                                          "po=EXTERNAL&pn=2&offset=0&cp=8"}));
    EXPECT_EQ(events("resumed"), (std::vector<std::string>{"po=EXTERNAL&pn=1&offset=0&cp=5",
                                                           "po=EXTERNAL&pn=2&offset=0&cp=8"}));

    command(screen, "skipVideo");
    EXPECT_EQ(events("skipped"), std::vector<std::string>{"offset=0&cp=10"});
    EXPECT_TRUE(screen->isShowingPostRoll());
    EXPECT_EQ(screen->endVideoLastCP(), 10);
    // Out of the playback, the application's activity no longer matters.
    application->simulateResignActive();
    application->simulateBecomeActive();
    EXPECT_EQ(events("paused").size(), 2u);
}

TEST_F(TRAAdVideoViewControllerTest, AClickClosesWithoutAnimationEventsOrBrowserAndARewardedCloseCompletesOnce) {
    TrilliumVideoAd settings;
    settings.page = simplePage();
    auto ad = loadVideoAd(settings);
    ad->internalAd()->setIsRewardedVideo(true);
    auto screen = showVideo(ad);
    ASSERT_TRUE(screen);
    play(3);
    screen->webView()->simulateLinkClickOnHref(chains.landingUrl() + "?index=0");
    driver().drain();
    ASSERT_TRUE(driver().settle(5));
    EXPECT_EQ(publisher->events, (std::vector<std::string>{"didShowAd", "didCompleteVideo", "didClickAd"}));
    EXPECT_FALSE(screen->isPresented());
    EXPECT_EQ(browser(), nullptr);
    EXPECT_TRUE(events("closed").empty());
    EXPECT_TRUE(events("rewarded").empty());
}

TEST_F(TRAAdVideoViewControllerTest, APageCloseDuringPlaybackSendsTheClosedEvent) {
    auto ad = loadVideoAd(TrilliumVideoAd{});
    auto screen = showVideo(ad);
    ASSERT_TRUE(screen);
    play(20);
    command(screen, "closeAd");
    EXPECT_EQ(events("closed"), std::vector<std::string>{"offset=0&cp=50"});
    EXPECT_EQ(publisher->events, (std::vector<std::string>{"didShowAd", "didCloseAd"}));
    EXPECT_EQ(service.requestsTo(TrilliumService::kClosePath).size(), 1u);
}

// ---- failures ----

TEST_F(TRAAdVideoViewControllerTest, AFileThatDoesNotOpenFailsTheAdAndLeavesTheStore) {
    auto ad = loadVideoAd(TrilliumVideoAd{}, TrilliumVideoAds::mp4File(TrilliumVideoFile::Truncated, 40));
    std::string path = *ad->internalAd()->videoPref()->videoPath();
    auto screen = showVideo(ad, std::string("menu"));
    ASSERT_TRUE(screen);
    EXPECT_EQ(publisher->events, std::vector<std::string>{"failedShowAd"});
    EXPECT_TRUE(NSString::hasPrefix(publisher->lastError->localizedDescription(),
                                    "The asset's tracks were not loaded:\n"));
    EXPECT_FALSE(screen->isPresented());
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(path));
    EXPECT_EQ(TRAVideosManager::sharedInstance()->getVideosDBCopy().count(), 0u);
    // Its file gone, the ad does not go back into the cache to fail again.
    EXPECT_FALSE(ad->isReady());
    // Never shown: its impressions go out marked so, with offset -1.
    ASSERT_TRUE(driver().settle(5));
    auto impressions = service.requestsTo(TrilliumService::kImpressionPath);
    ASSERT_EQ(impressions.size(), 1u);
    EXPECT_EQ(impressions[0].field("offset"), "-1");
    EXPECT_EQ(impressions[0].field("isShown"), "false");
    EXPECT_EQ(impressions[0].field("reason"), "VIDEO_ERROR_MISSING_ASSETS");
    std::vector<TrilliumAnalyticsEvent> reports;
    for (const auto& e : analyticsEvents())
        if (e.category == "10") reports.push_back(e);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].category, "10");
    EXPECT_EQ(reports[0].value, "Load Video");
    EXPECT_EQ(reports[0].d, "click1");
}

TEST_F(TRAAdVideoViewControllerTest, AFileWithoutPictureLengthOrPathFailsTheAd) {
    for (TrilliumVideoFile kind : {TrilliumVideoFile::NoVideoTrack, TrilliumVideoFile::ZeroDuration}) {
        TrilliumVideoAd settings;
        settings.file = kind == TrilliumVideoFile::ZeroDuration ? "empty.mp4" : "silent.mp4";
        showVideo(loadVideoAd(settings, TrilliumVideoAds::mp4File(kind, 40)));
        EXPECT_EQ(publisher->events, std::vector<std::string>{"failedShowAd"}) << settings.file;
        publisher->events.clear();
    }

    TrilliumVideoAd other;
    other.file = "other.mp4";
    auto pathless = loadVideoAd(other);
    pathless->internalAd()->videoPref()->setVideoPath(std::nullopt);
    showVideo(pathless);
    EXPECT_EQ(publisher->events, std::vector<std::string>{"failedShowAd"});
    EXPECT_EQ(publisher->lastError->localizedDescription(), "Video asset is nil");
}

TEST_F(TRAAdVideoViewControllerTest, AFailureDuringPlaybackLeavesThePageWhoseCloseStillCloses) {
    auto ad = loadVideoAd(TrilliumVideoAd{});
    ad->internalAd()->setIsRewardedVideo(true);
    auto screen = showVideo(ad);
    ASSERT_TRUE(screen);
    play(2);
    screen->avPlayerItem()->simulateFailure(NSError::errorWithDomain("AVFoundationErrorDomain", -11800, Value()));
    ASSERT_TRUE(driver().settle(5));
    EXPECT_EQ(publisher->events, (std::vector<std::string>{"didShowAd", "failedShowAd"}));
    EXPECT_TRUE(NSString::hasPrefix(publisher->lastError->localizedDescription(), "Video failed:"));
    EXPECT_TRUE(screen->isPresented());
    EXPECT_EQ(screen->avPlayer(), nullptr);
    std::vector<std::string> values;
    for (const auto& e : analyticsEvents())
        if (e.category == "10") values.push_back(e.value);
    EXPECT_EQ(values, std::vector<std::string>{"observeValueForKeyPath"});

    command(screen, "closeAd");
    EXPECT_EQ(publisher->events,
              (std::vector<std::string>{"didShowAd", "failedShowAd", "didCompleteVideo", "didCloseAd"}));
    EXPECT_FALSE(screen->isPresented());
}

TEST_F(TRAAdVideoViewControllerTest, ARefusedPresentationPlaysNothing) {
    auto ad = loadVideoAd(TrilliumVideoAd{});
    // The server's do-not-show switch refuses the display at the first frame.
    NSUserDefaults::standardUserDefaults()->setObject(Value(int64_t{1}), "TRADNS");
    auto screen = showVideo(ad);
    ASSERT_TRUE(screen);
    EXPECT_EQ(publisher->events, std::vector<std::string>{"failedShowAd"});
    EXPECT_EQ(screen->avPlayer(), nullptr);
    EXPECT_NE(AVAudioSession::sharedInstance()->category(), AVAudioSessionCategoryPlayback);
    UIApplication::sharedApplication()->simulateResignActive();
    UIApplication::sharedApplication()->simulateBecomeActive();
    play(2);
    EXPECT_TRUE(videos.events().empty());
    EXPECT_TRUE(service.requestsTo(TrilliumService::kImpressionPath).empty());
}

TEST_F(TRAAdVideoViewControllerTest, AProgrammaticCloseWhilePreparingKeepsTheAdFromAppearing) {
    auto ad = loadVideoAd(TrilliumVideoAd{});
    Ref<TRAAd> model = ad->internalAd();
    // The video's tracks keep loading until the close has acted (and pass again
    // after this test, whatever happens in it).
    platform::testing::AssetLoads::hold();
    struct ReleaseAtEnd {
        ~ReleaseAtEnd() { platform::testing::AssetLoads::release(); }
    } releaseAtEnd;
    ad->showAd();
    auto screen = screenOf(model);
    ASSERT_TRUE(waitFor([&] { return screen->displayDecided(); }));
    ASSERT_EQ(platform::testing::AssetLoads::heldCount(), 1u);
    std::dynamic_pointer_cast<TRAHtmlAd>(model)->closeAd(false, false);
    play(2);
    // The tracks then load: still nothing appears.
    platform::testing::AssetLoads::release();
    play(2);
    EXPECT_FALSE(screen->isPresented());
    EXPECT_TRUE(publisher->events.empty());
    EXPECT_EQ(screen->avPlayer(), nullptr);
    EXPECT_NE(AVAudioSession::sharedInstance()->category(), AVAudioSessionCategoryPlayback);
}

TEST_F(TRAAdVideoViewControllerTest, ALaterLoadOrAppearanceStartsNothingAgain) {
    auto ad = loadVideoAd(TrilliumVideoAd{});
    auto screen = showVideo(ad);
    ASSERT_TRUE(screen);
    Ref<AVPlayer> player = screen->avPlayer();
    play(2);
    screen->webViewDidFinishLoad(screen->webView());
    ASSERT_TRUE(driver().settle(5));
    EXPECT_EQ(screen->avPlayer(), player);

    // An in-app browser over the ad, then gone: the screen appears again.
    screen->viewDidAppear(false);
    play(1);
    EXPECT_EQ(ad->internalAd()->offset(), 0);
    EXPECT_EQ(service.requestsTo(TrilliumService::kImpressionPath).size(), 1u);
    EXPECT_EQ(publisher->events, std::vector<std::string>{"didShowAd"});
    EXPECT_GT(CMTimeGetSeconds(player->currentTime()), 2.5);
}

// ---- one file for the URLs of one name ----

TEST_F(TRAAdVideoViewControllerTest, AdsWhoseSignedUrlsNameOneFileLoadTogetherFromOneDownload) {
    const std::string bytes = TrilliumVideoAds::mp4File(TrilliumVideoFile::Valid, 40);
    service.server().route("GET", "/v/clip.mov", Answer::stall(Answer::ok(bytes)));
    std::vector<Ref<RecordingAdDelegate>> publishers;
    std::vector<Ref<TRATrilliumAd>> ads;
    for (int64_t eventType : {TRATrilliumAd::EventTypeSplash, TRATrilliumAd::EventTypeOrdinary,
                              TRATrilliumAd::EventTypeReturn}) {
        publishers.push_back(NSObject::alloc<RecordingAdDelegate>());
        ads.push_back(loadSignedVideoAd(static_cast<int>(ads.size()) + 1, eventType, publishers.back()));
    }
    // The file is held until all three ads wait on its one download.
    auto store = TRAVideosManager::sharedInstance();
    ASSERT_TRUE(waitFor([&] {
        auto entry = store->downloaderForFileName("clip.mp4");
        return entry && entry->waitingAdCount() == 3;
    }));
    ASSERT_TRUE(waitFor([&] { return service.server().stalledCount() == 1; }));
    service.server().releaseStalled();
    ASSERT_TRUE(waitFor([&] {
        return std::all_of(publishers.begin(), publishers.end(), [](const auto& p) { return !p->events.empty(); });
    }));

    EXPECT_EQ(signedFileRequests(), 1u);
    for (size_t i = 0; i < ads.size(); ++i) {
        EXPECT_EQ(publishers[i]->events, std::vector<std::string>{"didLoadAd"}) << i;
        EXPECT_TRUE(ads[i]->isReady()) << i;
        EXPECT_EQ(ads[i]->internalAd()->videoPref()->videoPath(), TRAAdSDKUtils::getDestPathFromFileName("clip.mp4"));
    }
}

TEST_F(TRAAdVideoViewControllerTest, ACachedAdsFileStaysAndPlaysWhenOtherUrlsOfItsNameArrive) {
    const std::string bytes = TrilliumVideoAds::mp4File(TrilliumVideoFile::Valid, 40);
    // A second fetch would never end: the later ads must not need one.
    service.server().route("GET", "/v/clip.mov",
                           std::vector<Answer>{Answer::ok(bytes), Answer::stall(Answer::ok(bytes))});
    auto cached = loadSignedVideoAd(1, TRATrilliumAd::EventTypeOrdinary, publisher);
    ASSERT_TRUE(waitFor([&] { return !publisher->events.empty(); }));
    publisher->events.clear();
    const std::string path = *cached->internalAd()->videoPref()->videoPath();

    // The later ads load from the file there, at once; the cached one keeps it.
    auto later = NSObject::alloc<RecordingAdDelegate>();
    auto laterAd = loadSignedVideoAd(2, TRATrilliumAd::EventTypeReturn, later);
    ASSERT_TRUE(waitFor([&] { return !later->events.empty(); }));
    EXPECT_EQ(later->events, std::vector<std::string>{"didLoadAd"});
    EXPECT_EQ(NSData::dataWithContentsOfFile(path).value_or(NSData()).toString(), bytes);

    auto screen = showVideo(cached);
    ASSERT_TRUE(screen);
    EXPECT_EQ(publisher->events, std::vector<std::string>{"didShowAd"});
    play(2);
    // Nor does the playing file go when another URL of its name arrives.
    auto third = NSObject::alloc<RecordingAdDelegate>();
    auto thirdAd = loadSignedVideoAd(3, TRATrilliumAd::EventTypeSplash, third);
    ASSERT_TRUE(waitFor([&] { return !third->events.empty(); }));
    EXPECT_EQ(third->events, std::vector<std::string>{"didLoadAd"});
    play(2);
    EXPECT_EQ(publisher->events, std::vector<std::string>{"didShowAd"});
    EXPECT_GT(CMTimeGetSeconds(screen->avPlayer()->currentTime()), 3.5);
    EXPECT_EQ(NSData::dataWithContentsOfFile(path).value_or(NSData()).toString(), bytes);
    EXPECT_EQ(signedFileRequests(), 1u);
}

TEST_F(TRAAdVideoViewControllerTest, AReturnAdWhoseVideoCameAsALoginPageLoadsOnceTheRefusalLapses) {
    const std::string bytes = TrilliumVideoAds::mp4File(TrilliumVideoFile::Valid, 40);
    // A captive network answers the first fetch with its login page.
    service.server().route("GET", "/v/clip.mov", std::vector<Answer>{TrilliumVideoAds::loginPage(), Answer::ok(bytes)});
    int signature = 0;
    auto load = [&](Ref<TRATrilliumAd>* loaded = nullptr) {
        auto to = NSObject::alloc<RecordingAdDelegate>();
        auto ad = loadSignedVideoAd(++signature, TRATrilliumAd::EventTypeReturn, to);
        EXPECT_TRUE(waitFor([&] { return !to->events.empty(); }));
        if (loaded) *loaded = ad;
        return to->events;
    };
    EXPECT_EQ(load(), std::vector<std::string>{"failedLoadAd"});
    driver().advance(30);
    EXPECT_EQ(load(), std::vector<std::string>{"failedLoadAd"});
    EXPECT_EQ(signedFileRequests(), 1u);

    driver().advance(30);
    Ref<TRATrilliumAd> ad;
    EXPECT_EQ(load(&ad), std::vector<std::string>{"didLoadAd"});
    EXPECT_TRUE(ad->isReady());
    EXPECT_EQ(signedFileRequests(), 2u);
    EXPECT_EQ(NSData::dataWithContentsOfFile(*ad->internalAd()->videoPref()->videoPath()).value_or(NSData()).toString(),
              bytes);
}
