#include "platform/foundation/DeviceLocale.h"

#include "platform/foundation/Hook.h"

namespace platform {

namespace {
Hook<DeviceLocaleFacts()>& source() {
    static auto* hook = new Hook<DeviceLocaleFacts()>;  // never destroyed: threads may ask during exit
    return *hook;
}
}  // namespace

void setDeviceLocaleSource(std::function<DeviceLocaleFacts()> fn) { source().set(std::move(fn)); }

DeviceLocaleFacts deviceLocaleFacts() {
    const auto fn = source().get();
    return fn ? (*fn)() : DeviceLocaleFacts();
}

}  // namespace platform
