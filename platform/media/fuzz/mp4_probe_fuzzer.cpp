// libFuzzer entry point for the MP4 header probe.
#include <cstddef>
#include <cstdint>

#include "platform/media/Mp4Probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)platform::Mp4Probe::probeBytes(data, size);
    return 0;
}
