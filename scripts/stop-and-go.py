#!/usr/bin/env python3
"""Runs a command while stopping it, every process of it at once, now and then.

    scripts/stop-and-go.py [--every 0.5] [--for 0.2] -- command [args...]

Every --every seconds the command and all its descendants (whatever process
group or session they put themselves in) get SIGSTOP, and --for seconds later
SIGCONT: a busy machine stops processes for a moment too (memory, disk, other
work), and a stopped and continued process sees some of its blocking calls fail
with EINTR. A test whose verdict holds only when nothing is ever stopped decides
something on real time. Exits with the command's status; stops nothing once the
command has ended, and leaves nothing stopped however it ends itself: a signal
it can catch continues the tree and is passed on to the command; for a death it
cannot catch (SIGKILL of the wrapper, or of its whole process group), a watcher
in a session of its own continues every process the wrapper had stopped.
"""

import argparse
import os
import signal
import select
import subprocess
import sys
import time


def children_by_parent():
    """Maps each process id to the ids of its children, read from /proc."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat", "rb") as stat:
                text = stat.read()
        except OSError:
            continue  # ended meanwhile
        # The name in parentheses may hold spaces and parentheses: the fields
        # that follow start after the last ')'.
        fields = text[text.rindex(b")") + 2:].split()
        children.setdefault(int(fields[1]), []).append(int(entry))
    return children


def descendants(root):
    """The root and every process below it."""
    children = children_by_parent()
    found, todo = [], [root]
    while todo:
        pid = todo.pop()
        found.append(pid)
        todo.extend(children.get(pid, ()))
    return found


def signal_all(pids, number):
    for pid in pids:
        try:
            os.kill(pid, number)
        except ProcessLookupError:
            pass


def stop_tree(root, watcher, stopped):
    """Stops the root and its descendants, adding them to `stopped`; those a
    process forked while the others were being stopped are caught by the next
    look. The watcher hears of each batch before it is stopped."""
    while True:
        fresh = [pid for pid in descendants(root) if pid not in stopped]
        if not fresh:
            return
        watcher.stopping(fresh)
        signal_all(fresh, signal.SIGSTOP)
        stopped.update(fresh)


# The signals that end the wrapper which it can catch: each is passed on to
# the command after the tree is continued.
ENDING_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT)


def watch(fd):
    """The watcher: reads "stop <pid>..." and "go" lines from the wrapper; when
    the pipe ends (the wrapper is gone, however it ended), continues what the
    wrapper last stopped and had not continued."""
    for number in ENDING_SIGNALS + (signal.SIGPIPE,):
        signal.signal(number, signal.SIG_IGN)
    stopped = set()
    with os.fdopen(fd, "rb") as pipe:
        for line in pipe:
            words = line.split()
            if words[:1] == [b"stop"]:
                stopped.update(int(word) for word in words[1:] if word.isdigit())
            elif words[:1] == [b"go"]:
                stopped.clear()
    signal_all(stopped, signal.SIGCONT)


class Watcher:
    """The wrapper's side of the watcher: tells it each batch of processes
    before they are stopped, and when they are continued."""

    def __init__(self):
        read, self.write = os.pipe()
        try:
            # A session of its own: a signal to the wrapper's group (Ctrl-C,
            # Ctrl-\, a runner's SIGKILL to the group) does not reach it.
            self.process = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--watch", str(read)],
                                            pass_fds=(read,), start_new_session=True, stdin=subprocess.DEVNULL,
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        finally:
            os.close(read)

    def tell(self, text):
        # Within PIPE_BUF, a write reaches the watcher whole or not at all.
        data = text.encode() + b"\n"
        try:
            while data:
                data = data[os.write(self.write, data[:select.PIPE_BUF]):]
        except OSError:
            pass  # the watcher is gone: the wrapper's own handlers still continue the tree

    def stopping(self, pids):
        pids = [str(pid) for pid in pids]
        while pids:
            line, size = ["stop"], 4
            while pids and size + len(pids[-1]) + 2 < select.PIPE_BUF:
                size += len(pids[-1]) + 1
                line.append(pids.pop())
            self.tell(" ".join(line))

    def continued(self):
        self.tell("go")

    def close(self):
        os.close(self.write)
        self.process.wait()


def main():
    if sys.argv[1:2] == ["--watch"]:
        watch(int(sys.argv[2]))
        return 0
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--every", type=float, default=0.5, help="seconds from one stop to the next")
    parser.add_argument("--for", dest="length", type=float, default=0.2, help="seconds each stop lasts")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    options = parser.parse_args()
    command = options.command[1:] if options.command[:1] == ["--"] else options.command
    if not command:
        parser.error("no command given")
    if not 0 < options.length < options.every:
        parser.error("--for must be above 0 and below --every")

    watcher = Watcher()
    child = subprocess.Popen(command)
    stopped = set()
    ending = False

    def go_on():
        signal_all(list(stopped), signal.SIGCONT)
        stopped.clear()
        watcher.continued()

    def end(number, _frame):
        # Nothing stays stopped, nothing is stopped again, and the command
        # ends as it would without us.
        nonlocal ending
        ending = True
        go_on()
        try:
            child.send_signal(number)
        except ProcessLookupError:
            pass

    for number in ENDING_SIGNALS:
        signal.signal(number, end)

    stops = 0
    try:
        while True:
            try:
                child.wait(timeout=None if ending else options.every - options.length)
                break
            except subprocess.TimeoutExpired:
                pass
            if ending:
                continue
            # Signals are held off while the tree is being stopped, so that
            # one never leaves part of it stopped; one that comes during the
            # stop ends it at once.
            signal.pthread_sigmask(signal.SIG_BLOCK, ENDING_SIGNALS)
            try:
                stop_tree(child.pid, watcher, stopped)
                stops += 1
            finally:
                signal.pthread_sigmask(signal.SIG_UNBLOCK, ENDING_SIGNALS)
            deadline = time.monotonic() + options.length
            while not ending and time.monotonic() < deadline:
                time.sleep(min(0.05, max(0.0, deadline - time.monotonic())))
            go_on()
    finally:
        go_on()
        watcher.close()
    print(f"stop-and-go: {stops} stops of {options.length:g} s, one every {options.every:g} s",
          file=sys.stderr)
    return child.returncode if child.returncode >= 0 else 128 - child.returncode


if __name__ == "__main__":
    sys.exit(main())
