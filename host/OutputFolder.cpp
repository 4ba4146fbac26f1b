#include "host/OutputFolder.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "host/RunLock.h"
#include "host/scenarios/Scenarios.h"

namespace fs = std::filesystem;

namespace {

// Whether `inner` is `outer` or lies below it (both absolute and normal).
bool isWithin(const fs::path& inner, const fs::path& outer) {
    auto [o, i] = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
    return o == outer.end();
}

fs::path absoluteNormal(const std::string& path) {
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(fs::absolute(path), ec);
    if (ec) resolved = fs::absolute(path).lexically_normal();
    // "a/b/" and "a/b" name one folder.
    if (!resolved.has_filename()) resolved = resolved.parent_path();
    return resolved;
}

}  // namespace

const std::vector<std::string>& OutputFolder::ownedEntries() {
    static const std::vector<std::string> entries = [] {
        std::vector<std::string> names = {kSummary, kTimeline, kClientLog, "traffic", "sandbox", "snapshots", "relay"};
        for (const ScenarioInfo& info : ScenarioRegistry::all()) names.emplace_back(info.name);
        return names;
    }();
    return entries;
}

std::string OutputFolder::check(const std::string& outDir, const std::string& homeDir) {
    const fs::path out = absoluteNormal(outDir);
    if (!homeDir.empty()) {
        const fs::path home = absoluteNormal(homeDir);
        if (isWithin(home, out))
            return "the home folder " + homeDir + " lies inside the output folder " + outDir +
                   ", whose contents each run replaces; keep the home elsewhere";
        if (isWithin(out, home))
            return "the output folder " + outDir + " lies inside the home folder " + homeDir +
                   ", of which it keeps a copy; write the output elsewhere";
    }

    std::error_code ec;
    fs::file_status status = fs::symlink_status(out, ec);
    if (fs::exists(status) && !fs::is_directory(status))
        return "the output folder " + outDir + " exists and is not a folder";
    if (!fs::is_directory(status)) return {};
    bool marked = fs::is_regular_file(out / kMarker, ec);
    bool empty = true;
    for (const auto& entry : fs::directory_iterator(out, ec))
        if (entry.path().filename() != RunLock::kFileName) empty = false;
    if (ec) return "the output folder " + outDir + " cannot be read: " + ec.message();
    if (!empty && !marked)
        return "the output folder " + outDir +
               " is not empty and holds no earlier output of this program (no " + kMarker +
               " file); give a new or empty folder";
    return {};
}

std::string OutputFolder::prepare(const std::string& outDir, const std::string& homeDir,
                                  std::vector<std::string>* removed) {
    std::string refusal = check(outDir, homeDir);
    if (!refusal.empty()) return refusal;
    const fs::path out = absoluteNormal(outDir);
    std::error_code ec;
    for (const std::string& name : ownedEntries()) {
        const bool gone = fs::remove_all(out / name, ec) > 0;
        if (ec) return "cannot remove the earlier " + (out / name).string() + ": " + ec.message();
        if (gone && removed) removed->push_back(name);
    }
    fs::create_directories(out, ec);
    if (ec) return "cannot make the output folder " + outDir + ": " + ec.message();
    std::ofstream marker(out / kMarker, std::ios::trunc);
    marker << "Written by the host program; its entries are replaced at each run.\n";
    if (!marker) return "cannot write in the output folder " + outDir;
    return {};
}

std::string OutputFolder::removalNote(const std::string& outDir, const std::vector<std::string>& removed,
                                      Layout layout) {
    const std::vector<std::string> oneScenario = {kTimeline, kClientLog, "traffic", "sandbox", "snapshots"};
    const std::vector<std::string> files = {kSummary, kTimeline, kClientLog};
    auto among = [](const std::vector<std::string>& names, const std::string& name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    // A run of every scenario writes the summary and their folders; relay/ no run writes now.
    auto writtenAgain = [&](const std::string& name) {
        if (layout == Layout::OneScenario) return among(oneScenario, name);
        return !among(oneScenario, name) && name != "relay";
    };
    std::string named;
    for (const std::string& name : removed)
        if (!writtenAgain(name)) named += (named.empty() ? "" : ", ") + name + (among(files, name) ? "" : "/");
    if (named.empty()) return {};
    return "removed from the earlier output in " + outDir + ", which a run of " +
           (layout == Layout::OneScenario ? "one scenario" : "every scenario") + " does not write: " + named;
}

std::string OutputFolder::claim(const std::string& outDir, const std::string& homeDir, bool output, RunLock& homeLock,
                                RunLock& outputLock, std::vector<std::string>* removed) {
    std::string refusal = output ? check(outDir, homeDir) : "";
    if (!refusal.empty()) return refusal;
    if (!homeDir.empty()) {
        auto lock = RunLock::acquire(homeDir, "the home folder " + homeDir, refusal);
        if (!lock) return refusal;
        homeLock = std::move(*lock);
    }
    if (!output) return {};
    if (auto lock = RunLock::acquire(outDir, "the output folder " + outDir, refusal)) {
        outputLock = std::move(*lock);
        refusal = prepare(outDir, homeDir, removed);
    }
    if (!refusal.empty()) {
        outputLock.release();
        homeLock.release();
    }
    return refusal;
}
