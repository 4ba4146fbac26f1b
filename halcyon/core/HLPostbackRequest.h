// One persisted postback: its URL (already stamped with "&postback_ts="), an
// optional JSON body (none: sent as a GET) and the number of dispatches
// started so far. Archived by key ("targetURL" as a URL, "requestBody",
// "attemptNumber" as a number) into the postback file. URL and body do not
// change after creation; the attempt number is raised by the postback
// manager under its lock and may be read from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/foundation/NSCoder.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

class HLPostbackRequest : public NSObject, public NSCoding {
public:
    // Attempt 0, the body, and `url`'s text + "&postback_ts=" + now in
    // milliseconds since 1970 (a double's text: it can carry a fraction),
    // appended whether or not the URL has a query. A null URL gives a request
    // without one.
    static Ref<HLPostbackRequest> postbackRequestWithURL(const Ref<NSURL>& url, const Value& requestBody);
    Ref<HLPostbackRequest> initWithURL(Ref<NSURL> targetURL, Value requestBody, int32_t attemptNumber);

    const Ref<NSURL>& targetURL() const { return targetURL_; }
    // A dictionary, or Null for none.
    const Value& requestBody() const { return requestBody_; }
    int32_t attemptNumber() const { return attemptNumber_.load(); }
    void setAttemptNumber(int32_t attempts) { attemptNumber_.store(attempts); }

    // Equal URLs (or both null), equal bodies (or both none), equal attempts.
    bool isEqualToRequest(const HLPostbackRequest& other) const;
    bool isEqual(const NSObject& other) const override;
    // (hash(URL) × 31 + hash(body)) × 31 + attempts, in unsigned 32 bits.
    size_t hash() const override;
    std::string description() const override;

    // A body that is not a dictionary decodes as none; a missing attempt
    // number as 0.
    void encodeWithCoder(NSCoder& coder) const override;
    void initWithCoder(const NSCoder& coder) override;

private:
    Ref<NSURL> targetURL_;
    Value requestBody_;
    std::atomic<int32_t> attemptNumber_{0};
};
