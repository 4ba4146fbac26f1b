#include "host/scenarios/Scenarios.h"

#include "platform/ui/UIApplication.h"

// Each scenario's make function, defined in its own file.
std::unique_ptr<Scenario> makeStartupScenario();
std::unique_ptr<Scenario> makeHalcyonScenario();
std::unique_ptr<Scenario> makeTrilliumScenario();
std::unique_ptr<Scenario> makeTamarindScenario();

const std::vector<ScenarioInfo>& ScenarioRegistry::all() {
    static const std::vector<ScenarioInfo> scenarios = {
        {"startup", "the application's start-up and lifecycle, with Relay (default)", makeStartupScenario,
         {"trillium", "relay"}},
        {"halcyon", "an application starting the Halcyon client: start-up, device data, retries", makeHalcyonScenario,
         {"halcyon"}},
        {"trillium", "a Trillium splash and its ad; the return ad shown, clicked, followed; a banner; native ads",
         makeTrilliumScenario, {"trillium"}},
        {"tamarind", "an application showing Tamarind template interstitials: modal with MRAID, then modeless",
         makeTamarindScenario, {"tamarind"}},
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
