// libFuzzer entry point for the Relay configuration answer decoder: any bytes
// go through the same path as a server's answer body.
#include <cstddef>
#include <cstdint>

#include "analytics/relay/OrreryRelayResponse.h"
#include "platform/runtime/Log.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every rejected input logs a line; fuzzing would mostly print.
    platform::setLogSink([](platform::LogLevel, std::string_view) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Ref<OrreryRelayResponse> parser = OrreryRelayResponse::alloc<OrreryRelayResponse>()->init();
    static const NSDate now = NSDate::dateWithTimeIntervalSince1970(1'700'000'000);
    Ref<OrreryRelaySettings> settings = parser->parseRelayResponse(NSData(data, size), now);
    if (settings) (void)settings->dataDictionary();
    return 0;
}
