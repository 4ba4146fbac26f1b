// Sends the device and application facts, the targeting values and the
// counters to the API path "device" once per start (queue 0), retrying per
// slot 6, and stores the identifiers the answer returns (slots 2 to 5,
// persisted). A refusal of the key is handled by HLConnectionUtils; an answer
// without all four identifiers is a failure with code 0 and stores nothing.
// While the preferences cannot be read (the stored identity with them), it
// is handed to queue 1 again every kStoreReadWaitSeconds until they read.
#pragma once

#include <cstdint>

#include "halcyon/core/HLConnectionManager.h"
#include "halcyon/core/HLTask.h"
#include "platform/foundation/Value.h"

class HLTaskAPISubmitData : public HLTask, public HLConnectionManagerDelegate {
public:
    static constexpr double kStoreReadWaitSeconds = 2.0;

    Ref<HLTaskAPISubmitData> initWithSdk(const Ref<HLSdk>& sdk) {
        HLTask::initWithSdk(sdk);
        return self<HLTaskAPISubmitData>();
    }

    void run() override;
    // The body; "first_install" turns from "true" to "false" in the store as
    // it is built, so "true" goes out at most once.
    Value submissionBody();

    uint32_t attemptsLeft() const { return attemptsLeft_; }
    void setAttemptsLeft(uint32_t attempts) { attemptsLeft_ = attempts; }

    // The outcome of the request chain: on queue 0 for the first attempt, on
    // queue 1 for a retried one.
    void connectionViaDidSucceedWith(const Ref<HLConnectionManager>& manager, int64_t code,
                                     const Value& responseBody) override;
    void connectionViaDidFailWith(const Ref<HLConnectionManager>& manager, int64_t code) override;

private:
    uint32_t attemptsLeft_ = 0;
    bool waitLogged_ = false;  // the wait for the preferences was logged
};
