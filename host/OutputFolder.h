// The host's output folder, checked and made ready before anything runs. The
// program only ever removes what it wrote itself: a folder that is not empty
// must carry the marker an earlier run left, and then only the entries a run
// writes are replaced (with whatever they hold); any other folder that is not empty is refused with the
// reason, untouched, whatever names its files have. A home folder inside the
// output folder (or the reverse) is refused too, since the output holds a
// copy of the home. (A run's lock file, RunLock, does not count as content.)
#pragma once

#include <string>
#include <vector>

class RunLock;

class OutputFolder {
public:
    // The file that marks a folder as the host's output.
    static constexpr const char* kMarker = ".host-output";
    // What a run of one scenario writes beside traffic/, sandbox/ and snapshots/.
    static constexpr const char* kTimeline = "timeline.txt";
    static constexpr const char* kClientLog = "client-log.txt";
    // What a run of every scenario writes beside a folder per scenario.
    static constexpr const char* kSummary = "summary.txt";
    // What either run writes: the entries above, traffic/, sandbox/,
    // snapshots/, a folder per scenario (and an earlier version's relay/):
    // removed whole at each run, nothing else touched. (host/usage.txt
    // names them for the user.)
    static const std::vector<std::string>& ownedEntries();

    // What a run writes at the top of its output folder: one scenario's
    // entries, or a folder per scenario and the summary.
    enum class Layout { OneScenario, EveryScenario };

    // The reason `outDir` cannot take a run's output ("" when it can),
    // without touching anything. `homeDir` is the sandbox the run keeps
    // (empty: a temporary one).
    static std::string check(const std::string& outDir, const std::string& homeDir);
    // Refuses as check() does, or makes `outDir` ready: created when missing,
    // an earlier run's entries removed (their names added to `removed`), the
    // marker written.
    static std::string prepare(const std::string& outDir, const std::string& homeDir,
                               std::vector<std::string>* removed = nullptr);
    // The line that tells the user which of the `removed` entries a run of
    // `layout` does not write again (a one-scenario run over a full run's
    // output loses the other scenarios' folders); "" when none.
    static std::string removalNote(const std::string& outDir, const std::vector<std::string>& removed, Layout layout);
    // A run's folders before it starts: check() (a refusal touches nothing),
    // then a kept home locked into `homeLock` and `outDir` into `outputLock`,
    // then prepare(). "" when all passed; else the first refusal, with neither
    // lock held. Without `output` (a run that writes nothing) only the home
    // is locked.
    static std::string claim(const std::string& outDir, const std::string& homeDir, bool output, RunLock& homeLock,
                             RunLock& outputLock, std::vector<std::string>* removed = nullptr);
};
