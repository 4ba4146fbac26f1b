// Keeps two runs of the host program off one folder (a kept home, an output
// folder): a run holds an exclusive lock on the folder's lock file, which
// names its process, for as long as it runs. A second run is refused at once
// with that process id; a lock whose process died is gone with it (the
// operating system drops the process's locks), so it never blocks. Its file
// goes with the lock, also when a second signal ends the run (RunSignals).
#pragma once

#include <optional>
#include <string>

class RunLock {
public:
    // The lock file in a locked folder.
    static constexpr const char* kFileName = ".host-lock";

    RunLock() = default;
    ~RunLock();  // releases
    RunLock(RunLock&& other) noexcept;
    RunLock& operator=(RunLock&& other) noexcept;
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // Locks `folder` (created when missing) for this process; on refusal
    // `refusal` says why (another run holds it: its process id), naming the
    // folder as `what` ("the output folder out/demo").
    static std::optional<RunLock> acquire(const std::string& folder, const std::string& what, std::string& refusal);

    bool held() const { return fd_ >= 0; }
    // Gives the lock up and removes its file.
    void release();

private:
    int fd_ = -1;
    std::string path_;
};
