#include "platform/foundation/Random.h"

#include "platform/foundation/Hook.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>

namespace platform::testing {

namespace {
Hook<uint32_t()>& source() {
    static auto* hook = new Hook<uint32_t()>;  // never destroyed: threads may ask during exit
    return *hook;
}
}  // namespace

void setRandomSource(std::function<uint32_t()> fn) { source().set(std::move(fn)); }

static std::shared_ptr<const std::function<uint32_t()>> currentSource() { return source().get(); }

static void systemRandom(void* buffer, size_t size) {
    auto* p = static_cast<uint8_t*>(buffer);
    while (size > 0) {
        const ssize_t n = getrandom(p, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) std::abort();  // the kernel's generator is not expected to fail
        p += n;
        size -= static_cast<size_t>(n);
    }
}

}  // namespace platform::testing

extern "C" uint32_t arc4random(void) noexcept {
    if (auto source = platform::testing::currentSource()) return (*source)();
    uint32_t v;
    platform::testing::systemRandom(&v, sizeof v);
    return v;
}

extern "C" void arc4random_buf(void* buffer, size_t size) noexcept {
    if (auto source = platform::testing::currentSource()) {
        auto* p = static_cast<uint8_t*>(buffer);
        while (size > 0) {
            const uint32_t word = (*source)();
            const size_t take = size < sizeof word ? size : sizeof word;
            std::memcpy(p, &word, take);
            p += take;
            size -= take;
        }
        return;
    }
    platform::testing::systemRandom(buffer, size);
}

extern "C" uint32_t arc4random_uniform(uint32_t upperBound) noexcept {
    if (upperBound < 2) return 0;
    // A test source maps straight through (value % bound), so tests can pick
    // outcomes; a constant source could otherwise be rejected forever.
    if (auto source = platform::testing::currentSource()) return (*source)() % upperBound;
    // Reject the low values that would make the modulo biased.
    const uint32_t threshold = static_cast<uint32_t>(-upperBound) % upperBound;
    for (;;) {
        const uint32_t r = arc4random();
        if (r >= threshold) return r % upperBound;
    }
}
