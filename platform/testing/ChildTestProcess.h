// Restart tests run this test program again as a child process: one test
// selected, its settings in environment variables added to the parent's.
// A fresh process (not a fork), so it holds no lock another thread had.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace platform::testing {

// Starts this program with `--gtest_filter=<test>` and the variables added
// to the environment (its standard output dropped when `quiet`); -1 when it
// cannot be started.
inline pid_t startChildTestProcess(const std::string& test,
                                   const std::vector<std::pair<std::string, std::string>>& variables,
                                   bool quiet = false) {
    std::vector<std::string> entries;
    for (char** e = environ; *e; ++e) entries.emplace_back(*e);
    for (const auto& [name, value] : variables) entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=" + test;
    char* argv[] = {self.data(), filter.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int failed = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return failed ? -1 : pid;
}

}  // namespace platform::testing
