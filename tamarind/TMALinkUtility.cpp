#include "tamarind/TMALinkUtility.h"

#include "platform/foundation/NSRegularExpression.h"
#include "platform/foundation/NSString.h"
#include "platform/runtime/Log.h"
#include "tamarind/TMAWireContract.h"
#include "tamarind/TMLog.h"

Ref<TMALinkUtility> TMALinkUtility::sharedLinkUtility() {
    // Never destroyed: other threads may use it during exit.
    static Ref<TMALinkUtility>& shared = *new Ref<TMALinkUtility>(NSObject::alloc<TMALinkUtility>());
    return shared;
}

int TMALinkUtility::actionForURL(const Ref<NSURL>& url) const {
    if (!url) return TMALinkActionNone;
    std::string scheme = NSString::lowercaseString(url->scheme());
    std::string host = NSString::lowercaseString(url->host());
    if (scheme == TMAWire::kPrivateScheme) return host == TMAWire::kIntentHost ? TMALinkActionIntent : TMALinkActionPrivate;
    if (scheme != "http" && scheme != "https") return TMALinkActionNone;
    for (const char* storeHost : TMAWire::kAppStoreHosts)
        if (host == storeHost) return TMALinkActionStore;
    return TMALinkActionWeb;
}

std::optional<std::string> TMALinkUtility::appStoreIdFromURL(const Ref<NSURL>& url) const {
    if (actionForURL(url) != TMALinkActionStore) {
        TMLog::logWarn("Not a store link: %@", url ? platform::urlForLog(url->absoluteString()) : "(null)");
        return std::nullopt;
    }
    static Ref<NSRegularExpression> pattern =
        NSRegularExpression::regularExpressionWithPattern(TMAWire::kAppStoreIdPattern, 0, nullptr);
    std::string last = url->lastPathComponent();
    auto match = pattern ? pattern->firstMatchInString(last, 0, NSRange{0, last.size()}) : nullptr;
    if (!match || match->numberOfRanges() < 2) {
        TMLog::logWarn("No store identifier in the store link %@", platform::urlForLog(url->absoluteString()));
        return std::nullopt;
    }
    NSRange group = match->rangeAtIndex(1);
    return last.substr(group.location, group.length);
}
