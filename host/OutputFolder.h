// The host's output folder, checked and made ready before anything runs. The
// program only ever removes what it wrote itself: a folder that is not empty
// must carry the marker an earlier run left (or hold nothing but an earlier
// run's files, from before the marker), and then only those entries are
// replaced; anything else is refused with the reason. A home folder inside
// the output folder (or the reverse) is refused too, since the output holds
// a copy of the home.
#pragma once

#include <string>
#include <vector>

class OutputFolder {
public:
    // The file that marks a folder as the host's output.
    static constexpr const char* kMarker = ".host-output";
    // What a run writes: timeline.txt, traffic/, sandbox/, snapshots/ (and an
    // earlier version's relay/); replaced at each run, nothing else touched.
    static const std::vector<std::string>& ownedEntries();

    // Refuses (the reason, never empty) or makes `outDir` ready: created when
    // missing, an earlier run's entries removed, the marker written. `homeDir`
    // is the sandbox the run keeps (empty: a temporary one).
    static std::string prepare(const std::string& outDir, const std::string& homeDir);
};
