// The HTML splash page's template: a document with the application's icon
// and name over a themed background, two loaders, and the script that takes
// the values the splash screen fills in (each a variable declared as
// name = "#marker#") and runs the 2 s exit, splash_fadeout(), which ends in
// "trilliumad://closeSplash". Kept percent-encoded in the library (the
// readable page is TRASplashScreenHtml.html beside this file).
#pragma once

#include <string>

#include "platform/runtime/NSObject.h"

class TRASplashScreenHtml : public NSObject {
public:
    // The decoded page.
    static std::string getSplashScreenHtml();
    // The template as the library keeps it.
    static const char* encodedSplashScreenHtml();
};
