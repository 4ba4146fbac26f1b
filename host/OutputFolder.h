// The host's output folder, checked and made ready before anything runs. The
// program only ever removes what it wrote itself: a folder that is not empty
// must carry the marker an earlier run left, and then only the entries a run
// writes are replaced; any other folder that is not empty is refused with the
// reason, untouched, whatever names its files have. A home folder inside the
// output folder (or the reverse) is refused too, since the output holds a
// copy of the home. (A run's lock file, RunLock, does not count as content.)
#pragma once

#include <string>
#include <vector>

class OutputFolder {
public:
    // The file that marks a folder as the host's output.
    static constexpr const char* kMarker = ".host-output";
    // What a run writes: timeline.txt, traffic/, sandbox/, snapshots/ (and an
    // earlier version's relay/, in a marked folder); replaced at each run,
    // nothing else touched.
    static const std::vector<std::string>& ownedEntries();

    // The reason `outDir` cannot take a run's output ("" when it can),
    // without touching anything. `homeDir` is the sandbox the run keeps
    // (empty: a temporary one).
    static std::string check(const std::string& outDir, const std::string& homeDir);
    // Refuses as check() does, or makes `outDir` ready: created when missing,
    // an earlier run's entries removed, the marker written.
    static std::string prepare(const std::string& outDir, const std::string& homeDir);
};
