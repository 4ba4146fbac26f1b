// The Halcyon ads an application shows, as a part the Halcyon scenario plays
// once its client runs and its root screen is up, through the public classes
// only: an interstitial (an HTML ad in the dialog over the window) closed by
// its button; a video interstitial whose countdown runs and whose close
// button the user taps once it shows; a rewarded video preloaded, offered
// with the prompt (accepted), validated while it plays, watched to the end,
// confirmed and reported. The user's taps land on the screen where the
// buttons are. Every delegate callback and every alert (its texts and the
// button tapped) goes to the timeline; snapshots/ gets the window with the
// dialog, the video with its clock and close button, and the poststitial.
// Main thread.
#pragma once

#include "halcyon/core/HLSdk.h"
#include "host/Scenario.h"
#include "platform/ui/UIWindow.h"
#include "simulator/HalcyonService.h"

// The scenario's ads: the service's page resources (script, style sheet and
// banner image) in a page with a headline and a call to action, so that the
// snapshots show an ad.
simulator::HalcyonAd halcyonScenarioAd();

// What the embedded service is to answer for the story's ads, before the
// client starts (its start-up preloads the rewarded video): incentivized
// requests get the video, the reward is accepted with a parameter.
void prepareHalcyonDisplayStory(simulator::HalcyonService& service, Timeline& timeline);

// False when the run is to end (a quit request came meanwhile). A service
// given by URL serves what it serves.
bool playHalcyonDisplayStory(ScenarioContext& context, const Ref<HLSdk>& sdk, const Ref<UIWindow>& window);
