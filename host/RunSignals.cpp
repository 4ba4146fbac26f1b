#include "host/RunSignals.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

std::atomic<bool> quitRequestedFlag{false};
std::atomic<int> quitSignalNumber{0};
std::atomic<pid_t> forwardedChild{0};

// A path the second signal removes. `state` orders the main thread's writes
// before a handler's reads: free, being written, ready.
struct AbortPath {
    enum State : int { Free, Writing, Ready };
    std::atomic<int> state{Free};
    bool folder = false;
    char path[PATH_MAX] = {};
};
// Two lock files and a sandbox per run, with room to spare.
std::array<AbortPath, 8> abortPaths;

// What the second signal says, kept in the same way: a handler that finds it
// being written says nothing. (It is rewritten only between a run's steps.)
struct AbortNote {
    std::atomic<int> state{AbortPath::Free};
    char text[PATH_MAX + 256] = {};
};
AbortNote abortNote;

void writeAll(const char* text, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(STDERR_FILENO, text, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        size -= static_cast<size_t>(n);
    }
}

void sayAbortNote(int signal) {
    if (abortNote.state.load() != AbortPath::Ready) return;
    const char* name = signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "signal";
    writeAll("host: second ", 13);
    writeAll(name, std::strlen(name));
    writeAll(": ", 2);
    writeAll(abortNote.text, std::strlen(abortNote.text));
    writeAll("\n", 1);
}

// Removes the entries of the open folder `fd` and everything below them, with
// system calls alone (no allocation), so that a signal handler may call it.
void removeEntriesAt(int fd, int depth) {
    alignas(8) char buffer[4096];
    for (;;) {
        ssize_t n = ::getdents64(fd, buffer, sizeof buffer);
        if (n <= 0) return;
        bool removed = false;
        for (ssize_t at = 0; at < n;) {
            auto* entry = reinterpret_cast<dirent64*>(buffer + at);
            at += entry->d_reclen;
            const char* name = entry->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
            if (::unlinkat(fd, name, 0) == 0) {
                removed = true;
                continue;
            }
            // A folder: emptied first (a bounded depth: no loop through links,
            // which are never followed, can make it deeper).
            int inner = depth < 64 ? ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
            if (inner < 0) continue;
            removeEntriesAt(inner, depth + 1);
            ::close(inner);
            if (::unlinkat(fd, name, AT_REMOVEDIR) == 0) removed = true;
        }
        // Removing entries while reading can make the listing skip some:
        // read it again from the start.
        if (removed) ::lseek(fd, 0, SEEK_SET);
    }
}

void removeFolder(const char* path) {
    int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    removeEntriesAt(fd, 0);
    ::close(fd);
    ::rmdir(path);
}

void onSignal(int signal) {
    const int savedErrno = errno;
    pid_t child = forwardedChild.load();
    if (child > 0) ::kill(child, signal);
    if (!quitRequestedFlag.load()) {
        RunSignals::requestQuit(signal);
        errno = savedErrno;
        return;
    }
    // The second one: the child ends at once too (its own handler cleans up
    // after it); what this process leaves behind goes, then it ends by the
    // signal.
    if (child > 0) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    RunSignals::removeRegistered();
    sayAbortNote(signal);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

void RunSignals::install() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void RunSignals::requestQuit(int signal) {
    quitSignalNumber.store(signal);
    quitRequestedFlag.store(true);
}

bool RunSignals::quitRequested() { return quitRequestedFlag.load(); }

int RunSignals::quitSignal() { return quitSignalNumber.load(); }

int RunSignals::exitStatus() {
    const int signal = quitSignal();
    return signal > 0 ? 128 + signal : 0;
}

void RunSignals::forwardTo(pid_t child) { forwardedChild.store(child); }

void RunSignals::removeOnAbort(const std::string& path, bool folder) {
    if (path.empty() || path.size() >= PATH_MAX) return;
    for (AbortPath& slot : abortPaths) {
        int expected = AbortPath::Free;
        if (!slot.state.compare_exchange_strong(expected, AbortPath::Writing)) continue;
        std::memcpy(slot.path, path.c_str(), path.size() + 1);
        slot.folder = folder;
        slot.state.store(AbortPath::Ready);
        return;
    }
}

void RunSignals::keepOnAbort(const std::string& path) {
    for (AbortPath& slot : abortPaths)
        if (slot.state.load() == AbortPath::Ready && path == slot.path) slot.state.store(AbortPath::Free);
}

void RunSignals::removeRegistered() {
    for (AbortPath& slot : abortPaths) {
        if (slot.state.load() != AbortPath::Ready) continue;
        if (slot.folder) removeFolder(slot.path);
        else ::unlink(slot.path);
    }
}

void RunSignals::setAbortNote(const std::string& text) {
    abortNote.state.store(AbortPath::Writing);
    const size_t size = std::min(text.size(), sizeof abortNote.text - 1);
    std::memcpy(abortNote.text, text.data(), size);
    abortNote.text[size] = '\0';
    if (size > 0) abortNote.state.store(AbortPath::Ready);
}

void RunSignals::resetInChild() {
    quitRequestedFlag.store(false);
    quitSignalNumber.store(0);
    forwardedChild.store(0);
    for (AbortPath& slot : abortPaths) slot.state.store(AbortPath::Free);
    abortNote.state.store(AbortPath::Free);
}
