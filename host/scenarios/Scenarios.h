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
    // The services it talks to ("trillium", "relay" with its "partner",
    // "halcyon", "tamarind"): the runner starts only these.
    std::vector<std::string> services;
};

// The usual end of a scenario: the user leaves the application (when it is
// not in the background already), the system ends it, and what is under way
// finishes. Told on the timeline.
void quitScenarioApplication(ScenarioContext& context);

// Writes a PNG snapshot of the window to the snapshots folder as `name` when
// `screen` shows in it (in the window, nothing above it hidden), and tells the
// timeline where it went; a screen that did not show (`what` names it) is
// said on the timeline instead, and nothing is written.
void snapshotScenarioScreen(ScenarioContext& context, const Ref<UIWindow>& window, const Ref<UIView>& screen,
                            const std::string& what, const std::string& name);
// The same for a window whose topmost screen is what the user sees.
void snapshotScenarioWindow(ScenarioContext& context, const Ref<UIWindow>& window, const std::string& name);

class ScenarioRegistry {
public:
    // In the order --help lists them; the first is the default.
    static const std::vector<ScenarioInfo>& all();
    // Null for an unknown name.
    static const ScenarioInfo* find(std::string_view name);
};
