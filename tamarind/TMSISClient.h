// Device identity registration with the identity service (the configuration's
// "sisHost" followed by "/api3/…"): generates the device identity, or updates
// the device facts under it, and registers the application's start, each at
// most once per registration interval (kept across restarts in the user
// defaults; a failure is retried at the next bootstrap). One bootstrap runs
// at a time in the process; a client keeps itself alive until its
// bootstrap ends.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"
#include "platform/runtime/NSObject.h"

// Optional; main thread, at most one call per bootstrap, never on the
// caller's stack.
class TMSISClientDelegate : public virtual NSObjectProtocol {
public:
    // The exchanges that were due succeeded; `deviceId` is the identity.
    virtual void sisClientDidBootstrapDevice(const std::string& deviceId) { (void)deviceId; }
    // One failed; the next bootstrap tries again.
    virtual void sisClientDidFailWithError(Ref<NSError> error) { (void)error; }
};

class TMSISClient : public NSObject {
public:
    Ref<TMSISClient> init() { return self<TMSISClient>(); }

    // Held weakly.
    void setDelegate(const Ref<TMSISClientDelegate>& delegate) { delegate_ = delegate; }
    Ref<TMSISClientDelegate> delegate() const { return delegate_.lock(); }

    // Any thread. Does nothing without an identity service, when nothing is
    // due, or while another bootstrap runs.
    void bootstrapDevice();

    // The registered device identity; nullopt before one was generated.
    static std::optional<std::string> deviceIdentifier();
    // The device facts sent with identity and ad requests (the "device"
    // object of the wire contract), with "deviceId" when asked and known.
    static Value deviceDescription(bool withDeviceId);

private:
    void registerDevice(const std::string& sisHost, const std::optional<std::string>& deviceId, bool eventsDue);
    void registerEvents(const std::string& sisHost, const std::string& deviceId);
    void finish(const std::optional<std::string>& deviceId, const Ref<NSError>& error);

    Weak<TMSISClientDelegate> delegate_;
};
