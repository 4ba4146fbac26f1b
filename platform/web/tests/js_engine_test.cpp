// The script engine: values and their conversions, exceptions, exported
// native objects, managed values, tear-down and the execution time limit.
#include <cmath>
#include <thread>

#include "platform/runtime/SystemClock.h"
#include "platform/web/JSContext.h"
#include "platform/web/JSManagedValue.h"
#include "platform/web/JSVirtualMachine.h"
#include "platform/web/UIWebView.h"
#include "platform/web/tests/WebTestSupport.h"

namespace {

using webtest::WebTest;

class EngineTest : public WebTest {
protected:
    void SetUp() override {
        WebTest::SetUp();
        context = JSContext::alloc()->init();
    }
    JSValue eval(const std::string& script) { return context->evaluateScript(script); }
    Ref<JSContext> context;
};

TEST_F(EngineTest, ValueKindsAndConversions) {
    EXPECT_EQ(eval("6 * 7").toInt32(), 42);
    EXPECT_TRUE(eval("undefined").isUndefined());
    EXPECT_TRUE(eval("null").isNull());
    EXPECT_TRUE(eval("[1]").isArray());
    EXPECT_TRUE(eval("[1]").isObject());
    EXPECT_FALSE(eval("'x'").isObject());
    EXPECT_TRUE(eval("true").isBoolean());
    EXPECT_TRUE(eval("1.5").isNumber());
    EXPECT_TRUE(eval("'s'").isString());

    // Truthiness for BOOL parameters; ToInt32 wraps.
    EXPECT_FALSE(eval("''").toBool());
    EXPECT_TRUE(eval("'0'").toBool());
    EXPECT_FALSE(eval("NaN").toBool());
    EXPECT_EQ(eval("4294967297").toInt32(), 1);
    EXPECT_EQ(eval("2147483648").toInt32(), -2147483647 - 1);
    EXPECT_EQ(eval("-1.9").toInt32(), -1);
    EXPECT_EQ(eval("Infinity").toInt32(), 0);
    EXPECT_TRUE(std::isnan(eval("'abc'").toDouble()));

    // undefined and null arrive as nil; other values as String(v).
    EXPECT_EQ(eval("undefined").toString(), std::nullopt);
    EXPECT_EQ(eval("null").toString(), std::nullopt);
    EXPECT_EQ(eval("[1, 'a']").toString(), "1,a");
    EXPECT_EQ(eval("12.5").toString(), "12.5");
}

TEST_F(EngineTest, TextSurvivesTheTripThroughTheEngine) {
    std::string text = std::string("h\xC3\xA9llo \xF0\x9F\x98\x80 a\0b", 14);
    auto value = JSValue::valueWithString(text, context);
    EXPECT_EQ(value.toString(), text);
    EXPECT_EQ(value.valueForProperty("length").toInt32(), 11);  // UTF-16 units
    // Invalid bytes become U+FFFD rather than cutting the text.
    EXPECT_EQ(JSValue::valueWithString("a\xFF" "b", context).toString(), "a\xEF\xBF\xBD" "b");
}

TEST_F(EngineTest, DictionariesAndArraysGoThroughJSON) {
    Value dict = eval("({a: 1, b: 2.5, c: 'x', d: [true, null, undefined], f: function() {}, u: undefined, "
                      "n: {deep: [1]}})")
                     .toDictionary();
    ASSERT_TRUE(dict.isDictionary());
    EXPECT_EQ(dict.keys(), (std::vector<std::string>{"a", "b", "c", "d", "n"}));
    EXPECT_TRUE(dict["a"].isInteger());
    EXPECT_TRUE(dict["b"].isDouble());
    EXPECT_EQ(dict["d"].count(), 3u);
    EXPECT_TRUE(dict["d"].at(2).isNull());
    EXPECT_EQ(dict["n"]["deep"].at(0).intValue(), 1);

    EXPECT_TRUE(eval("[1, 2]").toDictionary().isNull());
    EXPECT_TRUE(eval("({})").toArray().isNull());
    EXPECT_EQ(eval("['a', {b: 1}]").toArray().count(), 2u);
    // A cycle cannot be converted: null, with the exception reported.
    expectLogLine("JS exception: TypeError");
    EXPECT_TRUE(eval("var o = {}; o.self = o; o").toDictionary().isNull());
}

TEST_F(EngineTest, NativeValuesBecomeScriptValues) {
    Value v = Value::dictionary({{"w", 320}, {"h", 480.5}, {"list", Value::array({"a", true, Value()})},
                                 {"when", NSDate::dateWithTimeIntervalSince1970(1.5)}});
    context->setObject(v, "size");
    EXPECT_EQ(eval("JSON.stringify([size.w, size.h, size.list])").toString(), "[320,480.5,[\"a\",true,null]]");
    EXPECT_EQ(eval("size.when instanceof Date && size.when.getTime()").toInt32(), 1500);
    EXPECT_EQ(eval("Object.keys(size).join()").toString(), "w,h,list,when");

    auto object = JSValue::valueWithNewObjectInContext(context);
    object.setValue(JSValue::valueWithInt32(7, context), "seven");
    object.setValue(Value("text"), "label");
    context->setObject(object, "made");
    EXPECT_EQ(eval("made.seven + made.label").toString(), "7text");
    EXPECT_EQ(context->objectForKeyedSubscript("made").valueForProperty("seven").toInt32(), 7);
    EXPECT_TRUE(JSValue::valueWithNullInContext(context).isNull());
    EXPECT_TRUE(JSValue::valueWithUndefinedInContext(context).isUndefined());
    EXPECT_TRUE(JSValue::valueWithBool(true, context).toBool());
}

TEST_F(EngineTest, FunctionsAreCalledAndComparedStrictly) {
    JSValue add = eval("(function(a, b) { return a + b; })");
    EXPECT_EQ(add.callWithArguments({JSValue::valueWithInt32(2, context), JSValue::valueWithInt32(3, context)}).toInt32(), 5);
    JSValue object = eval("({base: 10, plus(x) { return this.base + x; }})");
    EXPECT_EQ(object.invokeMethod("plus", {JSValue::valueWithInt32(5, context)}).toInt32(), 15);

    JSValue f = eval("var f = function() {}; f");
    EXPECT_TRUE(f.isEqualToObject(eval("f")));
    EXPECT_FALSE(f.isEqualToObject(eval("(function() {})")));
    EXPECT_FALSE(eval("({})").isEqualToObject(eval("({})")));

    expectLogLine("JS exception: TypeError: value is not a function");
    EXPECT_TRUE(eval("3").callWithArguments({}).isUndefined());
}

TEST_F(EngineTest, ExceptionsAreStoredAndLogged) {
    JSValue result = context->evaluateScript("var x = 1;\nnope();", std::string("file:///page.js"));
    EXPECT_TRUE(result.isUndefined());
    EXPECT_TRUE(logCapture().contains("JS exception: ReferenceError: Can't find variable: nope at file:///page.js:2"))
        << ::testing::PrintToString(logCapture().messages());
    EXPECT_EQ(context->exception().valueForProperty("name").toString(), "ReferenceError");

    context->setException(JSValue());
    EXPECT_TRUE(context->exception().isUndefined());

    std::vector<std::string> seen;
    context->setExceptionHandler([&](const Ref<JSContext>& c, const JSValue& e) {
        EXPECT_EQ(c, context);
        seen.push_back(e.toString().value_or("?"));
    });
    eval("throw 'plain'");
    JSValue thrower = eval("(function() { throw new Error('inside'); })");
    thrower.callWithArguments({});
    EXPECT_EQ(seen, (std::vector<std::string>{"plain", "Error: inside"}));
}

// ---- exported native objects -----------------------------------------------------------------

class Bridge : public NSObject, public JSExport {
public:
    std::vector<std::string> calls;
    std::vector<JSValue> lastArgs;
    Ref<JSContext> contextDuringCall;
    bool* destroyed = nullptr;

    ~Bridge() override {
        if (destroyed) *destroyed = true;
    }

    std::vector<JSExportMethod> exportedMethods() const override {
        auto self = const_cast<Bridge*>(this);
        return {
            {"getVersion", [](JSContext& c, const std::vector<JSValue>&) {
                 return JSValue::valueWithString("2.0", c.self<JSContext>());
             }},
            {"addEvent:Listener:", [self](JSContext&, const std::vector<JSValue>& args) {
                 self->calls.push_back("addEventListener/" + std::to_string(args.size()));
                 self->lastArgs = args;
                 self->contextDuringCall = JSContext::currentContext();
                 return JSValue();
             }},
            {"enableCloseButton:", [self](JSContext&, const std::vector<JSValue>& args) {
                 self->calls.push_back(std::string("enableCloseButton/") + (args[0].toBool() ? "YES" : "NO"));
                 return JSValue();
             }},
            {"fail:", [](JSContext&, const std::vector<JSValue>&) -> JSValue {
                 throw std::runtime_error("native failure");
             }},
        };
    }
};

TEST(JSExportNames, DropColonsAndCapitaliseInnerParts) {
    EXPECT_EQ(jsNameForSelector("addEvent:Listener:"), "addEventListener");
    EXPECT_EQ(jsNameForSelector("removeEvent:Listener:"), "removeEventListener");
    EXPECT_EQ(jsNameForSelector("enableCloseButton:"), "enableCloseButton");
    EXPECT_EQ(jsNameForSelector("getVersion"), "getVersion");
    EXPECT_EQ(jsNameForSelector("a:b:c:"), "aBC");
}

TEST_F(EngineTest, ExportedMethodsReceiveEveryArgumentKind) {
    auto bridge = std::make_shared<Bridge>();
    context->setObject(bridge, "bridge");
    EXPECT_EQ(eval("bridge.getVersion()").toString(), "2.0");
    EXPECT_EQ(eval("typeof bridge.addEventListener").toString(), "function");

    eval("var fn = function() { return 'called'; };"
         "bridge.addEventListener('ready', fn, 1.5, true, null, undefined, {k: [1]}, [2, 3])");
    ASSERT_EQ(bridge->lastArgs.size(), 8u);
    EXPECT_EQ(bridge->lastArgs[0].toString(), "ready");
    EXPECT_EQ(bridge->lastArgs[1].callWithArguments({}).toString(), "called");
    EXPECT_TRUE(bridge->lastArgs[1].isEqualToObject(eval("fn")));
    EXPECT_EQ(bridge->lastArgs[2].toDouble(), 1.5);
    EXPECT_TRUE(bridge->lastArgs[3].toBool());
    EXPECT_TRUE(bridge->lastArgs[4].isNull());
    EXPECT_TRUE(bridge->lastArgs[5].isUndefined());
    EXPECT_EQ(bridge->lastArgs[6].toDictionary()["k"].at(0).intValue(), 1);
    EXPECT_EQ(bridge->lastArgs[7].toArray().count(), 2u);
    EXPECT_EQ(bridge->contextDuringCall, context);
    EXPECT_EQ(JSContext::currentContext(), nullptr);

    // Missing arguments arrive as undefined, one per colon.
    eval("bridge.addEventListener()");
    ASSERT_EQ(bridge->lastArgs.size(), 2u);
    EXPECT_TRUE(bridge->lastArgs[0].isUndefined());
    EXPECT_TRUE(bridge->lastArgs[1].isUndefined());

    // BOOL parameters take script truthiness.
    eval("bridge.enableCloseButton(1); bridge.enableCloseButton(''); bridge.enableCloseButton()");
    EXPECT_EQ(bridge->calls, (std::vector<std::string>{"addEventListener/8", "addEventListener/2",
                                                       "enableCloseButton/YES", "enableCloseButton/NO",
                                                       "enableCloseButton/NO"}));
    // Methods without a result return undefined; methods work through call/apply too.
    EXPECT_EQ(eval("typeof bridge.enableCloseButton(true)").toString(), "undefined");
    EXPECT_EQ(eval("bridge.getVersion.call(null)").toString(), "2.0");
}

TEST_F(EngineTest, OneWrapperPerObjectAndItsNativeObjectComesBack) {
    auto bridge = std::make_shared<Bridge>();
    context->setObject(bridge, "first");
    context->setObject(bridge, "second");
    EXPECT_TRUE(eval("first === second").toBool());
    EXPECT_EQ(context->objectForKeyedSubscript("first").toObject<Bridge>(), bridge);
    EXPECT_EQ(eval("({})").toObject<Bridge>(), nullptr);
    context->setObject(Value(std::static_pointer_cast<NSObject>(bridge)), "third");
    EXPECT_TRUE(eval("third === first").toBool());
}

TEST_F(EngineTest, ANativeExceptionBecomesAScriptError) {
    auto bridge = std::make_shared<Bridge>();
    context->setObject(bridge, "bridge");
    expectLogLine("exported JS method fail: uncaught exception: native failure");
    EXPECT_EQ(eval("try { bridge.fail(); 'no' } catch (e) { e instanceof Error ? e.message : 'other' }").toString(),
              "native failure");
}

class BrokenExport : public NSObject, public JSExport {
public:
    std::vector<JSExportMethod> exportedMethods() const override { throw std::runtime_error("no methods"); }
};

TEST_F(EngineTest, ThrowingHandlersAndExportsAreContained) {
    expectLogLine("exported JS methods: uncaught exception: no methods");
    context->setObject(std::make_shared<BrokenExport>(), "broken");
    EXPECT_EQ(eval("typeof broken + ' ' + Object.keys(broken).length").toString(), "object 0");

    expectLogLine("JS exception handler: uncaught exception: handler failure");
    context->setExceptionHandler([](const Ref<JSContext>&, const JSValue&) { throw std::runtime_error("handler failure"); });
    EXPECT_TRUE(eval("throw 1").isUndefined());
    EXPECT_EQ(context->exception().toInt32(), 1);
}

TEST_F(EngineTest, TearDownReleasesNativeObjectsAndValues) {
    bool destroyed = false;
    JSValue kept;
    Ref<JSManagedValue> managed;
    {
        auto bridge = std::make_shared<Bridge>();
        bridge->destroyed = &destroyed;
        context->setObject(bridge, "bridge");
        kept = eval("({name: 'kept'})");
        managed = JSManagedValue::managedValueWithValue(eval("(function listener() {})"));
        context->virtualMachine()->addManagedReference(managed, bridge.get());
        // A cycle: the page's function is held by the native object the page holds.
        bridge->lastArgs.push_back(eval("bridge"));
    }
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(kept.valueForProperty("name").toString(), "kept");
    EXPECT_TRUE(managed->value().isObject());

    context = nullptr;  // the bare context is destroyed
    EXPECT_TRUE(destroyed);
    EXPECT_TRUE(kept.isUndefined());
    EXPECT_FALSE(kept.isObject());
    EXPECT_EQ(kept.toString(), std::nullopt);
    EXPECT_EQ(kept.context(), nullptr);
    EXPECT_TRUE(managed->value().isUndefined());
    EXPECT_TRUE(kept.callWithArguments({}).isUndefined());
}

// Made in a frame of its own, so no stray copy of the value stays on the
// test's stack for the collector to find.
__attribute__((noinline)) Ref<JSManagedValue> managedFunction(JSContext& context, const char* name) {
    return JSManagedValue::managedValueWithValue(context.evaluateScript(std::string("(function ") + name + "() {})"));
}

TEST_F(EngineTest, ManagedReferencesGovernWhatSurvivesACollection) {
    auto vm = context->virtualMachine();
    EXPECT_EQ(vm, JSVirtualMachine::sharedVirtualMachine());
    auto owner = NSObject::alloc();
    auto owned = managedFunction(*context, "owned");
    vm->addManagedReference(owned, owner.get());
    vm->addManagedReference(owned, owner.get());
    auto unowned = managedFunction(*context, "unowned");
    auto referenced = managedFunction(*context, "referenced");
    context->setObject(referenced->value(), "keptByThePage");
    auto number = JSManagedValue::managedValueWithValue(eval("42"));

    platform::testing::collectScriptGarbageNow();
    EXPECT_TRUE(owned->value().isObject());
    EXPECT_TRUE(unowned->value().isUndefined());  // nothing kept it
    EXPECT_TRUE(referenced->value().isObject());  // the page itself refers to it
    EXPECT_EQ(number->value().toInt32(), 42);     // values that are not objects stay

    // Each add needs its own remove; a remove never added is ignored.
    vm->removeManagedReference(owned, owner.get());
    platform::testing::collectScriptGarbageNow();
    EXPECT_TRUE(owned->value().isObject());
    vm->removeManagedReference(owned, owner.get());
    vm->removeManagedReference(owned, owner.get());
    platform::testing::collectScriptGarbageNow();
    EXPECT_TRUE(owned->value().isUndefined());

    // An owner that goes away lets go of what it held.
    auto shortLived = NSObject::alloc();
    auto orphaned = managedFunction(*context, "orphaned");
    vm->addManagedReference(orphaned, shortLived.get());
    platform::testing::collectScriptGarbageNow();
    EXPECT_TRUE(orphaned->value().isObject());
    shortLived = nullptr;
    platform::testing::collectScriptGarbageNow();
    EXPECT_TRUE(orphaned->value().isUndefined());
}

TEST_F(EngineTest, ValuesMayBeDroppedOnAnotherThread) {
    JSValue value = eval("({x: 1})");
    std::thread([copy = value]() mutable { copy = JSValue(); }).join();
    EXPECT_EQ(value.valueForProperty("x").toInt32(), 1);
    value = JSValue();
    EXPECT_EQ(eval("1 + 1").toInt32(), 2);  // the pending release is taken care of
}

TEST_F(EngineTest, EndlessScriptIsStoppedAndTheContextGoesOn) {
    expectLogLine("JS execution time limit exceeded");
    EXPECT_TRUE(eval("for (;;) {}").isUndefined());
    EXPECT_TRUE(eval("try { while (true) {} } catch (e) { 'caught' }").isUndefined());
    EXPECT_EQ(eval("2 + 2").toInt32(), 4);
}

// A builtin keeps the watchdog from waking while it runs (here a backtracking
// match, made to take three times the limit): the limit still counts from the
// call's start, so the loop after it is stopped at its first wake, not given
// the limit again.
TEST_F(EngineTest, TheTimeLimitCountsFromTheCallsStartThroughALongBuiltin) {
    constexpr double kLimit = 0.04;
    JSVirtualMachine::setExecutionTimeLimit(30);
    eval("var pattern = /^(a+)+$/, text = 'ab', loops = 0;");
    // The engine gives up a match after a fixed number of steps: a bound.
    double took = 0;
    while (took < 3 * kLimit && eval("text.length").toInt32() < 40) {
        eval("text = 'a' + text");
        const double start = SystemClock::threadProcessorSeconds();
        EXPECT_FALSE(eval("pattern.test(text)").toBool());
        took = SystemClock::threadProcessorSeconds() - start;
    }
    ASSERT_GE(took, 3 * kLimit);

    JSVirtualMachine::setExecutionTimeLimit(kLimit);
    expectLogLine("JS execution time limit exceeded");
    eval("pattern.test(text); for (;;) loops++;");
    EXPECT_EQ(logCapture().count("time limit exceeded"), 1u);
    EXPECT_LT(eval("loops").toDouble(), 1000) << "length " << eval("text.length").toInt32();
}

// Each web view's pages live in a heap of their own: a value of another
// one's reaches a call as undefined, never as a foreign pointer.
TEST_F(EngineTest, ValuesOfAnotherWebViewsHeapArriveUndefined) {
    auto first = UIWebView::alloc();
    first->initWithFrame(CGRectMake(0, 0, 10, 10));
    auto second = UIWebView::alloc();
    second->initWithFrame(CGRectMake(0, 0, 10, 10));
    JSValue object = first->javaScriptContext()->evaluateScript("({name: 'first'})");
    JSValue isUndefined = second->javaScriptContext()->evaluateScript("(function (o) { return o === undefined; })");
    EXPECT_EQ(isUndefined.callWithArguments({object}).toString(), "true");
    second->javaScriptContext()->setObject(object, "given");
    EXPECT_EQ(second->stringByEvaluatingJavaScriptFromString("given === undefined"), "true");
    EXPECT_FALSE(object.isEqualToObject(second->javaScriptContext()->evaluateScript("({})")));
    // Bare contexts share a heap: their values pass.
    JSValue bare = eval("({name: 'bare'})");
    auto other = JSContext::alloc()->init();
    EXPECT_EQ(other->evaluateScript("(function (o) { return o.name; })").callWithArguments({bare}).toString(), "bare");
}

// A script evaluated again and again is kept parsed: each evaluation still
// runs it anew, in the scope of the moment, and reports its errors at the
// URL it was given this time.
TEST_F(EngineTest, RepeatedScriptsRunEachTimeAndReportTheirOwnURL) {
    const std::string count = "n = (typeof n === 'number' ? n : 0) + 1";
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(eval(count).toInt32(), i);

    const std::string failing = "var y = 1;\nmissing();";
    for (int i = 0; i < 3; ++i) context->evaluateScript(failing, std::string("file:///a.js"));
    context->evaluateScript(failing, std::string("file:///b.js"));
    context->evaluateScript(failing);
    auto lines = [&](const std::string& text) {
        size_t n = 0;
        for (const auto& line : logCapture().messages()) n += line.find(text) != std::string::npos;
        return n;
    };
    EXPECT_EQ(lines("Can't find variable: missing at file:///a.js:2"), 3u);
    EXPECT_EQ(lines("Can't find variable: missing at file:///b.js:2"), 1u);
    EXPECT_EQ(lines("Can't find variable: missing at <anonymous>:2"), 1u);

    // One that does not parse is reported every time.
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(eval("function (").isUndefined());
    EXPECT_EQ(lines("SyntaxError"), 3u);
}

TEST_F(EngineTest, AWebViewsAnswerIsTheResultsTextInTheCurrentPage) {
    auto view = webViewWithDelegate();
    view->loadHTMLString("<script>var who = 'one'; var o = {toString() { return 'object ' + who; }};</script>",
                         url("file:///one.html"));
    ASSERT_TRUE(waitFor("finish"));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(WebTest::eval(view, "who"), "one");
        EXPECT_EQ(WebTest::eval(view, "o"), "object one");
    }
    EXPECT_EQ(WebTest::eval(view, "6 * 7"), "42");
    EXPECT_EQ(WebTest::eval(view, "1 / 0 < 0"), "false");
    EXPECT_EQ(WebTest::eval(view, "undefined"), "");
    EXPECT_EQ(WebTest::eval(view, "null"), "");
    EXPECT_EQ(WebTest::eval(view, "'caf\\u00e9'"), "caf\xc3\xa9");
    EXPECT_EQ(WebTest::eval(view, "Symbol('s')"), "");
    EXPECT_TRUE(logCapture().contains("TypeError")) << ::testing::PrintToString(logCapture().messages());

    delegate->events.clear();
    view->loadHTMLString("<script>var who = 'two'; var o = {toString() { return 'object ' + who; }};</script>",
                         url("file:///two.html"));
    ASSERT_TRUE(waitFor("finish"));
    EXPECT_EQ(WebTest::eval(view, "who"), "two");
    EXPECT_EQ(WebTest::eval(view, "o"), "object two");
    WebTest::eval(view, "nothing.here");
    EXPECT_TRUE(logCapture().contains("at file:///two.html:1")) << ::testing::PrintToString(logCapture().messages());
}

TEST_F(EngineTest, RunawayRecursionIsAnException) {
    expectLogLine("RangeError");
    EXPECT_TRUE(eval("function f() { return f(); } f()").isUndefined());
    EXPECT_EQ(eval("'still here'").toString(), "still here");
}

}  // namespace
