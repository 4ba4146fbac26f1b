// The Trillium video ad, as a part any scenario can play once the
// application has launched: the embedded Trillium service serves a video ad
// (its page names an MP4 file of the service and the service's video-event
// URLs, all reached through the recording proxy); a public TRATrilliumAd
// loads it, which downloads the file into the video store; the ad is shown,
// plays to its end on the application clock and closes itself (post-roll
// "NONE"); a snapshot of the screen is taken while it plays, and the video
// events the service received are written to the timeline. Main thread.
#pragma once

#include "host/Scenario.h"

// False when the run is to end (a quit request came meanwhile). Without the
// embedded service (a Trillium URL was given) it only says so on the timeline.
bool playTrilliumVideoAd(ScenarioContext& context);
