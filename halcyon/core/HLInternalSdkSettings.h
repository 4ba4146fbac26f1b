// Publisher settings with direct slot overrides and a log listener: how tests
// and the demo point the client at local services (slots 11, 12, 100, 31) and
// hear its log. Applied once, while the SDK is created, when slot 0
// ("honor_publisher_settings") is on. Overrides of slots outside 0…157 and
// values other than strings and numbers are refused with a log line.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "halcyon/core/HLLogManager.h"
#include "halcyon/core/HLSdkSettings.h"
#include "platform/foundation/Value.h"

class HLInternalSdkSettings : public HLSdkSettings {
public:
    Ref<HLInternalSdkSettings> init() { return self<HLInternalSdkSettings>(); }

    // Slot number to value, applied in slot order.
    const std::map<int64_t, Value>& overriddenSettings() const { return overridden_; }
    std::map<int64_t, Value>& overriddenSettings() { return overridden_; }
    // Held strongly, and handed to the SDK's log manager.
    const Ref<HLLogListenerDelegate>& listener() const { return listener_; }
    void setListener(Ref<HLLogListenerDelegate> listener) { listener_ = std::move(listener); }

    void putString(std::string value, int64_t slot) { overridden_[slot] = Value(std::move(value)); }
    void putInt(int32_t value, int64_t slot) { overridden_[slot] = Value(value); }
    void putLong(int64_t value, int64_t slot) { overridden_[slot] = Value(static_cast<long long>(value)); }
    void putBool(bool value, int64_t slot) { overridden_[slot] = Value(value); }

private:
    std::map<int64_t, Value> overridden_;
    Ref<HLLogListenerDelegate> listener_;
};
