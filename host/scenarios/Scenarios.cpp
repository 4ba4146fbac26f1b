#include "host/scenarios/Scenarios.h"

#include "platform/ui/UIApplication.h"

// Each scenario's make function, defined in its own file.
std::unique_ptr<Scenario> makeStartupScenario();
std::unique_ptr<Scenario> makeHalcyonScenario();
std::unique_ptr<Scenario> makeTrilliumScenario();
std::unique_ptr<Scenario> makeTamarindScenario();

const std::vector<ScenarioInfo>& ScenarioRegistry::all() {
    static const std::vector<ScenarioInfo> scenarios = {
        {"startup", "the application's start-up and lifecycle, with Relay (default)", makeStartupScenario},
        {"halcyon", "an application starting the Halcyon client: start-up, device data, retries", makeHalcyonScenario},
        {"trillium", "a Trillium splash and its ad; the return ad shown, clicked, followed; a banner; native ads",
         makeTrilliumScenario},
        {"tamarind", "an application showing Tamarind template interstitials: modal with MRAID, then modeless",
         makeTamarindScenario},
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

void snapshotScenarioWindow(ScenarioContext& context, const Ref<UIWindow>& window, const std::string& name) {
    const std::string path = context.snapshotsFolder() + "/" + name;
    if (window && window->snapshotPNG(path)) context.timeline().add("host", "snapshot " + path);
    else context.timeline().add("host", "snapshot " + name + " could not be written");
}
