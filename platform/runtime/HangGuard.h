// The length of a test's wait on real time. Such a wait only guards against
// a hang, so it must hold on a machine far slower than the one its length was
// chosen on: under the sanitizers, with the machine loaded to three times its
// cores. Every real-time wait of the test support takes its length from here.
#pragma once

namespace platform::testing {

// How much longer than asked a test's real-time wait lasts: three times,
// under AddressSanitizer four, under ThreadSanitizer six. HANG_GUARD_SCALE in
// the environment (a number above 0) replaces the factor.
double hangGuardScale();
// `seconds` stretched for the slowest machine a test must pass on.
inline double hangGuard(double seconds) { return seconds * hangGuardScale(); }

// True in the ThreadSanitizer build, where single-threaded work runs many
// times slower: a heavy case that proves nothing about threads runs in the
// other builds only.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kThreadSanitizerBuild = true;
#else
inline constexpr bool kThreadSanitizerBuild = false;
#endif

}  // namespace platform::testing
