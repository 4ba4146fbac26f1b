// The scenarios `--scenario NAME` picks from (without it, every one is
// played). Adding one takes a file in this folder (a class deriving from
// Scenario, see host/Scenario.h, and a function that makes it), one entry in
// the list of Scenarios.cpp and its lines in host/usage.txt; CMake picks up
// every .cpp file here by itself.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/Scenario.h"
#include "platform/ui/UIWindow.h"

// Lines a clean run against the embedded services shows that read like
// failures or mistakes, and why they are expected (see Timeline::expect).
struct ScenarioExpectedLines {
    std::vector<std::string> fragments;
    std::string why;
};

struct ScenarioInfo {
    const char* name;
    std::unique_ptr<Scenario> (*make)();
    // The services it talks to ("trillium", "relay" with its "partner",
    // "halcyon", "tamarind"): the runner starts only these.
    std::vector<std::string> services;
    // Told on the timeline when every service it uses is embedded.
    std::vector<ScenarioExpectedLines> expected = {};
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
    // In the order they are played; the first is the one --exit-when-idle plays.
    static const std::vector<ScenarioInfo>& all();
    // Null for an unknown name.
    static const ScenarioInfo* find(std::string_view name);
};
