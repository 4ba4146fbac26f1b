#include "platform/web/JSEngine.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "platform/foundation/NSJSONSerialization.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/Utf8.h"
#include "platform/runtime/CallCatching.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NSRunLoop.h"
#include "platform/runtime/NSThread.h"
#include "platform/runtime/SystemClock.h"
#include "platform/web/JSVirtualMachine.h"

#if defined(__SANITIZE_ADDRESS__)
#define PLATFORM_WEB_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PLATFORM_WEB_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(PLATFORM_WEB_ADDRESS_SANITIZER)
#include <sanitizer/lsan_interface.h>
#endif

// The engine exports these, but the package ships no header for them: the
// declarations, as the engine's own headers make them.
extern "C" {
typedef bool (*JSShouldTerminateCallback)(JSContextRef ctx, void* context);
void JSContextGroupSetExecutionTimeLimit(JSContextGroupRef group, double limit, JSShouldTerminateCallback callback,
                                         void* context);
JSObjectRef JSGetMemoryUsageStatistics(JSContextRef ctx);
typedef void (*JSHeapFinalizer)(JSContextGroupRef group, void* userData);
void JSContextGroupAddHeapFinalizer(JSContextGroupRef group, JSHeapFinalizer finalizer, void* userData);
void JSSynchronousGarbageCollectForDebugging(JSContextRef ctx);
platform::web::JSWeakRef JSWeakCreate(JSContextGroupRef group, JSObjectRef object);
void JSWeakRelease(JSContextGroupRef group, platform::web::JSWeakRef weak);
JSObjectRef JSWeakGetObject(platform::web::JSWeakRef weak);
platform::web::JSScriptRef JSScriptCreateFromString(JSContextGroupRef group, JSStringRef url, int startingLineNumber,
                                                    JSStringRef source, JSStringRef* errorMessage, int* errorLine);
void JSScriptRelease(platform::web::JSScriptRef script);
}
namespace WTF {
void releaseFastMallocFreeMemory();
}
// Exported by the engine for its embedders' use, with no public header
// either: a group is the engine's VM (its API casts one to the other), and
// the lock holder keeps one reference to it.
namespace JSC {
enum DeleteAllCodeEffort { PreventCollectionAndDeleteAllCode, DeleteAllCodeIfNotCollecting };
class VM {
public:
    void deleteAllLinkedCode(DeleteAllCodeEffort effort);
};
class JSLockHolder {
public:
    explicit JSLockHolder(VM* vm);
    ~JSLockHolder();
    JSLockHolder(const JSLockHolder&) = delete;
    JSLockHolder& operator=(const JSLockHolder&) = delete;

private:
    VM* vm_;
};
}  // namespace JSC

namespace platform::web {

// ---- strings ---------------------------------------------------------------------------------

namespace {

JSStringRef makeEngineString(std::string_view utf8) {
    std::u16string units;
    units.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        utf8::Decoded d = utf8::decode(utf8, i);
        i += d.size;
        char32_t cp = d.codePoint;
        if (cp > 0xFFFF) {
            cp -= 0x10000;
            units.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(cp));
        }
    }
    return JSStringCreateWithCharacters(reinterpret_cast<const JSChar*>(units.data()), units.size());
}

// The kept property names of this thread (each holds one reference).
class PropertyNames {
public:
    ~PropertyNames() { clear(); }
    JSStringRef retained(std::string_view utf8) {
        if (utf8.size() > JSPropertyName::kMaximumNameBytes) return makeEngineString(utf8);
        auto found = names_.find(utf8);
        if (found == names_.end()) {
            if (names_.size() >= JSPropertyName::kMaximumNames) clear();
            found = names_.emplace(std::string(utf8), makeEngineString(utf8)).first;
        }
        return JSStringRetain(found->second);
    }

private:
    void clear() {
        for (auto& [name, ref] : names_) JSStringRelease(ref);
        names_.clear();
    }
    std::unordered_map<std::string, JSStringRef, TextHash, std::equal_to<>> names_;
};

thread_local PropertyNames tPropertyNames;

}  // namespace

JSString::JSString(std::string_view utf8) : ref_(makeEngineString(utf8)) {}

JSString::~JSString() { JSStringRelease(ref_); }

JSPropertyName::JSPropertyName(std::string_view utf8) : ref_(tPropertyNames.retained(utf8)) {}

JSPropertyName::~JSPropertyName() { JSStringRelease(ref_); }

namespace {
// Appends `string` in UTF-8 to `out` while `out` holds fewer than `maxBytes`
// bytes; answers the bytes the whole string takes.
size_t appendUTF8(JSStringRef string, std::string& out, size_t maxBytes) {
    const JSChar* units = JSStringGetCharactersPtr(string);
    const size_t length = JSStringGetLength(string);
    auto paired = [&](size_t i) {
        return units[i] >= 0xD800 && units[i] <= 0xDBFF && i + 1 < length && units[i + 1] >= 0xDC00 &&
               units[i + 1] <= 0xDFFF;
    };
    size_t whole = 0, i = 0;
    for (; i < length && whole < maxBytes; ++i) {
        char32_t u = units[i];
        if (paired(i)) {
            u = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            u = 0xFFFD;
        }
        utf8::append(out, u);
        whole += u < 0x80 ? 1 : u < 0x800 ? 2 : u < 0x10000 ? 3 : 4;
    }
    // The rest is only counted: a pair takes four bytes, a lone half three (U+FFFD).
    for (; i < length; ++i) {
        const JSChar u = units[i];
        if (u < 0x80) {
            ++whole;
        } else if (u < 0xD800 || u > 0xDBFF || i + 1 == length || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) {
            whole += u < 0x800 ? 2 : 3;
        } else {
            whole += 4;
            ++i;
        }
    }
    return whole;
}
}  // namespace

std::string toUTF8(JSStringRef string) {
    std::string out;
    if (!string) return out;
    out.reserve(JSStringGetLength(string));
    appendUTF8(string, out, std::numeric_limits<size_t>::max());
    return out;
}

std::string toUTF8ForLog(JSStringRef string) {
    if (!string) return "";
    std::string start;
    const size_t whole = appendUTF8(string, start, kLoggedTextLimit + 1);
    return shortenedForLog(start, whole, kLoggedTextLimit);
}

// ---- global contexts ---------------------------------------------------------------------------

// A new global context in `group`. The engine interns names for each one that
// it keeps for the life of the process; the leak checker is told so here,
// where nothing of ours runs, rather than looking each of them up at exit.
static JSGlobalContextRef createGlobalContext(JSContextGroupRef group) {
#if defined(PLATFORM_WEB_ADDRESS_SANITIZER)
    __lsan::ScopedDisabler keptForTheProcess;
#endif
    return JSGlobalContextCreateInGroup(group, nullptr);
}

// ---- parsed scripts ----------------------------------------------------------------------------

ScriptCache::~ScriptCache() { clear(); }

void ScriptCache::clear() {
    for (auto& [source, entry] : entries_)
        if (entry.script) JSScriptRelease(entry.script);
    entries_.clear();
}

JSScriptRef ScriptCache::find(JSContextGroupRef group, const std::string& source,
                              const std::optional<std::string>& sourceURL) {
    if (source.size() > kMaximumScriptBytes) return nullptr;
    auto found = entries_.find(std::string_view(source));
    if (found == entries_.end()) {
        if (entries_.size() >= kMaximumScripts) clear();
        entries_.emplace(source, Entry{sourceURL, nullptr, false});
        return nullptr;
    }
    Entry& entry = found->second;
    if (entry.sourceURL != sourceURL) {
        if (entry.script) JSScriptRelease(entry.script);
        entry = Entry{sourceURL, nullptr, false};
        return nullptr;
    }
    if (!entry.script && !entry.unparsable) {
        std::optional<JSString> url;
        if (sourceURL) url.emplace(*sourceURL);
        entry.script = JSScriptCreateFromString(group, url ? url->get() : nullptr, 1, JSString(source).get(), nullptr,
                                                nullptr);
        entry.unparsable = !entry.script;
    }
    return entry.script;
}

// ---- context groups, the time limit and the heap budget --------------------------------------

namespace {

constexpr double kDefaultTimeLimit = 2.0;
constexpr size_t kDefaultPageHeapBudget = size_t{64} << 20;
// The watchdog wakes at most this often while a script runs: each wake
// checks the time limit, and the page heap budget when a collection ran.
constexpr double kLongestWatchInterval = 0.05;
// Seconds of calls into a group's pages between looks at the process's
// resident size.
constexpr double kLookAfterWork = 0.001;
// How early a call's start may be dated for the time limit (see tEntryStart).
constexpr double kStartSlack = 0.001;

std::atomic<double> gTimeLimit{kDefaultTimeLimit};
std::atomic<size_t> gPageHeapBudget{kDefaultPageHeapBudget};

// Main thread: the live groups (for a new time limit and collections), and
// the scope of each engine context (for the watchdog).
std::vector<EngineGroup*>& liveGroups() {
    static auto* groups = new std::vector<EngineGroup*>();
    return *groups;
}
std::unordered_map<JSGlobalContextRef, ContextCore*>& coresByContext() {
    static auto* cores = new std::unordered_map<JSGlobalContextRef, ContextCore*>();
    return *cores;
}

// The outermost call into the engine on this thread: the time limit counts
// the thread's CPU time from its start, as the engine's watchdog does. The
// watchdog's first wake cannot date it: a builtin (a long match) holds that
// wake off. Reading the CPU clock is a system call, too dear for every call
// into a page, while the steady clock is cheap: a reading is taken again only
// once the steady clock shows kStartSlack passed since the last one, and the
// thread cannot have used more CPU time than that meanwhile, so a call is
// dated at most kStartSlack early.
thread_local int tEntryDepth = 0;
thread_local double tEntryStart = 0;
thread_local double tCPUReading = 0;
thread_local double tCPUReadingTakenBy = -std::numeric_limits<double>::infinity();  // steady seconds, read first
// A script the engine runs outside any marked call (none should): dated by
// the watchdog's first wake, a watch interval into it (negative: not yet).
thread_local double tUnmarkedStart = -1;

double watchInterval() { return std::min(kLongestWatchInterval, gTimeLimit.load() / 4); }

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The process's resident bytes, read through a descriptor kept open (this is
// read on the way out of calls into pages); 0 when it cannot be read.
size_t residentBytesNow() {
    static const int statm = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    char text[128];
    const ssize_t length = statm < 0 ? -1 : ::pread(statm, text, sizeof text - 1, 0);
    if (length <= 0) return 0;
    text[length] = '\0';
    unsigned long long pages = 0, resident = 0;
    if (std::sscanf(text, "%llu %llu", &pages, &resident) != 2) return 0;
    static const size_t pageSize = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    return static_cast<size_t>(resident) * pageSize;
}

bool onWatchdog(JSContextRef ctx, void*);

void armWatchdog(JSContextGroupRef group) {
    JSContextGroupSetExecutionTimeLimit(group, watchInterval(), onWatchdog, nullptr);
}

// The engine's watchdog, woken every watch interval of a running script:
// true stops the script.
bool onWatchdog(JSContextRef ctx, void*) {
    const double now = SystemClock::threadProcessorSeconds();
    double start = tEntryStart;
    if (tEntryDepth == 0) {
        if (tUnmarkedStart < 0) tUnmarkedStart = now - watchInterval();
        start = tUnmarkedStart;
    }
    auto found = coresByContext().find(JSContextGetGlobalContext(ctx));
    ContextCore* core = found == coresByContext().end() ? nullptr : found->second;
    if (now - start >= gTimeLimit.load()) {
        log(LogLevel::Error, "JS execution time limit exceeded: script stopped after " +
                                 NSString::stringWithFormat("%g", gTimeLimit.load()) + " s");
        if (core) core->stopped(ContextCore::StopReason::TimeLimit);
        return true;
    }
    if (core && core->overHeapBudget()) {
        core->stopped(ContextCore::StopReason::HeapBudget);
        return true;
    }
    // The engine waits for the next wake only once it is armed again.
    armWatchdog(JSContextGetGroup(ctx));
    return false;
}

}  // namespace

EngineGroup::EngineGroup() {
    // Deterministic and sanitizer-friendly under test: the interpreter only.
    if (Clock::current()->isVirtual()) ::setenv("JSC_useJIT", "false", 0);
    ref = JSContextGroupCreate();
    armWatchdog(ref);
    JSContextGroupAddHeapFinalizer(
        ref, [](JSContextGroupRef, void* group) { static_cast<EngineGroup*>(group)->collected.store(true); }, this);
    liveGroups().push_back(this);
}

const std::shared_ptr<EngineGroup>& sharedGroup() {
    static const auto& group = *new std::shared_ptr<EngineGroup>(std::make_shared<EngineGroup>());
    return group;
}

std::shared_ptr<EngineGroup> pageGroup() {
    static auto* idle = new std::vector<EngineGroup*>();
    EngineGroup* group = nullptr;
    if (idle->empty()) {
        group = new EngineGroup();
    } else {
        group = idle->back();
        idle->pop_back();
    }
    return std::shared_ptr<EngineGroup>(group, [](EngineGroup* used) {
        // Nothing of the web view is left in it but garbage: collected
        // before another web view takes it, whose pages' budget counts from
        // the next collection (this one's measure is the old web view's).
        auto recycle = [used] {
            collectLeftScopes(*used);
            used->collected.store(false);
            used->workSinceLook = 0;
            idle->push_back(used);
        };
        if (NSThread::isMainThread()) recycle();
        else runtime::postToMainThread(recycle);
    });
}

bool engineCallInProgress() { return tEntryDepth > 0; }

EngineEntry::EngineEntry(std::shared_ptr<ContextCore> core)
    : core_(std::move(core)), admitted_(core_->alive() && (!core_->frozen || core_->admitFrozen)) {
    double now = -1;
    if (tEntryDepth++ == 0) {
        now = steadySeconds();
        if (now - tCPUReadingTakenBy >= kStartSlack) {
            tCPUReadingTakenBy = now;
            tCPUReading = SystemClock::threadProcessorSeconds();
        }
        tEntryStart = tCPUReading;
    }
    if (core_->entryDepth++ == 0 && core_->page) core_->entryBegan = now < 0 ? steadySeconds() : now;
    tUnmarkedStart = -1;
}

EngineEntry::~EngineEntry() {
    tUnmarkedStart = -1;
    --tEntryDepth;
    if (--core_->entryDepth > 0) return;
    if (core_->tearDownPending) {
        core_->tearDown();
        return;
    }
    if (admitted_ && core_->page && !core_->frozen &&
        core_->overHeapBudgetOnReturn(steadySeconds() - core_->entryBegan))
        core_->stopped(ContextCore::StopReason::HeapBudget);
    if (core_->frozen && core_->frozenHandler) {
        std::function<void()> handler = std::move(core_->frozenHandler);
        core_->frozenHandler = nullptr;
        runtime::callAtBoundary(handler, "frozen page");
    }
}

void ContextCore::stopped(StopReason why) {
    if (!page || frozen) return;
    frozen = true;
    if (why == StopReason::TimeLimit) {
        log(LogLevel::Warning, "web view: a page script ran too long; the page's other scripts, timers and events are dropped");
    } else {
        log(LogLevel::Warning, "web view: a page's scripts went over its heap budget of " +
                                   std::to_string(gPageHeapBudget.load() >> 20) +
                                   " MB; the page's other scripts, timers and events are dropped");
    }
}

bool ContextCore::overHeapBudget() {
    if (!page || !alive() || !group->collected.exchange(false)) return false;
    return liveHeapBytes(ctx) > gPageHeapBudget.load();
}

bool ContextCore::overHeapBudgetOnReturn(double callSeconds) {
    if (!page || !alive()) return false;
    EngineGroup& g = *group;
    const size_t budget = gPageHeapBudget.load();
    if (g.collected.exchange(false) && liveHeapBytes(ctx) > budget) return true;
    // A collection during the call measured the heap as it was then, maybe
    // before the call's last allocation: the process's growth is looked at
    // all the same.
    g.workSinceLook += callSeconds;
    if (g.workSinceLook < kLookAfterWork) return false;
    g.workSinceLook = 0;
    const size_t resident = residentBytesNow();
    // The mark follows the process down when it gives memory back, so that
    // what the page takes after counts in full; it moves up only with a
    // measure that saw everything up to now.
    g.residentAtLook = std::min(g.residentAtLook, resident);
    if (resident < g.residentAtLook + budget / 4) return false;
    // The engine counts what strings and buffers hold only when it collects.
    collectGarbage(g);
    g.collected.store(false);
    g.residentAtLook = residentBytesNow();
    return liveHeapBytes(ctx) > budget;
}

}  // namespace platform::web

namespace platform {

void JSVirtualMachine::setExecutionTimeLimit(double seconds) {
    if (!(seconds > 0)) seconds = web::kDefaultTimeLimit;
    web::gTimeLimit.store(seconds);
    web::sharedGroup();
    for (web::EngineGroup* group : web::liveGroups()) web::armWatchdog(group->ref);
}

double JSVirtualMachine::executionTimeLimit() { return web::gTimeLimit.load(); }

void JSVirtualMachine::setPageHeapBudget(size_t bytes) {
    web::gPageHeapBudget.store(bytes > 0 ? bytes : web::kDefaultPageHeapBudget);
}

size_t JSVirtualMachine::pageHeapBudget() { return web::gPageHeapBudget.load(); }

}  // namespace platform

namespace platform::web {

// ---- native functions and exported-object wrappers ---------------------------------------------

namespace {

JSValueRef callNativeFunction(JSContextRef ctx, JSObjectRef function, JSObjectRef thisObject, size_t argc,
                              const JSValueRef argv[], JSValueRef* exception) {
    auto* fn = static_cast<NativeFunction*>(JSObjectGetPrivate(function));
    JSValueRef result = nullptr;
    if (fn && *fn) {
        auto what = runtime::callCatching([&] { result = (*fn)(ctx, thisObject, argc, argv, exception); });
        if (what) {
            std::string line = "native JS function: uncaught exception: " + shortenedForLog(*what);
            auto found = coresByContext().find(JSContextGetGlobalContext(ctx));
            if (found == coresByContext().end()) logError(line);
            else found->second->pageLog->write(LogLevel::Error, "native JS function", std::move(line));
            *exception = makeError(ctx, *what);
            result = nullptr;
        }
    }
    return result ? result : JSValueMakeUndefined(ctx);
}

void finalizeNativeFunction(JSObjectRef object) { delete static_cast<NativeFunction*>(JSObjectGetPrivate(object)); }

JSClassRef nativeFunctionClass() {
    static JSClassRef cls = [] {
        JSClassDefinition def = kJSClassDefinitionEmpty;
        def.className = "NativeFunction";
        def.callAsFunction = callNativeFunction;
        def.finalize = finalizeNativeFunction;
        return JSClassCreate(&def);
    }();
    return cls;
}

using StateHolder = std::shared_ptr<ExportedObjectState>;

void finalizeExportedObject(JSObjectRef object) { delete static_cast<StateHolder*>(JSObjectGetPrivate(object)); }

JSClassRef exportedObjectClass() {
    static JSClassRef cls = [] {
        JSClassDefinition def = kJSClassDefinitionEmpty;
        def.className = "NativeObject";
        def.finalize = finalizeExportedObject;
        return JSClassCreate(&def);
    }();
    return cls;
}

size_t arityOf(const std::string& selector) {
    size_t n = 0;
    for (char c : selector) n += c == ':';
    return n;
}

thread_local std::vector<Weak<JSContext>> tCurrentContexts;

}  // namespace

JSObjectRef makeError(JSContextRef ctx, std::string_view message, const char* constructor) {
    JSValueRef arg = JSValueMakeString(ctx, JSString(message).get());
    JSValueRef type = JSObjectGetProperty(ctx, JSContextGetGlobalObject(ctx), JSString(constructor).get(), nullptr);
    if (type && JSValueIsObject(ctx, type)) {
        JSObjectRef made = JSObjectCallAsConstructor(ctx, JSValueToObject(ctx, type, nullptr), 1, &arg, nullptr);
        if (made) return made;
    }
    return JSObjectMakeError(ctx, 1, &arg, nullptr);
}

CurrentContextScope::CurrentContextScope(const Weak<JSContext>& context) { tCurrentContexts.push_back(context); }
CurrentContextScope::~CurrentContextScope() { tCurrentContexts.pop_back(); }

}  // namespace platform::web

Ref<platform::JSContext> platform::JSContext::currentContext() {
    return web::tCurrentContexts.empty() ? nullptr : web::tCurrentContexts.back().lock();
}

namespace platform::web {

Ref<JSExport> exportedObjectOf(JSContextRef ctx, JSValueRef value) {
    if (!JSValueIsObjectOfClass(ctx, value, exportedObjectClass())) return nullptr;
    auto* holder = static_cast<StateHolder*>(JSObjectGetPrivate(const_cast<JSObjectRef>(value)));
    return holder && *holder ? (*holder)->object : nullptr;
}

// ---- weak references and collection --------------------------------------------------------

std::shared_ptr<WeakSlot> WeakSlot::make(std::shared_ptr<ContextCore> core, JSObjectRef object) {
    auto slot = std::make_shared<WeakSlot>();
    slot->weak = JSWeakCreate(core->group->ref, object);
    slot->core = std::move(core);
    return slot;
}

WeakSlot::~WeakSlot() {
    if (!weak) return;
    if (NSThread::isMainThread()) {
        JSWeakRelease(core->group->ref, weak);
        return;
    }
    // Off the main thread the engine may be busy: the main thread lets go of it.
    JSWeakRef handle = weak;
    runtime::postToMainThread([handle, group = core->group] { JSWeakRelease(group->ref, handle); });
}

JSValue WeakSlot::get() const {
    if (!core || !core->alive() || !weak) return JSValue();
    JSObjectRef object = JSWeakGetObject(weak);
    return object ? core->wrap(object) : JSValue();
}

namespace {

// The collector scans the native stack conservatively: stale engine
// pointers left in dead stack memory below the caller would keep their
// objects alive. Clearing it first makes a collection show what is really
// referenced.
__attribute__((noinline)) void clearDeadStackBeforeCollection() {
    volatile char scratch[32 * 1024];
    for (size_t i = 0; i < sizeof scratch; ++i) scratch[i] = 0;
}

}  // namespace

void collectGarbage(const EngineGroup& group) {
    clearDeadStackBeforeCollection();
    JSGlobalContextRef ctx = createGlobalContext(group.ref);
    JSSynchronousGarbageCollectForDebugging(ctx);
    JSGlobalContextRelease(ctx);
}

void collectLeftScopes(const EngineGroup& group) {
    {
        // Its compiled code is dropped, which first completes what it has
        // waiting to compile (without a compiler, nothing).
        auto* vm = reinterpret_cast<JSC::VM*>(const_cast<OpaqueJSContextGroup*>(group.ref));
        JSC::JSLockHolder lock(vm);
        vm->deleteAllLinkedCode(JSC::PreventCollectionAndDeleteAllCode);
    }
    collectGarbage(group);
}

void collectAllGarbage() {
    sharedGroup();
    for (EngineGroup* group : liveGroups()) collectGarbage(*group);
}

size_t liveHeapBytes(JSContextRef ctx) {
    JSObjectRef statistics = JSGetMemoryUsageStatistics(ctx);
    JSValueRef size = statistics ? JSObjectGetProperty(ctx, statistics, JSString("heapSize").get(), nullptr) : nullptr;
    double bytes = size && JSValueIsNumber(ctx, size) ? JSValueToNumber(ctx, size, nullptr) : 0;
    return bytes > 0 ? static_cast<size_t>(bytes) : 0;
}

void returnFreedEngineMemory() { WTF::releaseFastMallocFreeMemory(); }

// ---- values ------------------------------------------------------------------------------------

ValueSlot::~ValueSlot() {
    if (!core) return;
    JSValueRef release = nullptr;
    {
        std::scoped_lock lock(core->mutex);
        if (!value) return;
        core->unlink(this);
        release = value;
        value = nullptr;
        // Off the main thread the engine may be busy: the main thread releases it later.
        if (!NSThread::isMainThread()) {
            core->pendingRelease.push_back(release);
            return;
        }
    }
    JSValueUnprotect(core->ctx, release);
}

void ContextCore::link(ValueSlot* slot) {
    slot->next = slots;
    if (slots) slots->prev = slot;
    slots = slot;
}

void ContextCore::unlink(ValueSlot* slot) {
    if (slot->prev) slot->prev->next = slot->next;
    else if (slots == slot) slots = slot->next;
    if (slot->next) slot->next->prev = slot->prev;
    slot->prev = slot->next = nullptr;
}

JSValue ContextCore::wrap(JSValueRef value) {
    if (!alive() || !value) return JSValue();
    JSValueProtect(ctx, value);
    auto slot = std::make_shared<ValueSlot>();
    slot->core = shared_from_this();
    slot->value = value;
    std::vector<JSValueRef> pending;
    {
        std::scoped_lock lock(mutex);
        link(slot.get());
        pending.swap(pendingRelease);
    }
    for (JSValueRef v : pending) JSValueUnprotect(ctx, v);
    return EngineAccess::fromSlot(std::move(slot));
}

JSValueRef EngineAccess::ref(const JSValue& value) {
    const auto& slot = value.slot_;
    if (!slot || !slot->core || !slot->core->alive()) return nullptr;
    return slot->value;
}

JSValueRef EngineAccess::refFor(const JSValue& value, const ContextCore& target) {
    JSValueRef ref = EngineAccess::ref(value);
    return ref && value.slot_->core->group == target.group ? ref : nullptr;
}

std::string describeException(JSContextRef ctx, JSValueRef exception, std::string_view fallbackURL) {
    // Page text: converted only as far as the line shows it.
    std::string message = "(no message)";
    if (JSStringRef s = JSValueToStringCopy(ctx, exception, nullptr)) {
        message = toUTF8ForLog(s);
        JSStringRelease(s);
    }
    std::string url = urlForLog(fallbackURL);
    double line = 0;
    if (JSValueIsObject(ctx, exception)) {
        JSObjectRef object = JSValueToObject(ctx, exception, nullptr);
        JSValueRef u = JSObjectGetProperty(ctx, object, JSString("sourceURL").get(), nullptr);
        if (u && JSValueIsString(ctx, u)) {
            JSStringRef s = JSValueToStringCopy(ctx, u, nullptr);
            // Converted as far as a line may show, so that the user name and
            // password go before it is shortened (an authority past that is hidden).
            std::string start;
            const size_t whole = appendUTF8(s, start, kLogLineLimit + 1);
            url = urlForLog(start, whole, kLoggedTextLimit);
            JSStringRelease(s);
        }
        JSValueRef l = JSObjectGetProperty(ctx, object, JSString("line").get(), nullptr);
        if (l && JSValueIsNumber(ctx, l)) line = JSValueToNumber(ctx, l, nullptr);
    }
    if (url.empty()) url = "<anonymous>";
    return "JS exception: " + message + " at " + url + ":" + NSString::stringWithFormat("%.0f", line);
}

void ContextCore::reportException(JSValueRef exceptionRef, std::string_view fallbackURL) {
    if (!alive() || !exceptionRef) return;
    // The error that stopped a frozen page's script is kept as its text: no
    // script of the page runs to read it later.
    if (frozen && JSValueIsObject(ctx, exceptionRef)) {
        if (JSStringRef text = JSValueToStringCopy(ctx, exceptionRef, nullptr)) {
            exceptionRef = JSValueMakeString(ctx, text);
            JSStringRelease(text);
        }
    }
    JSValue value = wrap(exceptionRef);
    exception = value;
    JSContext::ExceptionHandler handler = exceptionHandler;
    if (!handler) {
        pageLog->write(LogLevel::Error, "JS exception", describeException(ctx, exceptionRef, fallbackURL));
        return;
    }
    Ref<JSContext> context = owner.lock();
    runtime::callAtBoundary([&] { handler(context, value); }, "JS exception handler");
}

JSObjectRef ContextCore::makeFunction(NativeFunction fn) {
    JSObjectRef object = JSObjectMake(ctx, nativeFunctionClass(), new NativeFunction(std::move(fn)));
    if (functionPrototype) JSObjectSetPrototype(ctx, object, functionPrototype);
    return object;
}

JSObjectRef ContextCore::wrapperFor(const Ref<JSExport>& object) {
    if (auto it = wrappers.find(object.get()); it != wrappers.end()) return it->second;
    auto state = std::make_shared<ExportedObjectState>();
    state->object = object;
    runtime::callAtBoundary([&] { state->methods = object->exportedMethods(); }, "exported JS methods");
    JSObjectRef wrapper = JSObjectMake(ctx, exportedObjectClass(), new StateHolder(state));
    JSValueProtect(ctx, wrapper);
    wrappers.emplace(object.get(), wrapper);

    Weak<ContextCore> weakCore = weak_from_this();
    for (size_t index = 0; index < state->methods.size(); ++index) {
        const std::string& selector = state->methods[index].selector;
        std::string name = jsNameForSelector(selector);
        size_t arity = arityOf(selector);
        JSObjectRef fn = makeFunction([state, index, name, arity, weakCore](JSContextRef c, JSObjectRef, size_t argc,
                                                                            const JSValueRef argv[],
                                                                            JSValueRef* exception) -> JSValueRef {
            auto core = weakCore.lock();
            Ref<JSContext> context = core ? core->owner.lock() : nullptr;
            if (!core || !core->alive() || !context || !state->object || index >= state->methods.size()) {
                *exception = makeError(c, name + ": the native object is gone");
                return nullptr;
            }
            std::vector<JSValue> args;
            args.reserve(std::max(argc, arity));
            for (size_t i = 0; i < std::max(argc, arity); ++i)
                args.push_back(core->wrap(i < argc ? argv[i] : JSValueMakeUndefined(c)));
            // Copies: the call may tear the context down (and detach the method).
            Ref<JSExport> keep = state->object;
            auto call = state->methods[index].call;
            if (!call) return nullptr;
            JSValue result;
            CurrentContextScope scope(core->owner);
            auto what = runtime::callCatching([&] { result = call(*context, args); });
            if (what) {
                core->pageLog->write(LogLevel::Error, "exported JS method",
                                     "exported JS method " + name + ": uncaught exception: " + shortenedForLog(*what));
                *exception = makeError(c, *what);
                return nullptr;
            }
            return EngineAccess::refFor(result, *core);
        });
        JSObjectSetProperty(ctx, wrapper, JSPropertyName(name).get(), fn, kJSPropertyAttributeNone, nullptr);
    }
    return wrapper;
}

JSValueRef ContextCore::fromValue(const Value& value, int depth) {
    if (depth > 256) return JSValueMakeNull(ctx);
    switch (value.kind()) {
        case Value::Kind::Null: return JSValueMakeNull(ctx);
        case Value::Kind::Bool: return JSValueMakeBoolean(ctx, value.boolValue());
        case Value::Kind::Integer:
        case Value::Kind::Double: return JSValueMakeNumber(ctx, value.doubleValue());
        case Value::Kind::String: return JSValueMakeString(ctx, JSString(*value.string()).get());
        case Value::Kind::Date: {
            JSValueRef ms = JSValueMakeNumber(ctx, std::floor(value.date()->timeIntervalSince1970() * 1000.0));
            return JSObjectMakeDate(ctx, 1, &ms, nullptr);
        }
        case Value::Kind::Array: {
            // Elements go in one at a time so each is reachable from the array at once.
            JSObjectRef array = JSObjectMakeArray(ctx, 0, nullptr, nullptr);
            unsigned index = 0;
            for (const Value& item : *value.array())
                JSObjectSetPropertyAtIndex(ctx, array, index++, fromValue(item, depth + 1), nullptr);
            return array;
        }
        case Value::Kind::Dictionary: {
            JSObjectRef object = JSObjectMake(ctx, nullptr, nullptr);
            for (const auto& [key, item] : *value.dictionary())
                JSObjectSetProperty(ctx, object, JSPropertyName(key).get(), fromValue(item, depth + 1),
                                    kJSPropertyAttributeNone, nullptr);
            return object;
        }
        case Value::Kind::Object:
            if (auto exported = std::dynamic_pointer_cast<JSExport>(value.object())) return wrapperFor(exported);
            return JSValueMakeNull(ctx);
        case Value::Kind::Data: return JSValueMakeNull(ctx);
    }
    return JSValueMakeNull(ctx);
}

Value ContextCore::toValueThroughJSON(JSValueRef value) {
    // toJSON methods are page script.
    EngineEntry entry(shared_from_this());
    if (!entry.admitted()) return Value();
    JSValueRef exceptionRef = nullptr;
    JSStringRef json = JSValueCreateJSONString(ctx, value, 0, &exceptionRef);
    if (exceptionRef) reportException(exceptionRef);
    if (!json) return Value();
    std::string text = toUTF8(json);
    JSStringRelease(json);
    auto parsed = NSJSONSerialization::JSONObjectWithData(NSData::dataWithString(text), NSJSONReadingAllowFragments);
    return parsed ? *parsed : Value();
}

std::shared_ptr<ContextCore> ContextCore::create(std::shared_ptr<EngineGroup> group, const Weak<JSContext>& owner,
                                                 bool page) {
    auto core = std::make_shared<ContextCore>();
    core->group = std::move(group);
    core->owner = owner;
    core->page = page;
    core->pageLog = std::make_shared<PageLog>();
    JSGlobalContextRef ctx = createGlobalContext(core->group->ref);
    core->ctx = ctx;
    coresByContext()[ctx] = core.get();
    // Native functions get Function.prototype, so call, apply and bind work on them.
    JSObjectRef global = JSContextGetGlobalObject(ctx);
    JSValueRef function = JSObjectGetProperty(ctx, global, JSString("Function").get(), nullptr);
    if (function && JSValueIsObject(ctx, function)) {
        JSValueRef prototype =
            JSObjectGetProperty(ctx, JSValueToObject(ctx, function, nullptr), JSString("prototype").get(), nullptr);
        if (prototype && JSValueIsObject(ctx, prototype)) {
            core->functionPrototype = JSValueToObject(ctx, prototype, nullptr);
            JSValueProtect(ctx, core->functionPrototype);
        }
    }
    return core;
}

void ContextCore::tearDown() {
    if (!ctx) return;
    if (entryDepth > 0) {
        tearDownPending = true;
        return;
    }
    tearDownPending = false;
    JSGlobalContextRef context = ctx;
    coresByContext().erase(context);

    // Wrappers let go of their native objects (released below, once the
    // context reads as gone to them).
    std::vector<StateHolder> detached;
    for (auto& [native, wrapper] : wrappers) {
        if (auto* holder = static_cast<StateHolder*>(JSObjectGetPrivate(wrapper)); holder && *holder)
            detached.push_back(*holder);
        JSValueUnprotect(context, wrapper);
    }
    wrappers.clear();
    if (functionPrototype) JSValueUnprotect(context, functionPrototype);
    functionPrototype = nullptr;

    // Every value still held by native code now reads undefined.
    {
        std::scoped_lock lock(mutex);
        for (ValueSlot* slot = slots; slot;) {
            ValueSlot* next = slot->next;
            JSValueUnprotect(context, slot->value);
            slot->value = nullptr;
            slot->prev = slot->next = nullptr;
            slot = next;
        }
        slots = nullptr;
        for (JSValueRef v : pendingRelease) JSValueUnprotect(context, v);
        pendingRelease.clear();
    }
    ctx = nullptr;

    exception = JSValue();
    JSContext::ExceptionHandler handler = std::move(exceptionHandler);
    exceptionHandler = nullptr;
    std::vector<Ref<JSExport>> objects;
    std::vector<std::vector<JSExportMethod>> methods;
    for (auto& state : detached) {
        objects.push_back(std::move(state->object));
        methods.push_back(std::move(state->methods));
        state->object = nullptr;
        state->methods.clear();
    }
    runtime::callAtBoundary(
        [&] {
            methods.clear();
            objects.clear();
            handler = nullptr;
        },
        "JS context tear-down");

    JSGlobalContextRelease(context);
}

}  // namespace platform::web

#if defined(PLATFORM_WEB_ADDRESS_SANITIZER)
// The engine keeps some process-lifetime allocations it never frees (its
// context groups live as long as the process): not leaks of ours.
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions() {
    return "leak:libjavascriptcoregtk-4.1.so\n";
}
#endif
