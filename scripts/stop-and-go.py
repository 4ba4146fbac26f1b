#!/usr/bin/env python3
"""Runs a command while stopping it, every process of it at once, now and then.

    scripts/stop-and-go.py [--every 0.5] [--for 0.2] -- command [args...]

Every --every seconds the command and all its descendants (whatever process
group or session they put themselves in) get SIGSTOP, and --for seconds later
SIGCONT: a busy machine stops processes for a moment too (memory, disk, other
work), and a stopped and continued process sees some of its blocking calls fail
with EINTR. A test whose verdict holds only when nothing is ever stopped decides
something on real time. Exits with the command's status; stops nothing once the
command has ended, and leaves nothing stopped when it is ended itself.
"""

import argparse
import os
import signal
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


def stop_tree(root):
    """Stops the root and its descendants; those a process forked while the
    others were being stopped are caught by the next look. Returns them all."""
    stopped = set()
    while True:
        fresh = [pid for pid in descendants(root) if pid not in stopped]
        if not fresh:
            return stopped
        signal_all(fresh, signal.SIGSTOP)
        stopped.update(fresh)


def main():
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

    child = subprocess.Popen(command)
    stopped = set()

    def end(number, _frame):
        # Nothing stays stopped; the command ends as it would without us.
        signal_all(stopped, signal.SIGCONT)
        stopped.clear()
        try:
            child.send_signal(number)
        except ProcessLookupError:
            pass

    signal.signal(signal.SIGINT, end)
    signal.signal(signal.SIGTERM, end)
    signal.signal(signal.SIGHUP, end)

    stops = 0
    try:
        while True:
            try:
                child.wait(timeout=options.every - options.length)
                break
            except subprocess.TimeoutExpired:
                pass
            # Signals are held off while the tree is stopped, so that an
            # interruption never leaves part of it stopped.
            signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM, signal.SIGHUP})
            try:
                stopped = stop_tree(child.pid)
                stops += 1
                time.sleep(options.length)
                signal_all(stopped, signal.SIGCONT)
                stopped = set()
            finally:
                signal.pthread_sigmask(signal.SIG_UNBLOCK, {signal.SIGINT, signal.SIGTERM, signal.SIGHUP})
    finally:
        signal_all(stopped, signal.SIGCONT)
    print(f"stop-and-go: {stops} stops of {options.length:g} s, one every {options.every:g} s",
          file=sys.stderr)
    return child.returncode if child.returncode >= 0 else 128 - child.returncode


if __name__ == "__main__":
    sys.exit(main())
