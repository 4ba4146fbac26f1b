// Registers the Trillium client's display-side classes (lifecycle manager,
// lifecycle requests, full-screen ad objects, HTML ad screen, click
// follower, in-app browser, store sheet) with the class registry, and plugs
// them into the core's display slots, so that the entry point brings the
// lifecycle manager into being, the ad cache loads full-screen ads, a loaded
// ad shows in a real screen and clicks open the in-app browser. Also
// registers the core's classes. Call before the entry point is first used.
#pragma once

void registerTrilliumDisplayClasses();
