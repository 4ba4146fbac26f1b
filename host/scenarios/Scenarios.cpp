#include "host/scenarios/Scenarios.h"

// Each scenario's make function, defined in its own file.
std::unique_ptr<Scenario> makeStartupScenario();

const std::vector<ScenarioInfo>& ScenarioRegistry::all() {
    static const std::vector<ScenarioInfo> scenarios = {
        {"startup", "the application's start-up and lifecycle, with Relay (default)", makeStartupScenario},
    };
    return scenarios;
}

const ScenarioInfo* ScenarioRegistry::find(std::string_view name) {
    for (const ScenarioInfo& info : all())
        if (name == info.name) return &info;
    return nullptr;
}
