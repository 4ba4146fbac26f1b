#include "Trillium/display/TRASplashScreenHtml.h"

#include "Trillium/TRALog.h"
#include "platform/foundation/NSURL.h"

namespace {

// Generated at configure time from TRASplashScreenHtml.html.
constexpr const char kEncodedSplashScreenHtml[] =
#include "TRASplashScreenHtmlEncoded.inc"
    ;

}  // namespace

const char* TRASplashScreenHtml::encodedSplashScreenHtml() { return kEncodedSplashScreenHtml; }

std::string TRASplashScreenHtml::getSplashScreenHtml() {
    static const std::string decoded = [] {
        std::optional<std::string> text = NSString::stringByReplacingPercentEscapesUsingEncoding(kEncodedSplashScreenHtml);
        if (!text) TRALog::error("The splash page template does not decode; the page is empty.");
        return text.value_or("");
    }();
    return decoded;
}
