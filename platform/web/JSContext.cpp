#include "platform/web/JSContext.h"

#include "platform/runtime/Log.h"
#include "platform/runtime/NSThread.h"
#include "platform/web/JSEngine.h"
#include "platform/web/JSVirtualMachine.h"

// Exported by the engine's library, declared by no header it ships.
extern "C" JSValueRef JSScriptEvaluate(JSContextRef ctx, platform::web::JSScriptRef script, JSValueRef thisValue,
                                       JSValueRef* exception);

namespace platform {

using web::EngineAccess;
using web::EngineEntry;
using web::JSString;

namespace web {

namespace {
// A web view's setup is a few scripts; a context fed more keeps only these.
constexpr size_t kMaximumSetupScripts = 64;
constexpr size_t kMaximumSetupBytes = size_t{1} << 20;
}  // namespace

void NativeSetup::setGlobal(const std::string& name, Value value, Ref<JSExport> object) {
    for (Global& global : globals) {
        if (global.name != name) continue;
        global.value = std::move(value);
        global.object = std::move(object);
        return;
    }
    globals.push_back(Global{name, std::move(value), std::move(object)});
}

void NativeSetup::forgetGlobal(const std::string& name) {
    std::erase_if(globals, [&](const Global& global) { return global.name == name; });
}

void NativeSetup::addScript(const std::string& source, const std::optional<std::string>& sourceURL) {
    if (scripts.size() >= kMaximumSetupScripts || scriptBytes + source.size() > kMaximumSetupBytes) {
        log(LogLevel::Warning, "web view: a script evaluated before the first page is not kept for later pages: more than " +
                                   std::to_string(kMaximumSetupScripts) + " scripts or " +
                                   std::to_string(kMaximumSetupBytes >> 20) + " MB");
        return;
    }
    scriptBytes += source.size();
    scripts.push_back(Script{source, sourceURL});
}

}  // namespace web

namespace {

// Inside an open call into the scope: the script's value, null when it threw
// (reported).
JSValueRef evaluateOpen(web::ContextCore& core, const std::string& script, const std::optional<std::string>& sourceURL) {
    JSValueRef exception = nullptr;
    JSValueRef result = nullptr;
    if (web::JSScriptRef parsed = core.group->scripts.find(core.group->ref, script, sourceURL)) {
        result = JSScriptEvaluate(core.ctx, parsed, nullptr, &exception);
    } else {
        JSString source(script);
        std::optional<JSString> url;
        if (sourceURL) url.emplace(*sourceURL);
        result = JSEvaluateScript(core.ctx, source.get(), nullptr, url ? url->get() : nullptr, 1, &exception);
    }
    if (exception) {
        core.reportException(exception, sourceURL.value_or(""));
        return nullptr;
    }
    return result;
}

JSValue evaluateIn(const std::shared_ptr<web::ContextCore>& core, const std::string& script,
                   const std::optional<std::string>& sourceURL) {
    EngineEntry entry(core);
    if (!entry.admitted()) return JSValue();
    JSValueRef result = evaluateOpen(*core, script, sourceURL);
    return result ? core->wrap(result) : JSValue();
}

}  // namespace

Ref<JSContext> JSContext::init() {
    assertMainThread("JSContext::init");
    if (!core_) core_ = web::ContextCore::create(web::sharedGroup(), self<JSContext>(), false);
    return self<JSContext>();
}

void JSContext::initForPages() {
    if (core_) return;
    core_ = web::ContextCore::create(web::pageGroup(), self<JSContext>(), true);
    setup_ = std::make_shared<web::NativeSetup>();
}

void JSContext::renewScope() {
    if (!core_) return;
    std::shared_ptr<web::ContextCore> replaced = core_;
    core_ = web::ContextCore::create(replaced->group, self<JSContext>(), true);
    core_->exceptionHandler = replaced->exceptionHandler;
    // A page that reloads itself does not start its log's count afresh.
    core_->pageLog = replaced->pageLog;
    replaced->tearDown();
    // What the engine measured live so far includes the replaced scope: the
    // new page's budget counts from the next collection.
    core_->group->collected.store(false);
}

void JSContext::replaceFrozenScope() {
    if (!isValid() || !core_->frozen) return;
    // The error that stopped a frozen page is kept as text (see reportException).
    std::optional<std::string> stoppedBy;
    if (JSValueRef error = EngineAccess::ref(core_->exception); error && JSValueIsString(core_->ctx, error))
        stoppedBy = core_->exception.toString();
    renewScope();
    core_->frozen = true;
    if (stoppedBy) core_->exception = core_->wrap(JSValueMakeString(core_->ctx, JSString(*stoppedBy).get()));
}

void JSContext::restoreNativeSetup() {
    if (!setup_ || !isValid()) return;
    // Copies: what runs may change the setup.
    std::vector<web::NativeSetup::Global> globals = setup_->globals;
    for (const auto& global : globals) {
        if (global.object) setExportedObject(global.object, global.name);
        else setObject(global.value, global.name);
    }
    std::vector<web::NativeSetup::Script> scripts = setup_->scripts;
    auto core = core_;
    for (const auto& script : scripts) {
        if (core->frozen || core != core_) return;
        evaluateIn(core, script.source, script.sourceURL);
    }
}

JSValue JSContext::evaluatePageScript(const std::string& script, const std::optional<std::string>& sourceURL) {
    return isValid() ? evaluateIn(core_, script, sourceURL) : JSValue();
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
    // Before the first page, native code's own evaluations are the web view's
    // setup (not what it evaluates from inside another call).
    bool setup = setup_ && core->acceptsSetup && !web::engineCallInProgress();
    JSValue value = evaluateIn(core, script, sourceURL);
    // A script stopped for its time or memory is not done again.
    if (setup && !core->frozen && core == core_) setup_->addScript(script, sourceURL);
    return value;
}

std::string JSContext::evaluateScriptForText(const std::string& script, const std::optional<std::string>& sourceURL) {
    assertMainThread("JSContext::evaluateScript");
    if (!isValid()) return "";
    auto core = core_;
    bool setup = setup_ && core->acceptsSetup && !web::engineCallInProgress();
    // A primitive's text is read in the call, without holding the value; an
    // object's conversion runs page script, in a call of its own afterwards.
    std::optional<std::string> text;
    std::optional<JSValue> object;
    {
        EngineEntry entry(core);
        if (entry.admitted()) {
            if (JSValueRef result = evaluateOpen(*core, script, sourceURL)) {
                if (JSValueIsObject(core->ctx, result)) {
                    object = core->wrap(result);
                } else if (!JSValueIsUndefined(core->ctx, result) && !JSValueIsNull(core->ctx, result)) {
                    // A symbol has no text: the TypeError is reported.
                    JSValueRef exception = nullptr;
                    JSStringRef s = JSValueToStringCopy(core->ctx, result, &exception);
                    if (s && !exception) text = web::toUTF8(s);
                    if (s) JSStringRelease(s);
                    if (exception) core->reportException(exception);
                }
            }
        }
    }
    if (setup && !core->frozen && core == core_) setup_->addScript(script, sourceURL);
    if (object) return object->toString().value_or("");
    // A scope torn down on the way out (its page froze) holds no value any more.
    return text && core->alive() ? std::move(*text) : std::string();
}

JSValue JSContext::objectForKeyedSubscript(const std::string& name) {
    assertMainThread("JSContext::objectForKeyedSubscript");
    if (!isValid()) return JSValue();
    auto core = core_;
    EngineEntry entry(core);
    if (!entry.admitted()) return JSValue();
    JSValueRef exception = nullptr;
    JSValueRef value =
        JSObjectGetProperty(core->ctx, JSContextGetGlobalObject(core->ctx), web::JSPropertyName(name).get(), &exception);
    if (exception) {
        core->reportException(exception);
        return JSValue();
    }
    return core->wrap(value);
}

namespace {
// `make` runs inside the call: making the value may run page script too.
template <class Make> void setGlobal(const std::shared_ptr<web::ContextCore>& core, const std::string& name, Make make) {
    EngineEntry entry(core);
    if (!entry.admitted()) return;
    JSValueRef exception = nullptr;
    JSObjectSetProperty(core->ctx, JSContextGetGlobalObject(core->ctx), web::JSPropertyName(name).get(), make(),
                        kJSPropertyAttributeNone, &exception);
    if (exception) core->reportException(exception);
}
}  // namespace

void JSContext::setObject(const JSValue& value, const std::string& name) {
    assertMainThread("JSContext::setObject");
    if (setup_) setup_->forgetGlobal(name);  // a script value belongs to this scope only
    if (!isValid()) return;
    setGlobal(core_, name, [&] {
        JSValueRef ref = EngineAccess::refFor(value, *core_);
        return ref ? ref : JSValueMakeUndefined(core_->ctx);
    });
}

void JSContext::setObject(const Value& value, const std::string& name) {
    assertMainThread("JSContext::setObject");
    if (setup_) setup_->setGlobal(name, value, nullptr);
    if (!isValid()) return;
    setGlobal(core_, name, [&] { return core_->fromValue(value); });
}

void JSContext::setExportedObject(const Ref<JSExport>& object, const std::string& name) {
    assertMainThread("JSContext::setObject");
    if (setup_) setup_->setGlobal(name, Value(), object);
    if (!isValid()) return;
    setGlobal(core_, name, [&]() -> JSValueRef { return object ? core_->wrapperFor(object) : JSValueMakeNull(core_->ctx); });
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
