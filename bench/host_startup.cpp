// The host program's start-up to idle: the default scenario from the
// program's start to the first idle main loop after the launch (the host run
// with --exit-when-idle), as a ratio to the same program's start with nothing
// to do (`host --help`: the same binary, libraries and static set-up).
// A bare empty program's start is reported beside them. Each iteration is a
// fresh process; times are wall time from spawn to exit.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

// Wall seconds from spawning the program to its exit; negative on failure.
double runProgram(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    waitpid(child, &status, 0);
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? elapsed.count() : -1;
}

// Mean seconds of `runs` runs; negative when one failed.
double meanSeconds(const std::vector<std::string>& arguments, int runs) {
    double total = 0;
    for (int i = 0; i < runs; ++i) {
        double seconds = runProgram(arguments);
        if (seconds < 0) return -1;
        total += seconds;
    }
    return total / runs;
}

void BM_HostStartupToIdle(benchmark::State& state) {
    std::string out = (std::filesystem::temp_directory_path() / "bench-host-XXXXXX").string();
    if (!::mkdtemp(out.data())) {
        state.SkipWithError("no scratch folder");
        return;
    }
    const std::vector<std::string> host = {HOST_PROGRAM, "--exit-when-idle", "--out", out + "/out"};
    constexpr int kBaselineRuns = 20;
    double idleStart = meanSeconds({HOST_PROGRAM, "--help"}, kBaselineRuns);
    double emptyStart = meanSeconds({EMPTY_PROGRAM}, kBaselineRuns);
    if (idleStart < 0 || emptyStart < 0) {
        state.SkipWithError("a baseline program failed");
        return;
    }
    double total = 0;
    for (auto _ : state) {
        double seconds = runProgram(host);
        if (seconds < 0) {
            state.SkipWithError("the host failed");
            break;
        }
        total += seconds;
    }
    std::filesystem::remove_all(out);
    double startup = state.iterations() ? total / static_cast<double>(state.iterations()) : 0;
    state.counters["startup_to_idle_ms"] = startup * 1000;
    state.counters["program_start_ms"] = idleStart * 1000;
    state.counters["empty_program_ms"] = emptyStart * 1000;
    // The target: at most 1.5.
    state.counters["ratio_to_program_start"] = idleStart > 0 ? startup / idleStart : 0;
    state.counters["ratio_to_empty_program"] = emptyStart > 0 ? startup / emptyStart : 0;
}
BENCHMARK(BM_HostStartupToIdle)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
