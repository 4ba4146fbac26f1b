// The Trillium banner and native ads, as a part a scenario plays once the
// application has launched and its root screen is up. The embedded service
// serves its banner pages (a different one per load), its native answer and
// images. A bottom banner goes over the root screen and refreshes on the
// application clock; the user taps it (the click is reported and the landing
// page opens in the in-app browser, which the user closes) and turns the
// device once (the banner follows). Then native ads are loaded with
// preferences, given a tag and read, laid out on the root screen (icon,
// title, rating and image per record); one record is shown and tapped. Every
// callback goes to the timeline; snapshots/ gets the banner over the root
// screen and the native records as the application shows them. Main thread.
#pragma once

#include <string>

#include "host/Scenario.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"

// False when the run is to end (a quit request came meanwhile). A service
// given by URL serves what it serves.
bool playTrilliumBannerAndNativeAds(ScenarioContext& context);

// A line of text of the application's own screens in the Trillium stories,
// added to `parent`.
Ref<UILabel> addTrilliumStoryLabel(const Ref<UIView>& parent, const std::string& text, CGRect frame,
                                   Ref<UIFont> font, Ref<UIColor> colour);
