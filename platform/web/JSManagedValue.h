// A script value a native object keeps without a reference cycle through the
// context. On its own a managed value holds its value weakly: the engine may
// collect it once nothing else refers to it. While an owner holds it through
// JSVirtualMachine::addManagedReference, it is kept alive. It reads
// undefined once collected or once its context has been torn down.
#pragma once

#include <memory>

#include "platform/runtime/NSObject.h"
#include "platform/web/JSValue.h"

namespace platform {

namespace web {
struct WeakSlot;
}

class JSManagedValue : public NSObject {
public:
    static Ref<JSManagedValue> alloc() { return std::make_shared<JSManagedValue>(); }
    static Ref<JSManagedValue> managedValueWithValue(const JSValue& value);
    Ref<JSManagedValue> initWithValue(const JSValue& value);
    ~JSManagedValue() override;

    // The value; undefined once it was collected or its context is gone.
    // Values that are not objects (numbers, strings, …) are never collected.
    JSValue value() const;

private:
    friend class JSVirtualMachine;
    // An owner took / let go of a managed reference (main thread).
    void retainForOwner();
    void releaseForOwner();

    std::shared_ptr<web::WeakSlot> weak_;  // objects: the engine's weak handle
    JSValue strong_;                       // kept while owned; non-objects always
    int owners_ = 0;
};

}  // namespace platform

using platform::JSManagedValue;
