// Application events as event pixels: a URL on the event endpoint (slot 100)
// whose query describes the device, the application and the event, posted
// with the event's parameters as a JSON body, through the persisted
// postback queue (so events survive failures and restarts). "landing" is
// tracked at every start; "checkout" and "iap" carry their transaction keys.
// Types outside slot 111's list go out as "postinstall" with "sub_event".
// Nothing is sent while slot 112 is off. Any thread; the work is done on the
// caller's thread up to the hand-over to the postback queue.
// Owned by HLSdk, which it keeps weakly.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "halcyon/core/HLEvent.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class HLSdk;

class HLEventService : public NSObject {
public:
    Ref<HLEventService> initWithSdk(const Ref<HLSdk>& sdk);

    void trackEvent(const std::string& eventType);
    // Parameters: a dictionary (or Null); see sanitizeEventParameters.
    void trackEvent(const std::string& eventType, const Value& parameters);
    // "checkout" with "transaction_id" (when given) added to the parameters.
    void trackCheckoutWithTransactionIdentifier(const std::optional<std::string>& transactionIdentifier,
                                                const Value& parameters);
    // "iap" with "store_id" (when given) and "receipt_data" (the store
    // receipt's bytes, unless the caller gave one or it cannot be read).
    void trackInAppPurchaseWithTransactionIdentifier(const std::optional<std::string>& transactionIdentifier,
                                                     const Value& parameters);
    void track(const Ref<HLEvent>& event);

    // The pixel URL (without the postback time stamp); null when slot 100
    // with the query is no URL.
    Ref<NSURL> postbackURLForEvent(const Ref<HLEvent>& event);
    // Keys and values as strings (HLUtils::coerceString); an entry of another
    // kind is left out with a user-error line. Always a dictionary.
    Value sanitizeEventParameters(const Value& parameters);
    // Slot 111 split at ",", read once, at the first event, from the
    // settings as loaded at start: a server change applies at the next start.
    std::vector<std::string> topLevelEventTypes();

private:
    Weak<HLSdk> sdk_;
    std::once_flag topLevelOnce_;
    std::vector<std::string> topLevelEventTypes_;  // written once, under topLevelOnce_
};
