#!/usr/bin/env python3
"""Runs one step of ./run (a build, a test run) in a session of its own, and
ends it with the run.

    scripts/step-keeper.py <the run's process id> command [args...]

The run puts each step in a session of its own so that a terminal's Ctrl-C
reaches the run alone, which then ends the step's whole tree itself. A closed
terminal, or a SIGKILL to the run's process group, ends the run before it can
act, and the step's processes would run on. So the keeper leads the session,
runs the command as its child, and the moment the run has ended it ends every
process below it (SIGKILL, which ends a stopped process too). As a child
subreaper it adopts what is orphaned below it: nothing escapes to init.

While the run lives the keeper changes nothing: it exits with the command's
status (128+N when a signal N ended it, as bash tells it), leaves what the
command leaves behind alone, and outlives the signals that end processes
(the run sends them to the step's group): the command decides what they do.
"""

import ctypes
import os
import select
import signal
import sys
import time

PR_SET_CHILD_SUBREAPER = 36


# Exit statuses of the children reaped: the command, and processes adopted.
ENDED = {}


def reap(_number=None, _frame=None):
    """Reaps what has ended below (an orphan adopted here, as init would)."""
    try:
        while True:
            pid, status = os.waitpid(-1, os.WNOHANG)
            if not pid:
                return
            ENDED[pid] = status
    except ChildProcessError:
        pass


def end_all_below():
    """SIGKILLs every process below this one, again until none is left: one
    forked meanwhile is found at the next look, adopted here if its parent
    died first."""
    # The stop wrapper's reading of the process tree, loaded only now.
    import importlib.util
    path = os.path.join(os.path.dirname(__file__), "stop-and-go.py")
    spec = importlib.util.spec_from_file_location("stop_and_go", path)
    stop_and_go = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(stop_and_go)
    while True:
        children = stop_and_go.children_by_parent()
        below, todo = [], [os.getpid()]
        while todo:
            pids = children.get(todo.pop(), set())
            below += [pid for pid in pids if (stop_and_go.stat_of(pid) or (0, "Z", 0))[1] not in "ZX"]
            todo += pids
        if not below:
            return
        for pid in below:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        time.sleep(0.01)


def main():
    run, command = int(sys.argv[1]), sys.argv[2:]
    os.setsid()
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
    # A handler, unlike SIG_IGN, goes back to the default at the command's exec.
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGQUIT, signal.SIGHUP):
        if signal.getsignal(number) != signal.SIG_IGN:
            signal.signal(number, lambda *_: None)
    signal.signal(signal.SIGCHLD, reap)
    # An id is given again only once all the others have been: the run's is
    # still the run's, or no one's.
    try:
        run_ended = os.pidfd_open(run)
    except ProcessLookupError:
        return 1
    # The command is reaped only once its pidfd is open: its id could be
    # another process's by then. It gets the signal mask the keeper got, and
    # the default for the signals Python ignores.
    mask = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGCHLD})
    try:
        child = os.posix_spawnp(command[0], command, os.environ, setsigmask=mask,
                                setsigdef=(signal.SIGPIPE, signal.SIGXFSZ))
    except OSError as error:
        print(f"{command[0]}: {error.strerror}", file=sys.stderr)
        return 127
    child_ended = os.pidfd_open(child)
    signal.pthread_sigmask(signal.SIG_SETMASK, mask)
    ready, _, _ = select.select([run_ended, child_ended], [], [])
    if run_ended in ready:
        end_all_below()
        return 1
    reap()
    code = os.waitstatus_to_exitcode(ENDED[child])
    return 128 - code if code < 0 else code


if __name__ == "__main__":
    sys.exit(main())
