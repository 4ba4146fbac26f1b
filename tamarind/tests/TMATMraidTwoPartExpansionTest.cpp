// Two-part MRAID expansion as both creatives see it: an inline ad in the key
// window expands to a page the Tamarind service serves on loopback; both
// pages record every MRAID event with the state their listener saw. Covered:
// the second page's bridges, state and placement, the one "stateChange" of
// the first page, its refusals while the second page loads, a close from
// either page and from the native button (also with custom close), and URLs
// or pages that cannot be shown.
#include "tamarind/TMATMraidExpandViewController.h"
#include "tamarind/tests/TamarindTestSupport.h"

using simulator::Answer;

namespace {

// The expanded page: the recorder, then which other bridges its page has.
const std::string kTMATExpandedPage = std::string("<html><head></head><body>") + kTamarindRecordingPrelude +
                                      kTamarindMraidRecorder +
                                      "<script>record('globals', typeof tamarind, "
                                      "typeof tamarindmobileadsviewablebridge);</script></body></html>";

}  // namespace

class TMATMraidTwoPartExpansionTest : public TamarindMraidPageTest {
protected:
    void SetUp() override {
        TamarindMraidPageTest::SetUp();
        service.setAnswer("GET", "/expanded", Answer::ok(kTMATExpandedPage));
        container = loadMraid(addContainer(CGRectMake(0, 40, 320, 250)), "", flags(true, true, false));
        expander = mraid()->expandViewController();
    }
    // Expands to the served page and waits until it shows.
    void expandAndWait(const std::string& before = "") {
        // expand() returns before the page comes; the page may then come
        // within the same drain (its "stateChange" recorded after this).
        EXPECT_THAT(run(container, before + "mraid.expand('" + service.url("/expanded") + "');" +
                                       "record('returned', mraid.getState());"),
                    testing::StartsWith(R"([["returned","default"])"));
        ASSERT_TRUE(waitFor([&] { return rootViewController()->presentedViewController() == expander; }));
        driver().drain();
        page = expander->twoPartView();
        ASSERT_TRUE(page);
    }
    // The second page is gone, the first creative in its place and nothing presented.
    void expectClosed() {
        EXPECT_FALSE(expander->twoPartView());
        EXPECT_FALSE(page->superview());
        driver().advance(1);
        EXPECT_FALSE(rootViewController()->presentedViewController());
        EXPECT_EQ(container->superview(), window());
        EXPECT_EQ(container->frame(), CGRectMake(0, 40, 320, 250));
    }

    Ref<TMATInterstitialAdContainer> container;
    Ref<TMATMraidExpandViewController> expander;
    Ref<TMATInterstitialAdContainer> page;
};

TEST_F(TMATMraidTwoPartExpansionTest, TheSecondPageShowsExpandedAndClosesFromEitherPage) {
    expandAndWait();
    EXPECT_TRUE(expander->isTwoPart());
    EXPECT_EQ(seenButViewability(container), R"([["returned","default"],["stateChange","expanded","expanded"]])");
    EXPECT_EQ(container->superview(), window());  // the first creative stays in place
    EXPECT_EQ(page->superview(), expander->view());
    EXPECT_EQ(page->frame(), CGRectMake(0, 0, 320, 568));
    EXPECT_EQ(expander->modalPresentationStyle(), UIModalPresentationOverFullScreen);
    EXPECT_EQ(expander->closeButton()->superview(), expander->view());
    EXPECT_TRUE(expander->closeButton()->imageForState(UIControlStateNormal));
    EXPECT_EQ(service.requestsTo("/expanded").size(), 1u);

    // The second page has the bridges the first has, and reads "expanded" from its first script on.
    EXPECT_EQ(seenButViewability(page), R"([["script","expanded","inline"],["globals","object","undefined"],)"
                                        R"(["sizeChange","expanded",320,568],["ready","expanded"]])");
    EXPECT_EQ(run(page, "mraid.expand();"), R"([["error","expanded","Unable to expand while expanded","expand"]])");
    EXPECT_EQ(run(container, "mraid.expand();"),
              R"([["error","expanded","Unable to expand while expanded","expand"]])");

    // Closed by the second page, then by the first.
    eval(container, "seen = [];");
    run(page, "mraid.close();");
    EXPECT_EQ(seenButViewability(container), R"([["stateChange","default","default"]])");
    expectClosed();
    expandAndWait();
    EXPECT_EQ(run(container, "mraid.close();"), R"([["stateChange","default","default"]])");
    expectClosed();
}

TEST_F(TMATMraidTwoPartExpansionTest, TheCloseButtonClosesAndHidesOnlyItsImagesForCustomClose) {
    expandAndWait();
    eval(container, "seen = [];");
    window()->simulateTap(expander->closeButton());
    driver().drain();
    EXPECT_EQ(seenButViewability(container), R"([["stateChange","default","default"]])");
    expectClosed();

    // Custom close asked by the first creative, then by the second page for the ad.
    expandAndWait("mraid.useCustomClose(true);");
    EXPECT_FALSE(expander->closeButton()->imageForState(UIControlStateNormal));
    run(page, "mraid.useCustomClose(false);");
    EXPECT_TRUE(expander->closeButton()->imageForState(UIControlStateNormal));
    run(page, "mraid.useCustomClose(true);");
    EXPECT_FALSE(expander->closeButton()->imageForState(UIControlStateNormal));
    window()->simulateTap(CGPointMake(287, 33));  // the button's area
    driver().drain();
    EXPECT_EQ(eval(container, "mraid.getState()"), "default");
    expectClosed();
}

TEST_F(TMATMraidTwoPartExpansionTest, WhileTheSecondPageLoadsTheAdReadsDefaultAndExpandSaysItIsLoading) {
    service.setAnswer("GET", "/slow", Answer::stall(Answer::ok(kTMATExpandedPage)));
    run(container, "mraid.expand('" + service.url("/slow") + "');");
    ASSERT_TRUE(waitForRequests("/slow", 1));
    driver().drain();
    EXPECT_TRUE(expander->isTwoPart());
    EXPECT_EQ(run(container, "record('state', mraid.getState()); mraid.expand(); mraid.expand('" +
                                 service.url("/expanded") + "');"),
              R"([["state","default"],["error","default","Unable to expand while an expansion is loading","expand"],)"
              R"(["error","default","Unable to expand while an expansion is loading","expand"]])");

    // Once shown, the ad is expanded and says so.
    service.server().releaseStalled();
    ASSERT_TRUE(waitFor([&] { return rootViewController()->presentedViewController() == expander; }));
    driver().drain();
    EXPECT_EQ(run(container, "mraid.expand();"), R"([["error","expanded","Unable to expand while expanded","expand"]])");
    EXPECT_TRUE(service.requestsTo("/expanded").empty());
}

TEST_F(TMATMraidTwoPartExpansionTest, URLsThatAreNotWebPagesAndPagesThatFailAreRefusedAndTheStateStays) {
    expectLogLine("MRAID: the expanded page failed to load");
    service.setAnswer("GET", "/broken", Answer::drop());
    const std::string notWeb = R"(["error","default","Unable to expand to a URL that is not http or https","expand"])";
    EXPECT_EQ(run(container, "mraid.expand('file:///etc/passwd'); mraid.expand('tamarindmobile://intent');"),
              "[" + notWeb + "," + notWeb + "]");

    // A second expand while the page loads is refused as such; the failed page leaves "default".
    const std::string loading = R"(["error","default","Unable to expand while an expansion is loading","expand"])";
    EXPECT_EQ(run(container, "mraid.expand('" + service.url("/broken") + "'); mraid.expand();"), "[" + loading + "]");
    ASSERT_TRUE(waitFor([&] { return seenButViewability(container).find("failed to load") != std::string::npos; }));
    driver().drain();
    EXPECT_EQ(seenButViewability(container),
              "[" + loading + R"(,["error","default","Unable to expand: the page failed to load","expand"]])");
    EXPECT_EQ(eval(container, "mraid.getState()"), "default");
    EXPECT_FALSE(expander->twoPartView());
    EXPECT_FALSE(expander->isTwoPart());
    EXPECT_FALSE(rootViewController()->presentedViewController());

    // A close while the page loads ends the expansion before it shows.
    EXPECT_EQ(run(container, "mraid.expand('" + service.url("/expanded") + "'); mraid.close();"), "[]");
    driver().advance(1);
    EXPECT_FALSE(rootViewController()->presentedViewController());
    EXPECT_EQ(eval(container, "mraid.getState()"), "default");

    // The ad expands again afterwards.
    expandAndWait();
}
