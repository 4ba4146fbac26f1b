#include "platform/web/PageEnvironment.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <vector>

#include "platform/foundation/NSString.h"
#include "platform/net/NSURLConnection.h"
#include "platform/runtime/Log.h"
#include "platform/ui/UIScreen.h"
#include "platform/web/HTMLTree.h"
#include "platform/web/JSEngine.h"
#include "platform/web/PageDrawing.h"
#include "platform/web/PageEnvironmentScript.h"
#include "platform/web/UIWebView.h"

namespace platform::web {

namespace {

// A replaced scope is garbage: collected, and its memory handed back, once
// the task at hand is done (no stale reference on the stack keeps it then).
void collectSoon(const std::shared_ptr<EngineGroup>& group) {
    runtime::postToMainThread([group] {
        collectLeftScopes(*group);
        returnFreedEngineMemory();
    });
}

// Pending timers one page may hold; more are refused with a log line.
constexpr size_t kMaximumTimers = 10000;
// Seconds a page's script file may take to arrive.
constexpr double kScriptFetchTimeout = 10;
// Kinds of the page's fold (PageLog) for what its loads give.
constexpr const char* kNotLoadedKind = "web view: script not loaded";
constexpr const char* kParseBoundKind = "web view: page cut";

std::string lowercase(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool hasPrefixIgnoringCase(std::string_view text, std::string_view lowercasePrefix) {
    if (text.size() < lowercasePrefix.size()) return false;
    for (size_t i = 0; i < lowercasePrefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != lowercasePrefix[i]) return false;
    return true;
}

std::string trimmed(std::string_view s) {
    auto space = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!s.empty() && space(s.front())) s.remove_prefix(1);
    while (!s.empty() && space(s.back())) s.remove_suffix(1);
    return std::string(s);
}

// The pieces of a URL as the page's location object shows them.
Value urlParts(const Ref<NSURL>& url) {
    const std::string& href = url->absoluteString();
    std::string scheme = url->scheme();
    std::string rest = href.substr(scheme.empty() ? 0 : scheme.size() + 1);
    std::string hash, search, path;
    if (size_t at = rest.find('#'); at != std::string::npos) {
        if (at + 1 < rest.size()) hash = rest.substr(at);
        rest.resize(at);
    }
    if (size_t at = rest.find('?'); at != std::string::npos) {
        if (at + 1 < rest.size()) search = rest.substr(at);
        rest.resize(at);
    }
    bool hierarchical = rest.rfind("//", 0) == 0;
    if (hierarchical) {
        size_t slash = rest.find('/', 2);
        path = slash == std::string::npos ? "/" : rest.substr(slash);
    } else {
        path = rest;
    }
    std::string hostname = url->host();
    std::string port = url->port() ? std::to_string(*url->port()) : "";
    return Value::dictionary({
        {"href", href},
        {"protocol", lowercase(scheme) + ":"},
        {"host", port.empty() ? hostname : hostname + ":" + port},
        {"hostname", hostname},
        {"port", port},
        {"pathname", path},
        {"search", search},
        {"hash", hash},
    });
}

bool isJavaScriptType(const Value& type) {
    if (!type.isString()) return true;
    static const char* const kTypes[] = {
        "",  "text/javascript", "application/javascript", "text/ecmascript", "application/ecmascript",
        "application/x-javascript", "application/x-ecmascript", "text/x-javascript", "text/x-ecmascript",
        "text/jscript", "text/livescript", "text/javascript1.0", "text/javascript1.1", "text/javascript1.2",
        "text/javascript1.3", "text/javascript1.4", "text/javascript1.5",
    };
    std::string t = lowercase(trimmed(*type.string()));
    return std::find_if(std::begin(kTypes), std::end(kTypes), [&](const char* k) { return t == k; }) != std::end(kTypes);
}

// Argument `i` as text; `convert` takes it from the engine (toUTF8ForLog for
// a log line).
std::string argString(JSContextRef ctx, size_t argc, const JSValueRef argv[], size_t i,
                      std::string (*convert)(JSStringRef) = toUTF8) {
    if (i >= argc) return "";
    JSStringRef s = JSValueToStringCopy(ctx, argv[i], nullptr);
    if (!s) return "";
    std::string out = convert(s);
    JSStringRelease(s);
    return out;
}

double argNumber(JSContextRef ctx, size_t argc, const JSValueRef argv[], size_t i) {
    return i < argc ? JSValueToNumber(ctx, argv[i], nullptr) : 0;
}

NavigationKind kindNamed(const std::string& name) {
    if (name == "link") return NavigationKind::Link;
    if (name == "frame") return NavigationKind::Frame;
    if (name == "reload") return NavigationKind::Reload;
    return NavigationKind::Script;
}

LogLevel levelNamed(const std::string& name) {
    if (name == "warn") return LogLevel::Warning;
    if (name == "error") return LogLevel::Error;
    return LogLevel::Info;
}

}  // namespace

std::optional<std::string> readFilePrefix(const std::string& path, size_t maxBytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    // Read in pieces: the bound is often megabytes (a drawing's whole budget)
    // and the file a few hundred bytes.
    std::string data;
    char piece[64 * 1024];
    while (data.size() < maxBytes) {
        in.read(piece, static_cast<std::streamsize>(std::min(sizeof piece, maxBytes - data.size())));
        data.append(piece, static_cast<size_t>(in.gcount()));
        if (!in) break;
    }
    if (in.bad()) return std::nullopt;
    // A folder opens but does not read.
    if (data.empty() && in.fail() && !in.eof()) return std::nullopt;
    return data;
}

Ref<NSURL> resolvePageURL(const std::string& text, const Ref<NSURL>& base) {
    if (Ref<NSURL> url = NSURL::URLWithString(text, base)) return url;
    return NSURL::URLWithString(addPercentEscapes(text, "%#[]"), base);
}

std::shared_ptr<PageEnvironment> PageEnvironment::install(const Ref<JSContext>& context, PageHost* host) {
    std::shared_ptr<PageEnvironment> env(new PageEnvironment());
    env->context_ = context;
    env->host_ = host;
    env->documentURL_ = NSURL::URLWithString("about:blank");
    if (!context || !context->isValid()) return env;
    env->installScope();
    EngineAccess::core(*context)->acceptsSetup = true;
    return env;
}

void PageEnvironment::installScope() {
    Ref<JSContext> context = this->context();
    if (!context || !context->isValid()) return;
    std::shared_ptr<ContextCore> core = EngineAccess::core(*context);
    JSContextRef ctx = core->ctx;
    Weak<PageEnvironment> weak = weak_from_this();
    Weak<ContextCore> weakCore = core;

    core->frozenHandler = [weak] {
        if (auto env = weak.lock()) env->pageFroze();
    };
    JSValue hooks = core->wrap(JSObjectMake(ctx, nullptr, nullptr));
    JSObjectRef hooksObject = JSValueToObject(ctx, EngineAccess::ref(hooks), nullptr);
    auto hook = [&](const char* name, NativeFunction fn) {
        JSObjectSetProperty(ctx, hooksObject, JSString(name).get(), core->makeFunction(std::move(fn)),
                            kJSPropertyAttributeNone, nullptr);
    };
    hook("navigate", [weak](JSContextRef c, JSObjectRef, size_t argc, const JSValueRef argv[], JSValueRef*) {
        if (auto env = weak.lock()) env->requestNavigation(argString(c, argc, argv, 0), kindNamed(argString(c, argc, argv, 1)));
        return nullptr;
    });
    hook("setTimer", [weak](JSContextRef c, JSObjectRef, size_t argc, const JSValueRef argv[], JSValueRef*) {
        if (auto env = weak.lock())
            env->setTimer(static_cast<int64_t>(argNumber(c, argc, argv, 0)), argNumber(c, argc, argv, 1));
        return nullptr;
    });
    hook("clearTimer", [weak](JSContextRef c, JSObjectRef, size_t argc, const JSValueRef argv[], JSValueRef*) {
        if (auto env = weak.lock()) env->clearTimer(static_cast<int64_t>(argNumber(c, argc, argv, 0)));
        return nullptr;
    });
    hook("log", [weakCore](JSContextRef c, JSObjectRef, size_t argc, const JSValueRef argv[], JSValueRef*) {
        auto core = weakCore.lock();
        if (!core) return nullptr;
        const std::string level = argString(c, argc, argv, 0);
        const std::string kind = "JS " + level;
        core->pageLog->write(levelNamed(level), kind, kind + ": " + argString(c, argc, argv, 1, toUTF8ForLog));
        return nullptr;
    });
    hook("parseHTML", [weak](JSContextRef c, JSObjectRef, size_t argc, const JSValueRef argv[], JSValueRef*) {
        std::string html = argString(c, argc, argv, 0);
        std::optional<std::string> fragment;
        if (argc > 1 && JSValueIsString(c, argv[1])) fragment = argString(c, argc, argv, 1);
        std::string nodes = parseHTMLToNodeList(html, fragment, [&](std::string line) {
            if (auto env = weak.lock()) env->logPageLine(kParseBoundKind, std::move(line));
        });
        JSValueRef list = JSValueMakeFromJSONString(c, JSString(nodes).get());
        return list ? list : JSObjectMakeArray(c, 0, nullptr, nullptr);
    });
    hook("resolveURL", [weak, weakCore](JSContextRef c, JSObjectRef, size_t argc, const JSValueRef argv[],
                                        JSValueRef*) -> JSValueRef {
        auto env = weak.lock();
        auto core = weakCore.lock();
        Ref<NSURL> url = env ? env->resolve(argString(c, argc, argv, 0)) : nullptr;
        if (!url || !core || !core->alive()) return JSValueMakeNull(c);
        return core->fromValue(urlParts(url));
    });
    hook("viewport", [weak](JSContextRef c, JSObjectRef, size_t, const JSValueRef[], JSValueRef*) -> JSValueRef {
        auto env = weak.lock();
        CGSize size = env ? env->viewportSize() : CGSize{};
        JSValueRef items[] = {JSValueMakeNumber(c, size.width), JSValueMakeNumber(c, size.height)};
        return JSObjectMakeArray(c, 2, items, nullptr);
    });
    hook("userAgent", [](JSContextRef c, JSObjectRef, size_t, const JSValueRef[], JSValueRef*) -> JSValueRef {
        return JSValueMakeString(c, JSString(UIWebView::userAgent()).get());
    });
    hook("reportError", [weak, weakCore](JSContextRef, JSObjectRef, size_t argc, const JSValueRef argv[], JSValueRef*) {
        auto env = weak.lock();
        auto core = weakCore.lock();
        if (core && argc > 0) core->reportException(argv[0], env ? env->documentURL_->absoluteString() : "");
        return nullptr;
    });
    JSObjectSetProperty(ctx, hooksObject, JSString("devicePixelRatio").get(),
                        JSValueMakeNumber(ctx, UIScreen::mainScreen()->scale()), kJSPropertyAttributeNone, nullptr);

    JSValue prelude =
        EngineAccess::evaluatePageScript(*context, kPageEnvironmentScript, std::string("platform:page_environment.js"));
    env_ = prelude.callWithArguments({hooks, context->globalObject()});
    if (!env_.isObject()) logError("web view: the page environment did not start");
    // The empty document a scope starts with, complete at once.
    commitDocument(NSURL::URLWithString("about:blank"), "");
    env_.invokeMethod("interactive", {});
    env_.invokeMethod("complete", {});
}

JSValue PageEnvironment::commitDocument(const Ref<NSURL>& url, std::string_view html) {
    Ref<JSContext> context = this->context();
    if (!context || !context->isValid()) return JSValue();
    std::shared_ptr<ContextCore> core = EngineAccess::core(*context);
    std::string nodes = parseHTMLToNodeList(html, std::nullopt,
                                            [&](std::string line) { logPageLine(kParseBoundKind, std::move(line)); });
    JSValue records = core->wrap(JSValueMakeFromJSONString(core->ctx, JSString(nodes).get()));
    return env_.invokeMethod("commit", {JSValue::valueWithObject(urlParts(url), context), records});
}

void PageEnvironment::renewScope() {
    Ref<JSContext> context = this->context();
    if (!context) return;
    std::shared_ptr<EngineGroup> group = EngineAccess::core(*context)->group;
    EngineAccess::renewScope(*context);
    installScope();
    EngineAccess::restoreNativeSetup(*context);
    collectSoon(group);
}

void PageEnvironment::pageFroze() {
    Ref<JSContext> context = this->context();
    if (!context || !context->isValid()) return;
    cancelTimers();
    frozenMarkup_ = currentMarkup();
    std::shared_ptr<EngineGroup> group = EngineAccess::core(*context)->group;
    EngineAccess::replaceFrozenScope(*context);
    // Collected now, and again once the task is done, for what a stale
    // reference on the stack kept alive.
    collectLeftScopes(*group);
    returnFreedEngineMemory();
    collectSoon(group);
}

PageEnvironment::~PageEnvironment() { cancelTimers(); }

void PageEnvironment::detach() {
    host_ = nullptr;
    cancelTimers();
}

void PageEnvironment::cancelTimers() {
    for (auto& [id, timer] : timers_) timer->invalidate();
    timers_.clear();
    if (refreshTimer_) refreshTimer_->invalidate();
    refreshTimer_ = nullptr;
}

CGSize PageEnvironment::viewportSize() const { return host_ ? host_->pageViewportSize() : CGSize{}; }

Ref<NSURL> PageEnvironment::resolve(std::string_view text) const {
    std::string t = trimmed(text);
    if (t.empty()) return documentURL_;
    if (t.size() > kMaximumURLLength) return nullptr;
    return resolvePageURL(t, documentURL_);
}

bool PageEnvironment::frozen() const {
    Ref<JSContext> ctx = context();
    return !ctx || !ctx->isValid() || EngineAccess::core(*ctx)->frozen;
}

bool PageEnvironment::runStep(const std::function<void()>& step) {
    if (frozen()) return false;
    step();
    if (!frozen()) return true;
    cancelTimers();
    return false;
}

bool PageEnvironment::beginDocument(const Ref<NSURL>& url, std::string_view html,
                                    const std::function<bool()>& keepGoing) {
    auto keep = shared_from_this();
    std::shared_ptr<void> keepHost = host_ ? host_->pageRetainHost() : nullptr;
    Ref<JSContext> ctx = context();
    if (!ctx || !ctx->isValid()) return false;
    cancelTimers();
    ++generation_;
    frozenMarkup_.reset();
    // The first page takes the scope native code set up for it; later ones
    // (and a first one whose setup froze) start from a fresh scope.
    if (!EngineAccess::core(*ctx)->acceptsSetup || frozen()) renewScope();
    EngineAccess::core(*ctx)->acceptsSetup = false;
    documentURL_ = url;

    Value scripts;
    runStep([&] { scripts = commitDocument(url, html).toArray(); });

    for (const Value& script : scripts.isArray() ? *scripts.array() : Value::Array{}) {
        if (!keepGoing()) return false;
        if (frozen()) break;
        if (!isJavaScriptType(script["type"])) continue;
        if (const std::string* src = script["src"].string()) {
            if (src->size() > kMaximumURLLength) {
                logPageLine("web view: script refused", "web view: script refused: its URL is " +
                                                            std::to_string(src->size()) + " bytes, over the bound of " +
                                                            std::to_string(kMaximumURLLength));
                continue;
            }
            Ref<NSURL> scriptURL = resolve(*src);
            if (trimmed(*src).empty() || !scriptURL) {
                logPageLine("web view: script skipped",
                            "web view: script with an unusable src skipped: \"" + urlForLog(*src) + "\"");
                continue;
            }
            std::optional<std::string> source = loadScriptSource(scriptURL);
            if (!source) continue;
            runStep([&] { EngineAccess::evaluatePageScript(*ctx, *source, scriptURL->absoluteString()); });
        } else {
            runStep([&] { EngineAccess::evaluatePageScript(*ctx, script["text"].stringValue(), url->absoluteString()); });
        }
    }
    return keepGoing();
}

void PageEnvironment::markInteractive() {
    auto keep = shared_from_this();
    std::shared_ptr<void> keepHost = host_ ? host_->pageRetainHost() : nullptr;
    runStep([&] { env_.invokeMethod("interactive", {}); });
}

void PageEnvironment::markComplete() {
    auto keep = shared_from_this();
    std::shared_ptr<void> keepHost = host_ ? host_->pageRetainHost() : nullptr;
    if (runStep([&] { env_.invokeMethod("complete", {}); })) scheduleRefresh();
}

std::optional<std::string> PageEnvironment::loadScriptSource(const Ref<NSURL>& url) {
    auto notLoaded = [&](const std::string& why) {
        logPageLine(kNotLoadedKind, std::string(kNotLoadedKind) + ": " + urlForLog(url->absoluteString()) + ": " + why);
    };
    std::string scheme = lowercase(url->scheme());
    if (scheme == "file") {
        auto text = readFilePrefix(url->path(), kMaximumDocumentBytes);
        if (!text) notLoaded("no such file");
        return text;
    }
    if (scheme != "http" && scheme != "https" && scheme != "data") {
        notLoaded("unsupported scheme");
        return std::nullopt;
    }
    auto request = NSMutableURLRequest::requestWithURL(url, NSURLRequestUseProtocolCachePolicy, kScriptFetchTimeout);
    request->setValue(UIWebView::userAgent(), "User-Agent");
    Ref<NSURLResponse> response;
    Ref<NSError> error;
    std::optional<NSData> body = NSURLConnection::sendSynchronousRequest(*request, &response, &error);
    auto http = std::dynamic_pointer_cast<NSHTTPURLResponse>(response);
    if (!body || (http && (http->statusCode() < 200 || http->statusCode() > 299))) {
        std::string why = error ? error->localizedDescription()
                                : "HTTP status " + std::to_string(http ? http->statusCode() : 0);
        notLoaded(why);
        return std::nullopt;
    }
    std::string text = body->toString();
    if (text.size() > kMaximumDocumentBytes) text.resize(kMaximumDocumentBytes);
    return text;
}

void PageEnvironment::logPageLine(std::string_view kind, std::string line) const {
    Ref<JSContext> ctx = context();
    if (ctx) EngineAccess::core(*ctx)->pageLog->write(LogLevel::Warning, kind, std::move(line));
    else log(LogLevel::Warning, line);
}

void PageEnvironment::scheduleRefresh() {
    Value refresh = env_.invokeMethod("metaRefresh", {}).toDictionary();
    if (!refresh.isDictionary()) return;
    double delay = std::clamp(refresh["delay"].doubleValue(), 0.0, 1e7);
    std::optional<std::string> target;
    if (refresh["url"].isString()) target = *refresh["url"].string();
    Weak<PageEnvironment> weak = weak_from_this();
    uint64_t generation = generation_;
    refreshTimer_ = runtime::scheduleMainThreadCall(delay, [weak, generation, target] {
        auto env = weak.lock();
        if (!env || env->generation_ != generation || env->frozen()) return;
        if (target) env->requestNavigation(*target, NavigationKind::Script);
        else if (env->host_) env->host_->pageRequestsNavigation(env->documentURL_, NavigationKind::Script);
    });
}

void PageEnvironment::setDocumentURL(const Ref<NSURL>& url) {
    documentURL_ = url;
    if (Ref<JSContext> ctx = context()) env_.invokeMethod("setURL", {JSValue::valueWithObject(urlParts(url), ctx)});
}

void PageEnvironment::requestNavigation(const std::string& text, NavigationKind kind) {
    std::string t = trimmed(text);
    if (t.size() > kMaximumURLLength) {
        logPageLine("web view: navigation refused", "web view: navigation refused: its URL is " +
                                                        std::to_string(t.size()) + " bytes, over the bound of " +
                                                        std::to_string(kMaximumURLLength));
        return;
    }
    if (hasPrefixIgnoringCase(t, "javascript:")) {
        // Script URLs run their code in the document, later, as a task
        // (frames have no document of their own to run it in).
        if (kind == NavigationKind::Frame) return;
        std::string code = removePercentEscapes(t.substr(11)).value_or(t.substr(11));
        Weak<PageEnvironment> weak = weak_from_this();
        uint64_t generation = generation_;
        runtime::postToMainThread([weak, generation, code] {
            auto env = weak.lock();
            if (!env || env->generation_ != generation) return;
            std::shared_ptr<void> keepHost = env->host_ ? env->host_->pageRetainHost() : nullptr;
            if (Ref<JSContext> ctx = env->context())
                env->runStep([&] { EngineAccess::evaluatePageScript(*ctx, code, env->documentURL_->absoluteString()); });
        });
        return;
    }
    Ref<NSURL> url = kind == NavigationKind::Reload ? documentURL_ : resolve(t);
    if (!url) {
        logPageLine("web view: navigation ignored",
                    "web view: navigation to an invalid URL ignored: \"" + urlForLog(text) + "\"");
        return;
    }
    if (host_) host_->pageRequestsNavigation(url, kind);
}

void PageEnvironment::setTimer(int64_t id, double milliseconds) {
    if (timers_.size() >= kMaximumTimers && !timers_.count(id)) {
        logPageLine("web view: page timer refused",
                    "web view: page timer refused: more than " + std::to_string(kMaximumTimers) + " pending");
        return;
    }
    Weak<PageEnvironment> weak = weak_from_this();
    uint64_t generation = generation_;
    double seconds = std::isfinite(milliseconds) && milliseconds > 0 ? milliseconds / 1000.0 : 0;
    auto timer = runtime::scheduleMainThreadCall(seconds, [weak, id, generation] {
        if (auto env = weak.lock()) env->fireTimer(id, generation);
    });
    Ref<runtime::RunLoopTimer>& slot = timers_[id];
    if (slot) slot->invalidate();
    slot = timer;
}

void PageEnvironment::clearTimer(int64_t id) {
    if (auto it = timers_.find(id); it != timers_.end()) {
        it->second->invalidate();
        timers_.erase(it);
    }
}

void PageEnvironment::fireTimer(int64_t id, uint64_t generation) {
    if (generation != generation_) return;
    auto keep = shared_from_this();
    std::shared_ptr<void> keepHost = host_ ? host_->pageRetainHost() : nullptr;
    timers_.erase(id);
    Ref<JSContext> ctx = context();
    if (!ctx) return;
    runStep([&] { env_.invokeMethod("fireTimer", {JSValue::valueWithDouble(static_cast<double>(id), ctx)}); });
}

PageEnvironment::DrawingMarkup PageEnvironment::markupForDrawing() const {
    return frozenMarkup_ ? *frozenMarkup_ : currentMarkup();
}

PageEnvironment::DrawingMarkup PageEnvironment::currentMarkup() const {
    Ref<JSContext> ctx = context();
    if (!ctx || !ctx->isValid() || !env_.isObject()) return {};
    // Taking the markup runs nothing the page defined: a frozen page admits it.
    std::shared_ptr<ContextCore> core = EngineAccess::core(*ctx);
    core->admitFrozen = true;
    auto number = [&](size_t n) { return JSValue::valueWithDouble(static_cast<double>(n), ctx); };
    std::vector<JSValue> arguments{number(PageDrawing::kMaximumElements), number(PageDrawing::kMaximumReads),
                                   number(PageDrawing::kMaximumMarkup), number(kMaximumDepth)};
    for (std::string_view name : PageDrawing::kBackgroundElements)
        arguments.push_back(JSValue::valueWithString(std::string(name), ctx));
    JSValue drawing = env_.invokeMethod("drawingMarkup", arguments);
    // A fault of the prelude (logged by the context) gives no markup.
    DrawingMarkup out{drawing.valueForProperty("markup").toString().value_or(""), std::nullopt};
    std::string bound = drawing.valueForProperty("bound").toString().value_or("");
    core->admitFrozen = false;
    if (bound == "elements") out.bound = std::to_string(PageDrawing::kMaximumElements) + " elements";
    else if (bound == "reads") out.bound = std::to_string(PageDrawing::kMaximumReads) + " nodes and attributes read";
    else if (bound == "characters") out.bound = std::to_string(PageDrawing::kMaximumMarkup) + " characters of markup";
    return out;
}

bool PageEnvironment::clickElement(const std::string& elementId) {
    auto keep = shared_from_this();
    std::shared_ptr<void> keepHost = host_ ? host_->pageRetainHost() : nullptr;
    Ref<JSContext> ctx = context();
    bool clicked = false;
    if (ctx) runStep([&] { clicked = env_.invokeMethod("clickElement", {JSValue::valueWithString(elementId, ctx)}).toBool(); });
    return clicked;
}

void PageEnvironment::clickHref(const std::string& href) {
    auto keep = shared_from_this();
    std::shared_ptr<void> keepHost = host_ ? host_->pageRetainHost() : nullptr;
    Ref<JSContext> ctx = context();
    if (ctx && !frozen()) runStep([&] { env_.invokeMethod("clickHref", {JSValue::valueWithString(href, ctx)}); });
    else requestNavigation(href, NavigationKind::Link);
}

}  // namespace platform::web
