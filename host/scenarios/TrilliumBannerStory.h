// The Trillium banner and native ads, as a part a scenario plays once the
// application has launched and its root screen is up. The embedded service
// serves its banner pages (a different one per load), its native answer and
// images. A bottom banner goes over the root screen and refreshes on the
// application clock; the user taps it (the click is reported and the landing
// page opens in the in-app browser, which the user closes) and turns the
// device once (the banner follows). Then native ads are loaded with
// preferences, given a tag and read; one record is shown and tapped. Every
// callback goes to the timeline. (No snapshot: the platform's web views draw
// no page.) Main thread.
#pragma once

#include "host/Scenario.h"

// False when the run is to end (a quit request came meanwhile). A service
// given by URL serves what it serves.
bool playTrilliumBannerAndNativeAds(ScenarioContext& context);
