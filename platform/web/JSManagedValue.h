// A script value a native object keeps without a reference cycle through the
// context: it lives as long as the managed value and its context do, and
// reads undefined once the context has been torn down.
#pragma once

#include "platform/runtime/NSObject.h"
#include "platform/web/JSValue.h"

namespace platform {

class JSManagedValue : public NSObject {
public:
    static Ref<JSManagedValue> alloc() { return std::make_shared<JSManagedValue>(); }
    static Ref<JSManagedValue> managedValueWithValue(const JSValue& value);
    Ref<JSManagedValue> initWithValue(const JSValue& value);

    // Undefined after the context's tear-down.
    JSValue value() const { return value_; }

private:
    JSValue value_;
};

}  // namespace platform

using platform::JSManagedValue;
