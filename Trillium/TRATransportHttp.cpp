#include "Trillium/TRATransportHttp.h"

#include "Trillium/TRAWireContract.h"
#include "platform/foundation/DeviceProfile.h"
#include "platform/foundation/NSURL.h"
#include "platform/net/NSURLConnection.h"
#include "platform/runtime/NSOperationQueue.h"

namespace {

// Printable ASCII that may stand in URL text, beyond what the escaping
// primitive always keeps; "%" and "#" stay so that existing escapes and a
// fragment survive.
constexpr std::string_view kLegalInUrl = "%#";

}  // namespace

Ref<NSMutableURLRequest> TRATransportHttp::createRequest(std::string_view urlText) {
    Ref<NSURL> url = NSURL::URLWithString(urlText);
    if (!url) url = NSURL::URLWithString(platform::addPercentEscapes(urlText, kLegalInUrl));
    auto request = NSMutableURLRequest::requestWithURL(url, NSURLRequestUseProtocolCachePolicy, kTimeout);
    request->setHTTPMethod("GET");
    request->setValue("charset=utf-8", "Content-Type");
    // The web view's User-Agent is the device's own.
    request->setValue(platform::DeviceProfile::current().effectiveUserAgent(), "User-Agent");
    // No answer of the ad platform is longer: a longer one fails before it is
    // read into memory. The platform's total time-out ends a dripping answer.
    request->setMaximumResponseLength(static_cast<int64_t>(TRAWire::kMaximumAnswerBytes));
    return request;
}

void TRATransportHttp::sendAsynchronousRequest(std::string_view urlText, Completion completion) {
    NSURLConnection::sendAsynchronousRequest(
        createRequest(urlText), NSOperationQueue::mainQueue(),
        [completion = std::move(completion)](Ref<NSURLResponse> response, std::optional<NSData> data,
                                             Ref<NSError> error) {
            if (completion) completion(std::dynamic_pointer_cast<NSHTTPURLResponse>(response), std::move(data), error);
        });
}
