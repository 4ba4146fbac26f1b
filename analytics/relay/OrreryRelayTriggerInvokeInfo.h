// One firing of partner callbacks by one trigger: which trigger, in which
// session, and a callback record per fired callback. Archivable (inside the
// report manager's archive) and copyable; its trigger block, holding the
// callback and attempt blocks, goes into the callback report.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analytics/relay/OrreryRelayCallbackReportInfo.h"
#include "platform/foundation/NSCoder.h"
#include "platform/foundation/NSData.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

// Kinds of trigger, as the callback report carries them.
enum OrreryRelayTriggerType : int32_t {
    OrreryRelayTriggerTypeOther = 0,         // no built-in name and no "eventLogId" parameter
    OrreryRelayTriggerTypeAppInstall = 1,    // "orrery.app_install"
    OrreryRelayTriggerTypeSessionStart = 2,  // "orrery.session_start"
    OrreryRelayTriggerTypeSessionEnd = 3,    // "orrery.session_end"
    OrreryRelayTriggerTypeEvent = 4,         // a logged analytics event (parameters carry "eventLogId")
};

class OrreryRelayTriggerInvokeInfo : public NSObject, public NSCoding {
public:
    using Callbacks = std::vector<Ref<OrreryRelayCallbackReportInfo>>;

    Ref<OrreryRelayTriggerInvokeInfo> init() { return self<OrreryRelayTriggerInvokeInfo>(); }
    // The plain-dictionary form under the archive keys.
    Ref<OrreryRelayTriggerInvokeInfo> initWithDictionary(const Value& dictionary);
    Value dataDictionary() const;
    // Every field copied; `callbacks` is a new list holding the same records.
    Ref<OrreryRelayTriggerInvokeInfo> copy() const;

    void encodeWithCoder(NSCoder& coder) const override;
    void initWithCoder(const NSCoder& coder) override;

    // The trigger block for the callback report, or nothing when no callback
    // record has anything to report (or the list has a hole).
    std::optional<NSData> data();
    // Every callback record marks its attempts written into a report as handed over.
    void setCBAttemptsSent();
    // Every callback record drops its handed-over attempts; records left
    // without attempts are removed. Returns the number of attempts left.
    size_t removeSentCBAttempts();
    // Removes the callback records whose attempt list is empty.
    void removeCompletedCallbacks();

    // A new firing id for a firing at `now` (seconds since 1970): the time
    // with "%f", then a running number, so that firings in one clock instant
    // differ. Unique within the process.
    static std::string newInvokeId(double now);
    // The firing time read back from the id; nothing when it holds none.
    std::optional<double> firingTime() const;

    std::optional<std::string> invokeId() const;
    void setInvokeId(std::optional<std::string> v);
    int32_t triggerType() const;
    void setTriggerType(int32_t v);
    // Start of the analytics session, milliseconds since 1970.
    int64_t sessionId() const;
    void setSessionId(int64_t v);
    // Milliseconds from the session start to the firing.
    int64_t sessionOffset() const;
    void setSessionOffset(int64_t v);
    bool includesEventTrigger() const;
    void setIncludesEventTrigger(bool v);
    int64_t eventOccuranceId() const;
    void setEventOccuranceId(int64_t v);
    std::optional<std::string> eventName() const;
    void setEventName(std::optional<std::string> v);
    // A snapshot of the list.
    Callbacks callbacks() const;
    void setCallbacks(Callbacks callbacks);
    void addCallback(Ref<OrreryRelayCallbackReportInfo> callback);

private:
    std::optional<std::string> invokeId_;
    int32_t triggerType_ = OrreryRelayTriggerTypeOther;
    int64_t sessionId_ = 0;
    int64_t sessionOffset_ = 0;
    bool includesEventTrigger_ = true;  // set on every record created
    int64_t eventOccuranceId_ = 0;
    std::optional<std::string> eventName_;
    Callbacks callbacks_;
};
