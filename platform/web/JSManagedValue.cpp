#include "platform/web/JSManagedValue.h"

#include "platform/web/JSEngine.h"

namespace platform {

Ref<JSManagedValue> JSManagedValue::managedValueWithValue(const JSValue& value) {
    return alloc()->initWithValue(value);
}

Ref<JSManagedValue> JSManagedValue::initWithValue(const JSValue& value) {
    const auto& slot = web::EngineAccess::slot(value);
    JSValueRef ref = web::EngineAccess::ref(value);
    if (slot && ref && JSValueIsObject(slot->core->ctx, ref)) {
        weak_ = web::WeakSlot::make(slot->core, const_cast<JSObjectRef>(ref));
    } else {
        strong_ = value;
    }
    return std::static_pointer_cast<JSManagedValue>(shared_from_this());
}

JSManagedValue::~JSManagedValue() = default;

JSValue JSManagedValue::value() const {
    if (!weak_ || owners_ > 0) return strong_;
    return weak_->get();
}

void JSManagedValue::retainForOwner() {
    if (++owners_ == 1 && weak_) strong_ = weak_->get();  // undefined when already collected
}

void JSManagedValue::releaseForOwner() {
    if (owners_ == 0) return;
    if (--owners_ == 0 && weak_) strong_ = JSValue();
}

}  // namespace platform
