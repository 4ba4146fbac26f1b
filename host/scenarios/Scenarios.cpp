#include "host/scenarios/Scenarios.h"

#include "platform/ui/UIApplication.h"

// Each scenario's make function, defined in its own file.
std::unique_ptr<Scenario> makeStartupScenario();
std::unique_ptr<Scenario> makeHalcyonScenario();
std::unique_ptr<Scenario> makeTrilliumScenario();
std::unique_ptr<Scenario> makeTamarindScenario();

const std::vector<ScenarioInfo>& ScenarioRegistry::all() {
    static const std::vector<ScenarioInfo> scenarios = {
        {"startup", makeStartupScenario, {"trillium", "relay"}},
        {"halcyon", makeHalcyonScenario, {"halcyon"},
         {{{"returned 503", "server failure (code 503)"},
           "the embedded Halcyon service refuses the first device-data submission (retried 10 s later) and every "
           "try of the rewarded video's end postback (left stored for the next run on a kept home), to show the "
           "client's retries"},
          {{"interstitial adService:didLoadAd: "},
           "another ad than the application's interstitial load got: the client hands each interstitial it "
           "preloads out once and preloads another in its place (only a size that refreshes, as the banner, keeps "
           "its ad); that load took the one preloaded at start-up, and this show takes the one preloaded after it"}}},
        {"trillium", makeTrilliumScenario, {"trillium"},
         {{{"Native ad image is not a picture", "image refused:"},
           "the embedded Trillium service's native ads name one missing image and one broken one on purpose"}}},
        {"tamarind", makeTamarindScenario, {"tamarind"},
         {{{"Bridge subclass did not implement insertEventsInContext"},
           "the client's MRAID bridge adds no events of its own to the page, and says so for each ad it shows"},
          {{"Unable to expand an intersitial ad placement"},
           "the scenario's creative asks MRAID to expand, which an interstitial, full-screen already, refuses"},
          {{"Viewability JS not present"},
           "an ad that shows before the viewability script named by the configuration has been fetched and "
           "stored is not measured; later ads are"}}},
    };
    return scenarios;
}

const ScenarioInfo* ScenarioRegistry::find(std::string_view name) {
    for (const ScenarioInfo& info : all())
        if (name == info.name) return &info;
    return nullptr;
}

void quitScenarioApplication(ScenarioContext& context) {
    auto app = UIApplication::sharedApplication();
    context.timeline().add("host", "quit: the user leaves the application and the system ends it");
    if (app->applicationState() != UIApplicationStateBackground) app->simulateEnterBackground();
    app->simulateTerminate();
    context.settle();
}

void snapshotScenarioScreen(ScenarioContext& context, const Ref<UIWindow>& window, const Ref<UIView>& screen,
                            const std::string& what, const std::string& name) {
    bool shows = window && screen;
    for (Ref<UIView> view = screen; shows && view; view = view->superview())
        shows = !view->isHidden() && view->alpha() > 0.01f && (view->superview() || view == window);
    if (!shows) {
        context.timeline().add("host", "no snapshot " + name + ": " + what + " did not show");
        return;
    }
    const std::string path = context.snapshotsFolder() + "/" + name;
    if (window->snapshotPNG(path)) context.timeline().add("host", "snapshot " + path);
    else context.timeline().add("host", "snapshot " + name + " could not be written");
}

void snapshotScenarioWindow(ScenarioContext& context, const Ref<UIWindow>& window, const std::string& name) {
    snapshotScenarioScreen(context, window, window, "the window", name);
}
