// The viewability bridge in a page: the stored measurement script filled
// with the pixel URL and slot id as literals (hostile values included) and
// refused when its placeholders are wrong, scripts that throw or never end,
// the records the page's listeners receive on the virtual clock, and the
// listener count.
#include "platform/web/JSVirtualMachine.h"
#include "tamarind/tests/TamarindTestSupport.h"

namespace {
// Publishes what the script was given, and keeps the "%" text after it.
constexpr const char* kTMATVisProbeScript =
    "window.vis = {pixel: (%@)(), slot: %s, kept: '100% of %d'};";
constexpr const char* kTMATVisListener =
    "<script>tamarindmobileadsviewablebridge.addEventListener(Event.Viewability,"
    " function (r) { record(JSON.stringify(r)); });</script>";
}  // namespace

class TMATViewabilityBridgeTest : public TamarindPageTest {
protected:
    // One timer firing of the container's calculator, through its overlap
    // step (a little past the interval: the clock's sums are not exact).
    void measure(const Ref<TMATBaseAdContainer>& container) {
        driver().advance(container->viewabilityTimerInterval() + 0.001);
        driver().settle();
    }
    static std::string record(int percent, int onScreen, const char* frame = "\"x\":0,\"y\":0,\"width\":320,\"height\":480") {
        return "[\"{\\\"viewablePercentage\\\":" + std::to_string(percent) + ",\\\"isAdOnScreen\\\":" +
               std::to_string(onScreen) + "," + NSString::stringByReplacingOccurrencesOfString(frame, "\"", "\\\"") +
               "}\"]";
    }
};

TEST_F(TMATViewabilityBridgeTest, PixelAndSlotEnterTheScriptAsLiteralsWhateverTheyHold) {
    storeViewabilityScript(kTMATVisProbeScript);
    const std::string hostile[] = {"http://p.example/i?a=1&b=\"2\"", "\";window.pwned=1;//", "x\\\"\n</script>\u2028y",
                                   "%@ %s %d"};
    for (const auto& pixel : hostile) {
        controller->adModel()->setInstrumentationPixelUrl(pixel);
        auto container = addContainer();
        container->setSlotID("slot'\"\\" + pixel);
        load(container, "");
        EXPECT_EQ(eval(container, "vis.pixel"), pixel);
        EXPECT_EQ(eval(container, "vis.slot"), "slot'\"\\" + pixel);
        EXPECT_EQ(eval(container, "vis.kept"), "100% of %d");
        EXPECT_EQ(eval(container, "typeof pwned"), "undefined");
        container->removeFromSuperview();
    }
    controller->adModel()->setInstrumentationPixelUrl(std::nullopt);
    auto container = addContainer();
    load(container, "");
    EXPECT_EQ(eval(container, "String(vis.pixel) + '|' + vis.slot + '|'"), "null||");
}

TEST_F(TMATViewabilityBridgeTest, ScriptsWithOneOrThreePlaceholdersOrNoneStoredDoNotRun) {
    expectLogLine("Viewability JS is not formatted properly");
    expectLogLine("Viewability JS not present");
    for (const char* script : {"window.vis = %@;", "window.vis = [%@, %@, %s];", ""}) {
        storeViewabilityScript(script);
        auto container = addContainer();
        load(container, "");
        EXPECT_EQ(eval(container, "typeof vis"), "undefined") << script;
        EXPECT_EQ(eval(container, "typeof tamarindmobileadsviewablebridge"), "object");
        container->removeFromSuperview();
    }
}

TEST_F(TMATViewabilityBridgeTest, ThrowingOrEndlessScriptsAreLoggedAndThePageGoesOn) {
    expectLogLine("Viewability JS failed: Error: broken function(){ return null; } \"\"");
    expectLogLine("Viewability JS failed: JavaScript execution terminated.");
    JSVirtualMachine::setExecutionTimeLimit(0.1);
    for (const char* script : {"throw new Error('broken %@ %@');", "while (%@ || %@ || true) {}"}) {
        storeViewabilityScript(script);
        auto container = addContainer();
        load(container, "<script>record('page ran');</script>");
        EXPECT_EQ(seenJSON(container), R"([["page ran"]])") << script;
        container->removeFromSuperview();
    }
    JSVirtualMachine::setExecutionTimeLimit(0);
}

TEST_F(TMATViewabilityBridgeTest, ListenersGetChangedRecordsAndANewListenerTheNextOne) {
    auto container = addContainer();
    auto bridges = load(container, kTMATVisListener);
    ASSERT_TRUE(container->viewabilityCalculation()->timerActive());
    measure(container);
    EXPECT_EQ(seenJSON(container), "[" + record(100, 1) + "]");
    measure(container);
    EXPECT_EQ(seenJSON(container), "[" + record(100, 1) + "]");

    // An unchanged value is sent again once a new listener subscribes.
    eval(container, "seen = []; tamarindmobileadsviewablebridge.addEventListener(Event.Viewability,"
                    " function (r) { record('second', r.viewablePercentage); });");
    measure(container);
    EXPECT_EQ(seenJSON(container), "[" + record(100, 1) + R"(,["second",100]])");

    // A hidden container is not viewable.
    eval(container, "seen = [];");
    container->setHidden(true);
    measure(container);
    EXPECT_EQ(seenJSON(container), "[" + record(0, 0) + R"(,["second",0]])");
}

TEST_F(TMATViewabilityBridgeTest, TheListenerCountFollowsRealViewabilityListenersOnly) {
    auto container = addContainer();
    auto bridges = load(container, "");
    auto bridge = bridges->viewabilityBridge();
    eval(container, "var f = function () {}; var b = tamarindmobileadsviewablebridge;"
                    "b.removeEventListener(Event.Viewability, f); b.addEventListener('Other', f);"
                    "b.addEventListener(Event.Viewability, 'f');");
    EXPECT_EQ(bridge->subscribedListeners(), 0u);
    EXPECT_FALSE(bridge->isActive());
    measure(container);
    EXPECT_FALSE(container->viewabilityCalculation()->timerActive());

    eval(container, "b.addEventListener(Event.Viewability, f); b.addEventListener(Event.Viewability, f);");
    EXPECT_EQ(bridge->subscribedListeners(), 2u);
    eval(container, "b.removeEventListener(Event.Viewability, f); b.removeEventListener(Event.Viewability, f);"
                    "b.removeEventListener(Event.Viewability, f);");
    EXPECT_EQ(bridge->subscribedListeners(), 0u);
    EXPECT_FALSE(bridge->isActive());
}
