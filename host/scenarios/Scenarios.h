// The scenarios `--scenario NAME` picks from. Adding one takes a file in this
// folder (a class deriving from Scenario, see host/Scenario.h, and a function
// that makes it) and one entry in the list of Scenarios.cpp; CMake picks up
// every .cpp file here by itself.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/Scenario.h"
#include "platform/ui/UIWindow.h"

struct ScenarioInfo {
    const char* name;
    const char* summary;  // one line for --help
    std::unique_ptr<Scenario> (*make)();
};

// The usual end of a scenario: the user leaves the application (when it is
// not in the background already), the system ends it, and what is under way
// finishes. Told on the timeline.
void quitScenarioApplication(ScenarioContext& context);

// Writes a PNG snapshot of the window to the snapshots folder as `name` and
// tells the timeline where it went (or that it could not be written).
void snapshotScenarioWindow(ScenarioContext& context, const Ref<UIWindow>& window, const std::string& name);

class ScenarioRegistry {
public:
    // In the order --help lists them; the first is the default.
    static const std::vector<ScenarioInfo>& all();
    // Null for an unknown name.
    static const ScenarioInfo* find(std::string_view name);
};
