#include "platform/web/JSManagedValue.h"

namespace platform {

Ref<JSManagedValue> JSManagedValue::managedValueWithValue(const JSValue& value) {
    return alloc()->initWithValue(value);
}

Ref<JSManagedValue> JSManagedValue::initWithValue(const JSValue& value) {
    value_ = value;
    return std::static_pointer_cast<JSManagedValue>(shared_from_this());
}

}  // namespace platform
