// The benchmarks' reference for script work: a trivial script function
// (`function(x) { return x; }`) called through the engine's C API on a bare
// global context, with nothing of the platform around it.
#pragma once

#include <JavaScriptCore/JavaScript.h>
#include <benchmark/benchmark.h>

class BareScriptCall {
public:
    BareScriptCall() {
        JSStringRef source = JSStringCreateWithUTF8CString("(function(x) { return x; })");
        function_ = JSValueToObject(context_, JSEvaluateScript(context_, source, nullptr, nullptr, 1, nullptr), nullptr);
        JSStringRelease(source);
        argument_ = JSValueMakeNumber(context_, 1);
    }
    ~BareScriptCall() { JSGlobalContextRelease(context_); }
    BareScriptCall(const BareScriptCall&) = delete;
    BareScriptCall& operator=(const BareScriptCall&) = delete;

    void call() const {
        JSValueRef result = JSObjectCallAsFunction(context_, function_, nullptr, 1, &argument_, nullptr);
        benchmark::DoNotOptimize(result);
    }

private:
    JSGlobalContextRef context_ = JSGlobalContextCreate(nullptr);
    JSObjectRef function_ = nullptr;
    JSValueRef argument_ = nullptr;
};
