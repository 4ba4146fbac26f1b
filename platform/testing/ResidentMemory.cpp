#include "platform/testing/ResidentMemory.h"

#include <malloc.h>

#include <fstream>
#include <string>
#include <unistd.h>

extern "C" {
// AddressSanitizer's: drains its quarantine and returns free memory to the system.
__attribute__((weak)) void __sanitizer_purge_allocator();
// The sanitizers' count of the bytes live allocations hold.
__attribute__((weak)) size_t __sanitizer_get_current_allocated_bytes();
}

namespace platform::testing {

namespace {

// A "Vm…:  <n> kB" line of /proc/self/status.
size_t statusKilobytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) != 0) continue;
        return std::stoull(line.substr(field.size() + 1)) * 1024;
    }
    return 0;
}

}  // namespace

size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    size_t size = 0, resident = 0;
    if (!(statm >> size >> resident)) return 0;
    return resident * static_cast<size_t>(::sysconf(_SC_PAGESIZE));
}

size_t peakResidentBytes() { return statusKilobytes("VmHWM"); }

bool resetPeakResidentBytes() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

void releaseFreedMemory() {
    if (__sanitizer_purge_allocator) __sanitizer_purge_allocator();
}

size_t allocatedBytes() {
    if (__sanitizer_get_current_allocated_bytes) return __sanitizer_get_current_allocated_bytes();
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

}  // namespace platform::testing
