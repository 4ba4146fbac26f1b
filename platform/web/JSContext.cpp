#include "platform/web/JSContext.h"

#include "platform/runtime/NSThread.h"
#include "platform/web/JSEngine.h"
#include "platform/web/JSVirtualMachine.h"

namespace platform {

using web::EngineAccess;
using web::EngineEntry;
using web::JSString;

Ref<JSContext> JSContext::init() {
    assertMainThread("JSContext::init");
    if (core_) return self<JSContext>();
    core_ = std::make_shared<web::ContextCore>();
    core_->owner = self<JSContext>();
    JSGlobalContextRef ctx = JSGlobalContextCreateInGroup(web::contextGroup(), nullptr);
    core_->ctx = ctx;
    // Native functions get Function.prototype, so call, apply and bind work on them.
    JSObjectRef global = JSContextGetGlobalObject(ctx);
    JSValueRef function = JSObjectGetProperty(ctx, global, JSString("Function").get(), nullptr);
    if (function && JSValueIsObject(ctx, function)) {
        JSValueRef prototype = JSObjectGetProperty(ctx, JSValueToObject(ctx, function, nullptr),
                                                   JSString("prototype").get(), nullptr);
        if (prototype && JSValueIsObject(ctx, prototype)) {
            core_->functionPrototype = JSValueToObject(ctx, prototype, nullptr);
            JSValueProtect(ctx, core_->functionPrototype);
        }
    }
    return self<JSContext>();
}

JSContext::~JSContext() {
    if (core_) core_->tearDown();
}

void JSContext::invalidate() {
    assertMainThread("JSContext::invalidate");
    if (core_) core_->tearDown();
}

bool JSContext::isValid() const { return core_ && core_->alive(); }

JSValue JSContext::evaluateScript(const std::string& script, std::optional<std::string> sourceURL) {
    assertMainThread("JSContext::evaluateScript");
    if (!isValid()) return JSValue();
    auto core = core_;
    EngineEntry entry(core);
    JSValueRef exception = nullptr;
    JSString source(script);
    std::optional<JSString> url;
    if (sourceURL) url.emplace(*sourceURL);
    JSValueRef result = JSEvaluateScript(core->ctx, source.get(), nullptr, url ? url->get() : nullptr, 1, &exception);
    if (exception) {
        core->reportException(exception, sourceURL.value_or(""));
        return JSValue();
    }
    return core->wrap(result);
}

JSValue JSContext::objectForKeyedSubscript(const std::string& name) {
    assertMainThread("JSContext::objectForKeyedSubscript");
    if (!isValid()) return JSValue();
    JSValueRef exception = nullptr;
    JSValueRef value =
        JSObjectGetProperty(core_->ctx, JSContextGetGlobalObject(core_->ctx), JSString(name).get(), &exception);
    if (exception) {
        core_->reportException(exception);
        return JSValue();
    }
    return core_->wrap(value);
}

namespace {
void setGlobal(web::ContextCore& core, const std::string& name, JSValueRef value) {
    JSValueRef exception = nullptr;
    JSObjectSetProperty(core.ctx, JSContextGetGlobalObject(core.ctx), JSString(name).get(), value,
                        kJSPropertyAttributeNone, &exception);
    if (exception) core.reportException(exception);
}
}  // namespace

void JSContext::setObject(const JSValue& value, const std::string& name) {
    assertMainThread("JSContext::setObject");
    if (!isValid()) return;
    JSValueRef ref = EngineAccess::ref(value);
    setGlobal(*core_, name, ref ? ref : JSValueMakeUndefined(core_->ctx));
}

void JSContext::setObject(const Value& value, const std::string& name) {
    assertMainThread("JSContext::setObject");
    if (!isValid()) return;
    setGlobal(*core_, name, core_->fromValue(value));
}

void JSContext::setExportedObject(const Ref<JSExport>& object, const std::string& name) {
    assertMainThread("JSContext::setObject");
    if (!isValid()) return;
    setGlobal(*core_, name, object ? core_->wrapperFor(object) : JSValueMakeNull(core_->ctx));
}

JSValue JSContext::globalObject() {
    if (!isValid()) return JSValue();
    return core_->wrap(JSContextGetGlobalObject(core_->ctx));
}

JSValue JSContext::exception() const { return core_ ? core_->exception : JSValue(); }

void JSContext::setException(const JSValue& exception) {
    if (core_) core_->exception = exception;
}

void JSContext::setExceptionHandler(ExceptionHandler handler) {
    if (core_ && core_->alive()) core_->exceptionHandler = std::move(handler);
}

JSContext::ExceptionHandler JSContext::exceptionHandler() const { return core_ ? core_->exceptionHandler : nullptr; }

Ref<JSVirtualMachine> JSContext::virtualMachine() const { return JSVirtualMachine::sharedVirtualMachine(); }

}  // namespace platform
