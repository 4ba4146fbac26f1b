// The script bridges as a creative sees them: test creatives loaded into
// containers in the key window record what their page observes (listener
// calls, globals, the close button, opened URLs) and the tests read that
// record back. A small bridge with two events of its own lets the page fire
// events at will; bad calls from the page are logged and change nothing;
// every way out of the ad opens only for the user's tap, one per tap.
#include "platform/store/SFSafariViewController.h"
#include "platform/store/SKStoreProductViewController.h"
#include "platform/ui/UIApplication.h"
#include "platform/web/JSVirtualMachine.h"
#include "tamarind/tests/TamarindTestSupport.h"

namespace {

// Events "ready" and "info"; the page fires them with fire(name, …args).
class TMATBridgeTestEventBridge : public TMATBaseBridge, public JSExport {
public:
    std::string bridgePrefix() const override { return "testbridge"; }
    std::string bridgeAPIVersion() const override { return "0"; }
    std::vector<std::string> supportedJSEvents() const override { return {"ready", "info"}; }
    void insertEventsInContext() override {}
    std::vector<JSExportMethod> exportedMethods() const override {
        auto* bridge = const_cast<TMATBridgeTestEventBridge*>(this);
        return {exportedAddEventListener(bridge), exportedRemoveEventListener(bridge),
                {"fire:", [bridge](JSContext&, const std::vector<JSValue>& args) {
                     std::vector<Value> values;
                     for (size_t i = 1; i < args.size(); ++i)
                         values.push_back(args[i].isNumber()   ? Value(args[i].toDouble())
                                          : args[i].isString() ? Value(*args[i].toString())
                                                               : args[i].toDictionary());
                     bridge->fireEventListeners(*args[0].toString(), values);
                     return JSValue();
                 }}};
    }
};

}  // namespace

class TMATBridgeTest : public TamarindPageTest {
protected:
    // A container whose page gets the test bridge besides the manager's.
    Ref<TMATInterstitialAdContainer> loadWithEventBridge(const std::string& body) {
        auto container = addContainer();
        eventBridge = NSObject::alloc<TMATBridgeTestEventBridge>();
        eventBridge->initWithAdController(controller);
        container->setJsContext(container->webView()->javaScriptContext());
        eventBridge->registerBridge(container);
        load(container, body);
        return container;
    }
    size_t nativeCloseButtons(const Ref<UIView>& view) {
        size_t n = 0;
        for (const auto& sub : view->subviews()) n += sub->accessibilityIdentifier() == "nativeCloseButton";
        return n;
    }

    Ref<TMATBridgeTestEventBridge> eventBridge;
};

TEST_F(TMATBridgeTest, EventsReachListenersAfterTheFiringScriptInOrderWithTheirArguments) {
    auto container = loadWithEventBridge(
        "<script>testbridge.addEventListener('ready', function (a, b) { record('ready', a, b); });"
        "testbridge.addEventListener('info', function (x) { record('info', x); });</script>");
    eval(container, "testbridge.fire('ready', 1, 'two'); testbridge.fire('info', {k: [1]}); record('script done');");
    EXPECT_EQ(seenJSON(container), R"([["script done"]])");
    driver().drain();
    EXPECT_EQ(seenJSON(container), R"([["script done"],["ready",1,"two"],["info",{"k":[1]}]])");
}

TEST_F(TMATBridgeTest, UnknownNamesBadListenersAndDuplicatesFollowTheListsRules) {
    expectLogLine("Attempted to add an event listener for event 'nope' which does not exist");
    expectLogLine("Attempted to remove an event listener for event 'nope' which does not exist");
    expectLogLine("testbridge.addEventListener: the listener for 'ready' is a string, not a function; ignored.");
    expectLogLine("testbridge.addEventListener: the event name is a undefined, not a string; ignored.");
    auto container = loadWithEventBridge(
        "<script>var f = function () { record('f'); };"
        "testbridge.addEventListener('nope', f); testbridge.removeEventListener('nope', f);"
        "testbridge.addEventListener('ready', 'record(\"eval\")'); testbridge.addEventListener();"
        "testbridge.addEventListener('ready', f); testbridge.addEventListener('ready', f);"
        "testbridge.removeEventListener('ready', function () {});</script>");
    EXPECT_EQ(eventBridge->listeners().at("ready").size(), 2u);
    EXPECT_EQ(eventBridge->listeners().count("nope"), 0u);
    eval(container, "testbridge.fire('ready');");
    driver().drain();
    EXPECT_EQ(seenJSON(container), R"([["f"],["f"]])");

    // Removing one of two identical listings leaves the other.
    eval(container, "seen = []; testbridge.removeEventListener('ready', f); testbridge.fire('ready');");
    driver().drain();
    EXPECT_EQ(seenJSON(container), R"([["f"]])");
}

TEST_F(TMATBridgeTest, ListedListenersSurviveACollectionAndRemovedOnesAreLetGo) {
    auto container = loadWithEventBridge(
        "<script>testbridge.addEventListener('ready', function () { record('kept'); });"
        "var dropped = function () { record('dropped'); }; testbridge.addEventListener('info', dropped);</script>");
    auto droppedListener = eventBridge->listeners().at("info").at(0);
    platform::testing::collectScriptGarbageNow();
    eval(container, "testbridge.fire('ready'); testbridge.fire('info');");
    driver().drain();
    EXPECT_EQ(seenJSON(container), R"([["kept"],["dropped"]])");

    eval(container, "testbridge.removeEventListener('info', dropped); dropped = null;");
    platform::testing::collectScriptGarbageNow();
    EXPECT_TRUE(droppedListener->value().isUndefined());
    EXPECT_TRUE(eventBridge->listeners().at("ready").at(0)->value().isObject());
}

TEST_F(TMATBridgeTest, ThrowingListenersAndRemovalsInsideListenersLeaveTheOthersRunning) {
    expectLogLine("boom");
    auto container = loadWithEventBridge(
        "<script>var third = function () { record('third'); };"
        "testbridge.addEventListener('info', function () { throw new Error('boom'); });"
        "testbridge.addEventListener('info', function second() {"
        "  record('second'); testbridge.removeEventListener('info', third);"
        "  testbridge.removeEventListener('info', second); });"
        "testbridge.addEventListener('info', third);</script>");
    eval(container, "testbridge.fire('info'); testbridge.fire('info');");
    driver().drain();
    // The first firing had handed all three to the page before any ran;
    // the second was delivered on the same turn, so it did too.
    EXPECT_EQ(seenJSON(container), R"([["second"],["third"],["second"],["third"]])");
    eval(container, "seen = []; testbridge.fire('info');");
    driver().drain();
    EXPECT_EQ(seenJSON(container), "[]");
    EXPECT_EQ(eventBridge->listeners().at("info").size(), 1u);
}

TEST_F(TMATBridgeTest, EachFlagSetGivesItsGlobals) {
    const std::string probe =
        "[typeof mraid, typeof tamarind, typeof tamarindmobileadsviewablebridge, String(Event.Viewability)].join()";
    struct Case {
        bool mraid, tamarind, viewability;
        const char* globals;
    } cases[] = {
        {false, true, true, "undefined,object,object,Viewability"},
        {true, false, false, "object,undefined,undefined,undefined"},
        {false, false, true, "undefined,undefined,object,Viewability"},
        {true, true, false, "object,object,undefined,undefined"},
    };
    for (const auto& c : cases) {
        auto container = addContainer();
        load(container, "", flags(c.mraid, c.tamarind, c.viewability));
        EXPECT_EQ(eval(container, probe), c.globals);
        container->removeFromSuperview();
    }
    auto container = addContainer();
    load(container, "");
    EXPECT_EQ(eval(container,
                   "[tamarind.getVersion(), tamarind.getSDKVersion(), tamarindmobileadsviewablebridge.getVersion(),"
                   " tamarindmobileadsviewablebridge.getSDKVersion()].join()"),
              "2.0,2.0,1.1,tamarindAdSDK-ios-2.2.15");
}

TEST_F(TMATBridgeTest, EnableCloseButtonTwiceThenOffLeavesNoButton) {
    expectLogLine("tamarind.enableCloseButton: expects a boolean, was given a string; ignored.");
    auto container = addContainer();
    load(container, "");
    eval(container, "tamarind.enableCloseButton('yes'); tamarind.enableCloseButton();");
    driver().drain();
    EXPECT_EQ(nativeCloseButtons(container), 0u);
    for (int shown = 0; shown < 2; ++shown) {
        eval(container, "tamarind.enableCloseButton(true);");
        driver().drain();
        EXPECT_EQ(nativeCloseButtons(container), 1u);
    }
    eval(container, "tamarind.enableCloseButton(false);");
    driver().drain();
    EXPECT_EQ(nativeCloseButtons(container), 0u);
}

// Every way out of the ad (the system browser, another app, a call, the
// store), whether the bridge or the page's own navigation asks, needs the
// user's tap and uses it up: one per tap.
TEST_F(TMATBridgeTest, EveryWayOutOfTheAdOpensOnlyForTheUsersTapOnePerTap) {
    expectLogLine("tamarind.openInExternalBrowser: Unable to open http://landing.example/x: the user has not tapped "
                  "the ad (one such call per tap, within 5 s of it)");
    expectLogLine("The ad's page: Unable to leave the ad for tel:5550100: the user has not tapped the ad");
    expectLogLine("was given no URL; nothing is opened.");
    expectLogLine("tamarind.openInExternalBrowser: expects a URL string, was given a number; ignored.");
    using platform::testing::StoreSheet;
    UIApplication::sharedApplication()->setCanOpenScheme("ghostradar", true);
    const std::vector<std::string> waysOut = {
        "http://landing.example/x", "tel:5550100", "ghostradar://level/2", "itms-apps://apps.store.invalid/id1234",
        "tamarindmobile://intent?intent=tel%3A5550101",
        "https://apps.store.invalid/app/ghost-radar/id1234",  // its sheet fails to load: the system's store
    };
    auto presenter = NSObject::alloc<RecordingControllerDelegate>();
    presenter->presenter = rootViewController();
    controller->setDelegate(presenter);
    auto container = addContainer();
    load(container, "<a id='call' href='tel:5550102'>Call</a>");
    auto opened = [] {
        std::vector<std::string> urls;
        for (const auto& url : UIApplication::sharedApplication()->openedURLs()) urls.push_back(url->absoluteString());
        return urls;
    };

    // The page on its own, however it asks: nothing.
    for (const auto& url : waysOut) eval(container, "tamarind.openInExternalBrowser('" + url + "');");
    eval(container, "tamarind.openInExternalBrowser(42); location.href = 'tel:5550100';"
                    "document.getElementById('call').click();");
    driver().advance(1);
    EXPECT_TRUE(opened().empty());
    EXPECT_TRUE(StoreSheet::loadedParameters().empty());
    EXPECT_FALSE(rootViewController()->presentedViewController());

    // One tap each: the first call opens, the page's second is refused.
    for (const auto& url : waysOut) {
        window()->simulateTap(container->webView());
        eval(container, "tamarind.openInExternalBrowser('" + url + "'); tamarind.openInExternalBrowser('" + url + "');");
    }
    driver().advance(1);
    std::vector<std::string> expected(waysOut.begin(), waysOut.end());
    expected[4] = "tel:5550101";
    EXPECT_EQ(opened(), expected);
    EXPECT_EQ(StoreSheet::loadedParameters().size(), 1u);
    // The user's tap on a link to a call.
    ASSERT_TRUE(container->webView()->simulateLinkClick("call"));
    driver().advance(1);
    expected.push_back("tel:5550102");
    EXPECT_EQ(opened(), expected);
    // A tap used by a call that goes nowhere (no URL) allows nothing more.
    window()->simulateTap(container->webView());
    eval(container, "tamarind.openInExternalBrowser('http://exa mple/\\u0000'); location.href = 'tel:5550100';");
    driver().advance(1);
    EXPECT_EQ(opened(), expected);
    EXPECT_FALSE(rootViewController()->presentedViewController());
    // A frame to a call leaves nothing, so it uses up no tap.
    window()->simulateTap(container->webView());
    eval(container, "var f = document.createElement('iframe'); f.src = 'tel:5550103'; document.body.appendChild(f);");
    driver().advance(1);
    eval(container, "tamarind.openInExternalBrowser('ghostradar://level/3');");
    driver().advance(1);
    expected.push_back("ghostradar://level/3");
    EXPECT_EQ(opened(), expected);
}

// A creative that asks, without a tap, to open a URL of 1 MiB gets each
// refusal logged by the URL's start and length, never the whole URL.
TEST_F(TMATBridgeTest, ARefusedOpenOfAHugeURLIsLoggedShort) {
    const std::string refused = "the user has not tapped the ad";
    expectLogLine(refused);
    auto container = addContainer();
    load(container, "", flags(true, true, false));
    eval(container, "var huge = 'http://landing.example/' + 'a'.repeat(1 << 20);"
                    "mraid.open(huge); mraid.storePicture(huge); tamarind.openInExternalBrowser(huge);"
                    "location.href = 'tel:' + '5'.repeat(60000);");  // the web view's own bound is 64 KiB
    driver().advance(1);
    std::vector<std::string> lines;
    for (const auto& line : logCapture().messages())
        if (line.find(refused) != std::string::npos) lines.push_back(line);
    ASSERT_EQ(lines.size(), 4u);
    const std::string start = "http://landing.example/" + std::string(platform::kLoggedTextLimit - 23, 'a') + "… ";
    for (const char* call : {"mraid.open: Unable to open ", "mraid.storePicture: Unable to store ",
                             "tamarind.openInExternalBrowser: Unable to open "}) {
        const std::string expected = std::string(call) + start + "(1048599 bytes): " + refused;
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [&](const std::string& line) { return line.find(expected) != std::string::npos; }),
                  1)
            << call;
    }
    const std::string page = "The ad's page: Unable to leave the ad for tel:" +
                             std::string(platform::kLoggedTextLimit - 4, '5') + "… (60004 bytes): " + refused;
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [&](const std::string& line) { return line.find(page) != std::string::npos; }),
              1);
    for (const auto& line : lines) EXPECT_LT(line.size(), 500u);
    EXPECT_TRUE(UIApplication::sharedApplication()->openedURLs().empty());
}

// At the debug level, an open of a URL of 1 MiB that names a password, refused
// without a tap and allowed with one, logs each step short and without it.
TEST_F(TMATBridgeTest, AnOpenOfAHugeURLLogsEachStepShortAndWithoutItsPassword) {
    expectLogLine("the user has not tapped the ad");
    auto presenter = NSObject::alloc<RecordingControllerDelegate>();
    presenter->presenter = rootViewController();
    controller->setDelegate(presenter);
    auto container = addContainer();
    load(container, "", flags(true, true, false));
    eval(container, "var huge = '" + hostileURL("http://landing.example/page") + "'; mraid.open(huge);");
    window()->simulateTap(container->webView());
    eval(container, "mraid.open(huge);");
    driver().advance(1);
    ASSERT_EQ(SFSafariViewController::presentedURLs().size(), 1u);
    EXPECT_TRUE(logCapture().contains("open: executed with param: http://***@landing.example/page#fff"));
    EXPECT_TRUE(logCapture().contains("browser sheet: http://***@landing.example/page#fff"));
    expectBoundedLogLines();
}

// An honest creative's click handlers wait 1.2 s for their tracker's answer
// before they open the landing page: the user's tap still allows it, once.
TEST_F(TMATBridgeTest, AClickThroughAfterASlowTrackerStillOpensOncePerTap) {
    auto presenter = NSObject::alloc<RecordingControllerDelegate>();
    presenter->presenter = rootViewController();
    controller->setDelegate(presenter);
    auto container = addContainer();
    load(container,
         "<div id='learn' onclick='track(function () { mraid.open(\"http://landing.example/page\"); })'>More</div>"
         "<div id='visit' onclick='track(function () {"
         "  tamarind.openInExternalBrowser(\"http://landing.example/outside\");"
         "  tamarind.openInExternalBrowser(\"tel:5550100\"); })'>Visit</div>"
         "<script>function track(then) { setTimeout(then, 1200); }</script>",  // the tracker answers in 1.2 s
         flags(true, true, false));
    ASSERT_TRUE(container->webView()->simulateLinkClick("visit"));
    driver().advance(1.3);
    auto opened = UIApplication::sharedApplication()->openedURLs();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0]->absoluteString(), "http://landing.example/outside");

    ASSERT_TRUE(container->webView()->simulateLinkClick("learn"));
    driver().advance(1.3);
    ASSERT_EQ(SFSafariViewController::presentedURLs().size(), 1u);
    EXPECT_EQ(SFSafariViewController::presentedURLs()[0]->absoluteString(), "http://landing.example/page");
}

TEST_F(TMATBridgeTest, NothingOutlivesTheWebViewOnceTheControllerLetsGo) {
    Weak<TMATBaseAdContainer> container;
    Weak<UIWebView> webView;
    Weak<TMATBridgeManager> manager;
    Weak<TMATViewabilityBridge> viewability;
    Weak<TMATTamarindBridge> tamarind;
    Weak<JSManagedValue> listener;
    {
        auto shown = addContainer();
        auto bridges = load(shown, "<script>tamarindmobileadsviewablebridge.addEventListener(Event.Viewability,"
                                   " function (r) { record(r); });</script>");
        driver().advance(1);
        container = shown;
        webView = shown->webView();
        manager = bridges;
        viewability = bridges->viewabilityBridge();
        tamarind = bridges->tamarindBridge();
        listener = bridges->viewabilityBridge()->listeners().at("Viewability").at(0);
        shown->removeFromSuperview();
    }
    controller->setAdContainer(nullptr);
    controller->setBridgeManager(nullptr);
    driver().advance(1);
    EXPECT_TRUE(container.expired());
    EXPECT_TRUE(webView.expired());
    EXPECT_TRUE(manager.expired());
    EXPECT_TRUE(viewability.expired());
    EXPECT_TRUE(tamarind.expired());
    EXPECT_TRUE(listener.expired());
}
