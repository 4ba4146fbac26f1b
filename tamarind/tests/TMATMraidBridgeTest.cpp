// The MRAID bridge as a creative sees it: test creatives in containers of the
// key window record every MRAID event with the state their listener saw, and
// the tests read that record back: the page's life from "loading" to "ready",
// expansion and close of an inline ad (double calls, refusals, a released
// controller), the property tables, the device queries, calls that do
// nothing, open() (one sheet per tap of the user), a call storm, a page
// looping on bad calls (its errors all arrive, its log lines fold), and picture
// storing against the Tamarind service (permission, download, what is saved
// and what is refused).
#include "platform/store/PhotoAlbum.h"
#include "platform/store/SFSafariViewController.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDevice.h"
#include "platform/web/JSVirtualMachine.h"
#include "tamarind/TMATMraidExpandViewController.h"
#include "tamarind/tests/TamarindTestSupport.h"

using simulator::TamarindService;

class TMATMraidBridgeTest : public TamarindMraidPageTest {
protected:
    Ref<UIAlertController> shownAlert() {
        return std::dynamic_pointer_cast<UIAlertController>(rootViewController()->presentedViewController());
    }
};

TEST_F(TMATMraidBridgeTest, ThePageLoadsInLoadingThenGetsItsSizeDefaultReadyAndOneViewableChange) {
    auto container = addContainer(CGRectMake(0, 40, 320, 480));
    bridges = load(container, kTamarindMraidRecorder, flags(true, false, false));
    EXPECT_EQ(seenJSON(container), R"([["script","loading","inline"],["sizeChange","default",320,480],)"
                                   R"(["stateChange","default","default"],["ready","default"]])");
    EXPECT_EQ(eval(container, "JSON.stringify([mraid.getDefaultPosition(), mraid.getCurrentPosition()])"),
              R"([{"x":0,"y":40,"width":320,"height":480},{"x":0,"y":40,"width":320,"height":480}])");
    EXPECT_EQ(eval(container, "[mraid.getVersion(), mraid.isViewable()].join()"), "2.0,false");
    // The 1.0 s measurement finds the ad on screen: one change, not one per measurement.
    eval(container, "seen = [];");
    driver().advance(1.05);
    ASSERT_TRUE(waitFor([&] { return mraid()->isViewable(); }));
    driver().drain();
    driver().advance(3);
    driver().drain();
    EXPECT_EQ(seenJSON(container), R"([["viewableChange","default",true]])");
    EXPECT_EQ(eval(container, "String(mraid.isViewable())"), "true");
}

TEST_F(TMATMraidBridgeTest, AnInlineAdExpandsFullScreenAndClosesIntoItsOldSuperviewsFrame) {
    auto holder = UIView::alloc();
    holder->initWithFrame(CGRectMake(0, 100, 320, 250));
    window()->addSubview(holder);
    auto container = TMATBaseAdContainer::containerWithFrame<TMATInterstitialAdContainer>(CGRectMake(10, 10, 300, 200));
    holder->addSubview(container);
    loadMraid(container);
    auto expander = mraid()->expandViewController();

    // The second expand is judged by the state the first leads to.
    EXPECT_EQ(run(container, "mraid.expand(); mraid.expand(); record('returned', mraid.getState());"),
              R"([["returned","default"],["error","expanded","Unable to expand while expanded","expand"],)"
              R"(["sizeChange","expanded",320,568],["stateChange","expanded","expanded"]])");
    EXPECT_EQ(rootViewController()->presentedViewController(), expander);
    EXPECT_EQ(expander->modalPresentationStyle(), UIModalPresentationOverFullScreen);
    EXPECT_EQ(container->superview(), expander->view());
    EXPECT_EQ(container->frame(), CGRectMake(0, 0, 320, 568));
    auto button = expander->closeButton();
    EXPECT_EQ(button->superview(), expander->view());
    EXPECT_EQ(button->frame(), CGRectMake(262, 8, 50, 50));
    EXPECT_TRUE(button->imageForState(UIControlStateNormal));
    EXPECT_EQ(run(container, "mraid.setExpandProperties({width: 5});"),
              R"([["error","expanded","Cannot set expand properties while expanded","setExpandProperties"]])");

    // The native button closes; a second close before the first has taken effect is refused.
    window()->simulateTap(button);
    EXPECT_EQ(run(container, "mraid.close();"),
              R"([["error","default","The ad is currently not expanded","close"],)"
              R"(["sizeChange","default",320,250],["stateChange","default","default"]])");
    EXPECT_EQ(container->superview(), holder);
    EXPECT_EQ(container->frame(), CGRectMake(0, 100, 320, 250));
    EXPECT_FALSE(button->superview());
    EXPECT_EQ(eval(container, "JSON.stringify(mraid.getCurrentPosition())"), R"({"x":0,"y":200,"width":320,"height":250})");
    driver().advance(1);
    EXPECT_FALSE(rootViewController()->presentedViewController());
    EXPECT_EQ(run(container, "mraid.close();"), R"([["error","default","The ad is currently not expanded","close"]])");

    // Custom close: the button has no images but still closes.
    run(container, "mraid.useCustomClose(true); mraid.expand();");
    EXPECT_EQ(eval(container, "mraid.getState()"), "expanded");
    EXPECT_FALSE(button->imageForState(UIControlStateNormal));
    run(container, "mraid.useCustomClose(false);");
    EXPECT_TRUE(button->imageForState(UIControlStateNormal));
    run(container, "mraid.useCustomClose(true);");
    window()->simulateTap(button);
    driver().drain();
    EXPECT_EQ(eval(container, "mraid.getState()"), "default");
}

TEST_F(TMATMraidBridgeTest, AnExpansionStillClosesOnceItsControllerIsReleased) {
    auto container = loadMraid(addContainer());
    auto expander = mraid()->expandViewController();
    run(container, "mraid.expand();");
    ASSERT_EQ(rootViewController()->presentedViewController(), expander);
    Weak<TMATBridgeManager> released = bridges;
    controller.reset();
    bridges.reset();
    ASSERT_TRUE(released.expired());

    eval(container, "seen = [];");
    window()->simulateTap(expander->closeButton());
    driver().drain();
    EXPECT_EQ(seenButViewability(container), R"([["stateChange","default","default"]])");
    EXPECT_EQ(container->superview(), window());
    driver().advance(1);
    EXPECT_FALSE(rootViewController()->presentedViewController());
}

TEST_F(TMATMraidBridgeTest, ExpansionsNothingWouldShowAreRefusedAndTheStateStays) {
    expectLogLine("viewControllerForPresentingModalView delegate method not implemented");
    auto container = loadMraid(addContainer());
    const std::string notWeb = R"(["error","default","Unable to expand to a URL that is not http or https","expand"])";
    EXPECT_EQ(run(container, "mraid.expand('ftp://two.part/page'); mraid.expand('javascript:close()');"
                             "mraid.expand(42); mraid.expand('http://'); mraid.expand({});"),
              "[" + notWeb + "," + notWeb + "," + notWeb + "," + notWeb + "," + notWeb + "]");

    presenterDelegate->presenter = UIViewController::alloc()->init();  // not on screen
    EXPECT_EQ(run(container, "mraid.expand();"),
              R"([["error","default","Unable to expand: the presenting view controller is not on screen","expand"]])");
    controller->setDelegate(nullptr);
    EXPECT_EQ(run(container, "mraid.expand();"),
              R"([["error","default","Unable to expand: there is no view controller to present the expanded ad from",)"
              R"("expand"]])");

    mraid()->setPlacementType(TMATMraidPlacementTypeInterstitial);
    EXPECT_EQ(run(container, "record(mraid.getPlacementType()); mraid.expand();"),
              R"([["interstitial"],["error","default","Unable to expand an intersitial ad placement","expand"]])");
    EXPECT_EQ(container->superview(), window());
}

TEST_F(TMATMraidBridgeTest, PropertySettersMergeAndRefuseWhatIsNotAnObject) {
    expectLogLine("setOrientationProperties:: given orientation properties is not an object");
    expectLogLine("setResizeProperties:: given resize properties is not an object");
    expectLogLine("the expand properties would pass 4096 bytes");
    auto container = loadMraid(addContainer());
    EXPECT_EQ(run(container, "mraid.setExpandProperties({width: 200, extra: 'kept'});"
                             "record(mraid.getExpandProperties());"),
              R"([[{"width":200,"height":0,"useCustomClose":false,"isModal":true,"extra":"kept"}]])");
    EXPECT_EQ(run(container, "mraid.setResizeProperties({offsetX: 5}); mraid.setOrientationProperties("
                             "{forceOrientation: 'landscape'}); record(mraid.getResizeProperties(),"
                             " mraid.getOrientationProperties());"),
              R"([[{"width":0,"height":0,"offsetX":5,"offsetY":0,"customClosePosition":"top-right",)"
              R"("allowOffscreen":true},{"allowOrientationChange":true,"forceOrientation":"landscape"}]])");

    const std::string refused = R"(["error","default","Given expand properties is not an object","setExpandProperties"])";
    EXPECT_EQ(run(container, "mraid.setExpandProperties(5); mraid.setExpandProperties('x');"
                             "mraid.setExpandProperties([1]); mraid.setExpandProperties(null);"
                             "mraid.setExpandProperties(function () {});"),
              "[" + refused + "," + refused + "," + refused + "," + refused + "," + refused + "]");
    EXPECT_EQ(run(container, "mraid.setExpandProperties({blob: 'x'.repeat(5000)});"
                             "var cyclic = {}; cyclic.self = cyclic; mraid.setExpandProperties(cyclic);"
                             "mraid.setOrientationProperties(5); mraid.setResizeProperties('x');"
                             "record(mraid.getExpandProperties().width);"),
              R"([[200],["error","default","Given expand properties are too large","setExpandProperties"],)" + refused +
                  "]");
    // A truthy text does not ask for custom close.
    run(container, "mraid.setExpandProperties({useCustomClose: 'true'}); mraid.expand();");
    EXPECT_TRUE(mraid()->expandViewController()->closeButton()->imageForState(UIControlStateNormal));
}

TEST_F(TMATMraidBridgeTest, DeviceQueriesFollowTheSeamsTheScreenAndTheDeviceOrientation) {
    UIApplication::sharedApplication()->setCanOpenScheme("sms", false);
    auto container = loadMraid(addContainer());
    EXPECT_EQ(run(container, "record(mraid.supports('sms'), mraid.supports('tel'), mraid.supports('calendar'),"
                             " mraid.supports('inlineVideo'), mraid.supports('storePicture'), mraid.supports('nope'),"
                             " mraid.supports(42));"),
              R"([[false,true,true,true,true,false,false],)"
              R"(["error","default","Support key: nope doesn't exist","supports"],)"
              R"(["error","default","Support key: 42 doesn't exist","supports"]])");

    EXPECT_EQ(eval(container, "JSON.stringify(mraid.getMaxSize())"), R"({"width":320,"height":548})");
    UIApplication::sharedApplication()->setStatusBarHidden(true);
    EXPECT_EQ(eval(container, "JSON.stringify(mraid.getMaxSize())"), R"({"width":320,"height":568})");

    // Only a device held in landscape swaps the pixels; flat or unknown stays portrait.
    const char* expected[] = {"640x1136", "640x1136", "640x1136", "1136x640", "1136x640", "640x1136", "640x1136"};
    for (UIDeviceOrientation o : {5, 6, 0, 1, 2, 3, 4}) {
        UIDevice::currentDevice()->simulateOrientation(o);
        EXPECT_EQ(eval(container, "var s = mraid.getScreenSize(); s.width + 'x' + s.height"), expected[o]) << o;
    }
}

TEST_F(TMATMraidBridgeTest, NoOpCallsSendNothingAndOpenReachesTheBrowserSheetOncePerTap) {
    auto container = loadMraid(addContainer());
    EXPECT_EQ(run(container, "mraid.resize(); mraid.playVideo('http://v.example/v.mp4');"
                             " mraid.createCalendarEvent({description: 'x'}); mraid.open(7);"),
              R"([["error","default","Given URL is not a string","open"]])");
    EXPECT_FALSE(rootViewController()->presentedViewController());

    // The user's tap allows one sheet; the page's second open is refused.
    window()->simulateTap(container->webView());
    EXPECT_EQ(run(container, "mraid.open('http://landing.example/page'); mraid.open('http://landing.example/more');"),
              R"x([["error","default","Unable to open: the user has not tapped the ad (one such call per tap, )x"
              R"x(within 5 s of it)","open"]])x");
    driver().advance(1);
    auto sheet = std::dynamic_pointer_cast<SFSafariViewController>(rootViewController()->presentedViewController());
    ASSERT_TRUE(sheet);
    ASSERT_EQ(SFSafariViewController::presentedURLs().size(), 1u);
    EXPECT_EQ(SFSafariViewController::presentedURLs()[0]->absoluteString(), "http://landing.example/page");
    SFSafariViewController::simulateDone(sheet);
    driver().advance(1);

    // A tap more than 5 s before the call allows nothing.
    window()->simulateTap(container->webView());
    driver().advance(5.1);
    EXPECT_NE(run(container, "mraid.open('http://landing.example/late');").find("Unable to open"), std::string::npos);
    driver().advance(1);
    EXPECT_FALSE(rootViewController()->presentedViewController());
    EXPECT_EQ(SFSafariViewController::presentedURLs().size(), 1u);
}

TEST_F(TMATMraidBridgeTest, ACallStormIsCappedAndTheBridgeRecovers) {
    expectLogLine("mraid: 256 events wait for the page already; later ones are dropped until it catches up.");
    auto container = loadMraid(addContainer());
    run(container, "for (var i = 0; i < 5000; i++) { mraid.close(); mraid.expand('x'); }");
    EXPECT_EQ(eval(container, "String(seen.length)"), "256");
    EXPECT_EQ(run(container, "mraid.close();"), R"([["error","default","The ad is currently not expanded","close"]])");
}

// Every kind of bad call a page can loop on, 10,000 calls in one turn; then two every 10 ms for a minute.
TEST_F(TMATMraidBridgeTest, APageLoopingOnBadCallsGetsItsErrorsButWritesAFewLinesPerKind) {
    TMLog::setLogLevel(TMLogLevel::Debug);
    // 10,000 calls in one script: more than the default limit allows a sanitizer build.
    JSVirtualMachine::setExecutionTimeLimit(platform::testing::hangGuard(10));
    auto container = loadMraid(addContainer(), "", flags(true, true, false));
    const std::string calls =
        "mraid.supports('nope'); mraid.setOrientationProperties(5); mraid.setResizeProperties('x');"
        "mraid.setExpandProperties({blob: 'x'.repeat(5000)}); mraid.resize();"
        "mraid.addEventListener('nope', f); mraid.removeEventListener('nope', f); mraid.addEventListener(7, f);"
        "mraid.removeEventListener(7, f); mraid.addEventListener('ready', 'x'); tamarind.enableCloseButton('x');"
        "tamarind.openInExternalBrowser(5); tamarind.enableCloseButton(true);";
    const std::vector<std::string> firstLines = {
        "TamarindAd [Error]: MRAID log: error: Support key: nope doesn't exist. action: supports",
        "TamarindAd [Warn]: setOrientationProperties:: given orientation properties is not an object",
        "TamarindAd [Warn]: setResizeProperties:: given resize properties is not an object",
        "TamarindAd [Warn]: MRAID: the expand properties would pass 4096 bytes; they are not set.",
        "TamarindAd [Error]: MRAID log: error: Given expand properties are too large. action: setExpandProperties",
        "TamarindAd [Debug]: resize executed",
        "TamarindAd [Warn]: Attempted to add an event listener for event 'nope' which does not exist",
        "TamarindAd [Warn]: Attempted to remove an event listener for event 'nope' which does not exist",
        "TamarindAd [Warn]: mraid.addEventListener: the event name is a number, not a string; ignored.",
        "TamarindAd [Warn]: mraid.removeEventListener: the event name is a number, not a string; ignored.",
        "TamarindAd [Warn]: mraid.addEventListener: the listener for 'ready' is a string, not a function; ignored.",
        "TamarindAd [Warn]: tamarind.enableCloseButton: expects a boolean, was given a string; ignored.",
        "TamarindAd [Warn]: tamarind.openInExternalBrowser: expects a URL string, was given a number; ignored.",
        "TamarindAd [Debug]: tamarind.enableCloseButton: executed",
        "TamarindAd [Warn]: mraid: 256 events wait for the page already; later ones are dropped until it catches up.",
    };
    for (const auto& line : firstLines) expectLogLine(line);
    const size_t before = logCapture().lines().size();

    // The events are as capped as before: the first 256 reach the page.
    run(container, "var f = function () {}; for (var i = 0; i < 770; i++) {" + calls + "}");
    EXPECT_EQ(eval(container, "String(seen.length)"), "256");
    EXPECT_EQ(eval(container, "JSON.stringify(seen[0])"), R"(["error","default","Support key: nope doesn't exist","supports"])");
    for (const auto& line : firstLines) EXPECT_EQ(logCapture().count(line), 1u) << line;
    EXPECT_TRUE(logCapture().contains("action: supports (770 in all)"));

    // Then every 10 ms for a minute: each call's error reaches the page, the log gets a count per 10 s.
    driver().advance(11);
    const size_t timerStart = logCapture().lines().size();
    eval(container, "seen = []; var ticks = 0; var timer = setInterval(function () { ticks++;"
                    "mraid.supports('nope'); mraid.addEventListener('nope', f); }, 10);");
    driver().advance(60);
    const int ticks = std::stoi(eval(container, "clearInterval(timer); String(ticks)"));
    EXPECT_GE(ticks, 5000);
    EXPECT_EQ(eval(container, "String(seen.filter(function (e) { return e[3] === 'supports'; }).length)"),
              std::to_string(ticks));
    driver().advance(30);
    const auto lines = logCapture().lines();
    size_t fromThePage = 0;
    int supportsCounted = 0;
    for (size_t i = before; i < lines.size(); ++i) {
        const std::string& line = lines[i].message;
        fromThePage += line.find("TamarindAd") != std::string::npos;
        int more = 0;
        if (i < timerStart) continue;
        if (line.find("action: supports (") != std::string::npos)
            supportsCounted += std::sscanf(line.c_str() + line.rfind('('), "(%d more in 10 s)", &more) == 1 ? more : 1;
        else if (line.find("action: supports") != std::string::npos)
            ++supportsCounted;
    }
    // Per kind: the turn's line; for the timer's two, its first line and six or seven counts.
    EXPECT_LE(fromThePage, firstLines.size() + 2 * 8);
    EXPECT_EQ(supportsCounted, ticks);
    expectBoundedLogLines();
}

// ---- storing pictures ----------------------------------------------------------------------------------

TEST_F(TMATMraidBridgeTest, PictureStoringAsksFirstThenSavesOnlyImages) {
    expectLogLine("User cancelled storing image");
    expectLogLine("MRAID: Picture stored.");
    expectLogLine("MRAID: Failed to save picture.");
    expectLogLine("Failed to retrieve image: 404:HTTP status 404");
    auto container = loadMraid(addContainer());
    auto storeAndAnswer = [&](const std::string& path, int64_t action) {
        window()->simulateTap(container->webView());
        run(container, "mraid.storePicture('" + service.url(path) + "');");
        auto alert = shownAlert();
        ASSERT_TRUE(alert);
        EXPECT_EQ(alert->title(), "Permissions");
        EXPECT_EQ(alert->message(), "Allow ad image to be saved");
        ASSERT_EQ(alert->actions().size(), 2u);
        EXPECT_EQ(alert->actions()[0]->title(), "Cancel");
        EXPECT_EQ(alert->actions()[0]->style(), UIAlertActionStyleCancel);
        EXPECT_EQ(alert->actions()[1]->title(), "OK");
        alert->simulateTapActionAtIndex(action);
        driver().advance(1);
    };

    storeAndAnswer(TamarindService::kPicturePath, 0);
    EXPECT_TRUE(service.requestsTo(TamarindService::kPicturePath).empty());

    storeAndAnswer(TamarindService::kPicturePath, 1);
    ASSERT_TRUE(waitFor([] { return platform::testing::PhotoAlbum::savedImages().size() == 1; }));
    auto saved = UIImage::imageWithContentsOfFile(platform::testing::PhotoAlbum::savedImages()[0]);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->size(), CGSizeMake(4, 4));

    // One request object serves every picture: each outcome is awaited before the next.
    storeAndAnswer(TamarindService::kPicturePagePath, 1);
    ASSERT_TRUE(waitFor([&] { return logCapture().contains("MRAID: Failed to save picture."); }));
    storeAndAnswer("/pictures/missing.png", 1);
    ASSERT_TRUE(waitFor([&] { return logCapture().contains("Failed to retrieve image"); }));
    EXPECT_EQ(platform::testing::PhotoAlbum::savedImages().size(), 1u);
    EXPECT_EQ(seenButViewability(container), "[]");  // nothing is reported to the page
}

TEST_F(TMATMraidBridgeTest, BadPictureURLsAreRefusedAndALaterPictureReplacesTheOpenPrompts) {
    auto container = loadMraid(addContainer());
    const std::string refused = R"(["error","default","Given picture URL is not a web URL","storePicture"])";
    EXPECT_EQ(run(container, "mraid.storePicture('javascript:alert(1)'); mraid.storePicture('');"
                             "mraid.storePicture(7); mraid.storePicture('file:///etc/passwd');"),
              "[" + refused + "," + refused + "," + refused + "," + refused + "]");
    EXPECT_FALSE(rootViewController()->presentedViewController());

    // Two taps before the prompt shows: one prompt, which stores the later picture.
    window()->simulateTap(container->webView());
    eval(container, "mraid.storePicture('" + service.url(TamarindService::kPicturePagePath) + "');");
    window()->simulateTap(container->webView());
    EXPECT_EQ(run(container, "mraid.storePicture('" + service.url(TamarindService::kPicturePath) + "');"), "[]");
    auto alert = shownAlert();
    ASSERT_TRUE(alert);
    alert->simulateTapActionAtIndex(1);
    driver().advance(1);
    ASSERT_TRUE(waitFor([] { return platform::testing::PhotoAlbum::savedImages().size() == 1; }));
    EXPECT_TRUE(service.requestsTo(TamarindService::kPicturePagePath).empty());
    EXPECT_EQ(service.requestsTo(TamarindService::kPicturePath).size(), 1u);
}
