// Files that a start cannot read, as a phone's protected files are before
// its first unlock after a reboot: through the file-system seam (reads fail
// with EIO), or for real (chmod 000) in a process that has given up root's
// power to read and write any file. Header-only, for tests with or without
// the platform's fixture.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <ostream>
#include <string>

#include "platform/foundation/FileSystemConditions.h"

namespace platform::testing {

enum class Unreadable { ReadsFail, Chmod000 };

// The parameter's name in a parameterised test's name.
inline std::string unreadableName(Unreadable how) { return how == Unreadable::ReadsFail ? "ReadsFail" : "Chmod000"; }
inline void PrintTo(Unreadable how, std::ostream* out) { *out << unreadableName(how); }

// Gives up CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH for the calling thread
// and every thread started from it afterwards: capabilities are a thread's
// own, so call it before the platform or any server starts (in a fixture's
// SetUp, before the base's; in a forked child, at once). The process still
// owns what it makes. False when the thread still holds them.
inline bool dropFileAccessOverride() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    for (const unsigned cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
        const unsigned bit = 1u << (cap % 32);
        data[cap / 32].effective &= ~bit;
        data[cap / 32].permitted &= ~bit;
        data[cap / 32].inheritable &= ~bit;
    }
    return ::syscall(SYS_capset, &header, data) == 0;
}

// Makes the file at `path` unreadable the way given, or readable again.
// Chmod000 answers false when the file can still be read (the process kept
// its override) or its mode cannot be changed.
inline bool setUnreadable(const std::string& path, Unreadable how, bool unreadable) {
    if (how == Unreadable::ReadsFail) {
        FileSystemConditions::setReadsFail(path, unreadable ? std::optional<int>(EIO) : std::nullopt);
        return true;
    }
    if (::chmod(path.c_str(), unreadable ? 0 : 0644) != 0) return false;
    if (!unreadable) return true;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
    return fd < 0 && errno == EACCES;
}

// A fixture of `Base` for tests that run each way: a Chmod000 test's process
// gives up root's override before the base sets up (and starts threads).
// Instantiate with ::testing::Values(Unreadable::ReadsFail,
// Unreadable::Chmod000) and unreadableTestName.
template <class Base>
class UnreadableFileTest : public Base, public ::testing::WithParamInterface<Unreadable> {
protected:
    void SetUp() override {
        const bool dropped = this->GetParam() != Unreadable::Chmod000 || dropFileAccessOverride();
        Base::SetUp();
        ASSERT_TRUE(dropped) << "root's override could not be given up";
    }
};

inline std::string unreadableTestName(const ::testing::TestParamInfo<Unreadable>& info) {
    return unreadableName(info.param);
}

}  // namespace platform::testing
