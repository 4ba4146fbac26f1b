#!/usr/bin/env python3
"""Runs a command while stopping it, every process of it at once, now and then.

    scripts/stop-and-go.py [--every 0.5] [--for 0.2] [--each-child] -- command [args...]

Every --every seconds the command and all its descendants (whatever process
group or session they put themselves in) get SIGSTOP, and --for seconds later
SIGCONT: a busy machine stops processes for a moment too (memory, disk, other
work), and a stopped and continued process sees some of its blocking calls fail
with EINTR. A test whose verdict holds only when nothing is ever stopped decides
something on real time.

With --each-child, the command itself (a test runner) is never stopped: each of
its children, with every process below it, is stopped on a schedule of its own,
which starts at a moment picked at random soon after the child is first seen.
Each test is then stopped as often and as long, while the others keep the
processors busy.

Exits with the command's status; stops nothing once the command has ended, and
leaves nothing stopped however it ends itself: a signal it can catch continues
what it stopped and is passed on to the command; for a death it cannot catch
(SIGKILL of the wrapper, or of its whole process group), a watcher in a session
of its own continues every process the wrapper had stopped.
"""

import argparse
import os
import random
import select
import signal
import subprocess
import sys
import time

# The signals that end the wrapper which it can catch: each is passed on to
# the command once what was stopped is continued.
ENDING_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT)
# How often the wrapper looks for processes to stop: a runner's new children
# (--each-child), and during a stop those that run.
LOOK_EVERY = 0.05


def processes():
    """Maps each process id to its parent's id and its state letter, read from /proc."""
    found = {}
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
        found[int(entry)] = (int(fields[1]), fields[0].decode())
    return found


def children_by_parent(found=None):
    """Maps each process id to the ids of its children."""
    children = {}
    for pid, (parent, _state) in (processes() if found is None else found).items():
        children.setdefault(parent, []).append(pid)
    return children


def descendants(root):
    """The root and every process below it that is not stopped already (by a
    debugger, a wrapper of its own): what is stopped is left as it is."""
    found = processes()
    children = children_by_parent(found)
    below, todo = [], [root]
    while todo:
        pid = todo.pop()
        todo.extend(children.get(pid, ()))
        if found.get(pid, (0, ""))[1] not in "Tt":
            below.append(pid)
    return below


def signal_all(pids, number):
    for pid in pids:
        try:
            os.kill(pid, number)
        except ProcessLookupError:
            pass


def watch(fd):
    """The watcher: reads "stop <pid>..." and "go [<pid>...]" lines from the
    wrapper; when the pipe ends (the wrapper is gone, however it ended),
    continues what the wrapper stopped and had not continued."""
    for number in ENDING_SIGNALS + (signal.SIGPIPE,):
        signal.signal(number, signal.SIG_IGN)
    stopped = set()
    with os.fdopen(fd, "rb") as pipe:
        for line in pipe:
            words = line.split()
            pids = {int(word) for word in words[1:] if word.isdigit()}
            if words[:1] == [b"stop"]:
                stopped |= pids
            elif words[:1] == [b"go"]:
                stopped = stopped - pids if pids else set()
    signal_all(stopped, signal.SIGCONT)


class Watcher:
    """The wrapper's side of the watcher: tells it of each batch of processes
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

    def tell(self, verb, pids):
        # Lines within PIPE_BUF reach the watcher whole or not at all.
        words = [str(pid) for pid in pids]
        while True:
            line, size = [verb], len(verb) + 1
            while words and size + len(words[-1]) + 1 < select.PIPE_BUF:
                size += len(words[-1]) + 1
                line.append(words.pop())
            try:
                os.write(self.write, " ".join(line).encode() + b"\n")
            except OSError:
                return  # the watcher is gone: the wrapper's own handlers still continue what it stopped
            if not words:
                return

    def close(self):
        os.close(self.write)
        self.process.wait()


class Unit:
    """Processes stopped and continued together: a root and all below it, on
    a schedule of their own."""

    def __init__(self, root, start):
        self.root = root
        self.start = start
        self.stopped = set()

    def due(self, now, options):
        """Whether the unit should be stopped now, and when that next changes.
        Each period runs first, then stops; before its start, the unit runs."""
        run = options.every - options.length
        if now < self.start:
            return False, self.start + run
        phase = (now - self.start) % options.every
        return phase >= run, now + ((run if phase < run else options.every) - phase)

    def stop(self, watcher):
        """Stops every process of the unit that runs: at the start of a stop,
        and again at each look while it lasts (one forked meanwhile, or one that
        something else continued). The watcher hears of them before."""
        running = descendants(self.root)
        if running:
            watcher.tell("stop", running)
            signal_all(running, signal.SIGSTOP)
            self.stopped.update(running)

    def go_on(self, watcher):
        if self.stopped:
            pids = list(self.stopped)
            signal_all(pids, signal.SIGCONT)
            self.stopped.clear()
            watcher.tell("go", pids)


def main():
    if sys.argv[1:2] == ["--watch"]:
        watch(int(sys.argv[2]))
        return 0
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--every", type=float, default=0.5, help="seconds from one stop to the next")
    parser.add_argument("--for", dest="length", type=float, default=0.2, help="seconds each stop lasts")
    parser.add_argument("--each-child", action="store_true",
                        help="stop each child of the command (and all below it) on its own schedule")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    options = parser.parse_args()
    command = options.command[1:] if options.command[:1] == ["--"] else options.command
    if not command:
        parser.error("no command given")
    if not 0 < options.length < options.every:
        parser.error("--for must be above 0 and below --every")

    watcher = Watcher()
    child = subprocess.Popen(command)
    units = {} if options.each_child else {child.pid: Unit(child.pid, time.monotonic())}
    ending = False

    def go_on_all():
        for unit in units.values():
            unit.go_on(watcher)

    def end(number, _frame):
        # Nothing stays stopped, nothing is stopped again, and the command
        # ends as it would without us.
        nonlocal ending
        ending = True
        go_on_all()
        try:
            child.send_signal(number)
        except ProcessLookupError:
            pass

    # A signal ignored by whoever started us (nohup's SIGHUP) stays ignored.
    for number in ENDING_SIGNALS:
        if signal.getsignal(number) != signal.SIG_IGN:
            signal.signal(number, end)

    stops = 0
    try:
        while not ending:
            # Signals are held off while processes are being stopped, so that
            # one never leaves part of a unit stopped; one that comes during a
            # stop ends it at once.
            signal.pthread_sigmask(signal.SIG_BLOCK, ENDING_SIGNALS)
            try:
                now = time.monotonic()
                wake = now + LOOK_EVERY if options.each_child else float("inf")
                if options.each_child:
                    children = set(children_by_parent().get(child.pid, ()))
                    for pid in [pid for pid in units if pid not in children]:
                        units.pop(pid).go_on(watcher)
                    # Children that start together (a runner's first batch)
                    # are stopped at moments of their own all the same; each
                    # runs at least as long as between two stops first.
                    for pid in children - units.keys():
                        units[pid] = Unit(pid, now + random.uniform(0, options.every - options.length))
                for unit in units.values():
                    stop, change = unit.due(now, options)
                    if stop:
                        stops += 0 if unit.stopped else 1
                        unit.stop(watcher)
                        change = min(change, now + LOOK_EVERY)
                    else:
                        unit.go_on(watcher)
                    wake = min(wake, change)
            finally:
                signal.pthread_sigmask(signal.SIG_UNBLOCK, ENDING_SIGNALS)
            try:
                child.wait(timeout=max(0.0, wake - time.monotonic()))
                break
            except subprocess.TimeoutExpired:
                pass
        child.wait()
    finally:
        go_on_all()
        watcher.close()
    print(f"stop-and-go: {stops} stops of {options.length:g} s, one every {options.every:g} s"
          + (" for each child" if options.each_child else ""), file=sys.stderr)
    return child.returncode if child.returncode >= 0 else 128 - child.returncode


if __name__ == "__main__":
    sys.exit(main())
