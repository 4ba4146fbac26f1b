// SIGINT and SIGTERM during a run of the host program. The first asks the run
// to end early (quitRequested): the scenario goes on to its quit and the
// output is written. The second ends the process at once, by the signal, but
// first removes what the run would have removed at its end and what no later
// run removes: its lock files and its temporary sandbox, registered here
// while they exist. A process playing its scenarios in child processes passes
// each signal on to the child playing (forwardTo), and waits for that child
// to end before it ends itself, and says on standard error what the run
// leaves unwritten (abortNote). Everything a signal handler runs here is
// async-signal-safe.
#pragma once

#include <sys/types.h>

#include <string>

class RunSignals {
public:
    // Installs the handlers for SIGINT and SIGTERM.
    static void install();
    // As the first signal does (signal 0: a request without a signal).
    static void requestQuit(int signal = 0);
    static bool quitRequested();
    // The signal that asked for the quit; 0 when none did.
    static int quitSignal();
    // A run's exit status: 128 + quitSignal(), or 0 when no signal asked for
    // the quit.
    static int exitStatus();

    // The child each signal is passed on to; 0: none.
    static void forwardTo(pid_t child);

    // What a second signal removes before the process ends: a file, or a
    // folder with everything in it. Paths longer than PATH_MAX are not kept.
    static void removeOnAbort(const std::string& path, bool folder);
    // No longer to be removed (the run removed it, or keeps it).
    static void keepOnAbort(const std::string& path);
    // Removes every registered path now (what the second signal does before
    // the process ends).
    static void removeRegistered();

    // What a second signal says before the process ends, on standard error
    // as "host: second SIGINT: <text>" (the run's output it leaves unwritten);
    // empty: nothing. A text is cut after PATH_MAX + 255 bytes.
    static void setAbortNote(const std::string& text);

    // In a child process just forked: no request, no child to pass signals
    // on to, and nothing of its parent's to remove or say.
    static void resetInChild();
};
