// NSData::dataWithContentsOfURL lives here: it needs URL loading.
#include "platform/foundation/NSData.h"
#include "platform/net/NSURLConnection.h"

namespace platform {

std::optional<NSData> NSData::dataWithContentsOfURL(const std::shared_ptr<NSURL>& url) {
    if (!url) return std::nullopt;
    return NSURLConnection::sendSynchronousRequest(*NSURLRequest::requestWithURL(url), nullptr, nullptr);
}

}  // namespace platform
