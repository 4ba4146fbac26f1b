#!/usr/bin/env python3
"""Runs a command while stopping it, every process of it at once, now and then.

    scripts/stop-and-go.py [--every 0.5] [--for 0.2] [--each-child] -- command [args...]

Every --every seconds the command and all its descendants (whatever process
group or session they put themselves in) get SIGSTOP, and --for seconds later
SIGCONT: a busy machine stops processes for a moment too (memory, disk, other
work), and a stopped and continued process sees some of its blocking calls fail
with EINTR. A test whose verdict holds only when nothing is ever stopped decides
something on real time. Any --every and --for above 0 may be given, --for the
shorter: `--every 4 --for 2` stops for 2 s every 4 s (long stops, which find a
hang guard or time-out too short for a stop of the whole machine).

With --each-child, the command itself (a test runner) is never stopped: each of
its children, with every process below it, is stopped on a schedule of its own
from the moment it has started its program (a child stopped before that could
hold the runner, which waits for it to start), at a phase picked at random: a
stop may fall on any moment of a test, its very first included (a test that
starts within a stop is stopped for what is left of it, so that whatever it
lives it is stopped for --for out of --every, on average). Each test is then
stopped as often and as long, while the others keep the processors busy.

The stops keep the schedule on a loaded machine too: the wrapper takes
real-time scheduling where it may (root, or an RLIMIT_RTPRIO), so that it
wakes on time, and each look reads only the processes that are new. A new
child is then stopped within about LOOK_EVERY of its exec, and a stop is
sent and ended within a few milliseconds of its time; a process that waits
for a processor takes a stop when it next runs, as it would any signal, and
runs again when it gets one. Where real-time scheduling is not allowed the
wrapper runs as any process, and its stops come and end late by as much as
the load delays it.

A stopped process is continued only once no SIGCONT can lose a tracer's stop
(see go_on): a leak check under LeakSanitizer ptrace-attaches each thread of
its process, and a SIGCONT at the wrong moment held the test forever.

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
# (--each-child: a new test runs unstopped until then), during a stop those
# that run, and after it whether what it stopped can be continued (the stop
# lasts until then).
LOOK_EVERY = 0.01
# How long a continue waits for a moment when no tracer's stop can be lost
# (see go_on) before it continues all the same: a thread that a debugger runs
# may never give one.
SAFE_WITHIN = 10.0


def stat_of(pid):
    """A process's parent's id, its state letter and its start time (which
    tells it from a later process given the same id), or None once it has ended."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as stat:
            text = stat.read()
    except OSError:
        return None
    # The name in parentheses may hold spaces and parentheses: the fields
    # that follow start after the last ')'.
    fields = text[text.rindex(b")") + 2:].split()
    return int(fields[1]), fields[0].decode(), int(fields[19])


class Known:
    """The machine's processes, kept from one look to the next: a look reads
    the stat of a process only when it first shows, or when its parent has
    ended (it then has another). On a loaded machine reading every process's
    stat at each look cost tens of milliseconds, during which a new child ran
    unstopped; a state is read only where it matters."""

    def __init__(self):
        self.names = set()  # of /proc's entries
        self.parents = {}  # id: (parent's id, start time)
        self.children = {}  # id: ids of its children
        self.look()

    def look(self):
        names = set(os.listdir("/proc"))
        gone = {int(name) for name in self.names - names if name.isdigit()}
        new = {int(name) for name in names - self.names if name.isdigit()}
        self.names = names
        for pid in gone:
            self.forget(pid)
        if gone:
            new |= {pid for pid, (parent, _start) in self.parents.items() if parent in gone}
        for pid in new:
            self.forget(pid)
            info = stat_of(pid)
            if info:
                self.parents[pid] = (info[0], info[2])
                self.children.setdefault(info[0], set()).add(pid)
            else:
                self.names.discard(str(pid))  # read again at the next look, if it is still there

    def forget(self, pid):
        parent, _start = self.parents.pop(pid, (None, None))
        siblings = self.children.get(parent, set())
        siblings.discard(pid)
        if not siblings:
            self.children.pop(parent, None)  # a long run sees many processes come and go


def children_by_parent():
    """Maps each process id to the ids of its children."""
    return Known().children


def is_wrapper(pid):
    """Whether the process runs this program (a stop wrapper started below
    another, as its own test does)."""
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
            arguments = cmdline.read().split(b"\0")[:3]
    except OSError:
        return False
    return any(os.path.basename(argument) == os.path.basename(__file__).encode() for argument in arguments)


def descendants(root, known):
    """The root and every process below it that runs, with their start
    times: one stopped already (by a debugger, a tracer, a wrapper of its
    own) is left as it is, and so is a wrapper below, with all below it: it
    stops them itself, and two wrappers would each continue what the other
    holds stopped. Each one's state is read now, and a process that is not
    the one `known` has under its id (ended, or no longer below) is left out."""
    below, todo = {}, [root]
    while todo:
        pid = todo.pop()
        info = stat_of(pid)
        if info is None or (pid != root and (info[0], info[2]) != known.parents.get(pid)) or \
                (pid != root and is_wrapper(pid)):
            continue
        todo.extend(known.children.get(pid, ()))
        if info[1] not in "TtZX":
            below[pid] = info[2]
    return below


def depth(pid, known):
    """How many processes are above this one."""
    levels = 0
    while pid in known.parents and levels < len(known.parents):
        pid = known.parents[pid][0]
        levels += 1
    return levels


def threads(pid):
    """The threads of a process: for each, its state letter, whether a tracer
    holds it (ptrace), and whether a SIGSTOP waits for that thread alone (the
    one a tracer's attach sends)."""
    found = []
    try:
        tids = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return found  # ended meanwhile
    for tid in tids:
        try:
            with open(f"/proc/{pid}/task/{tid}/status") as status:
                fields = dict(line.split(":", 1) for line in status if ":" in line)
        except OSError:
            continue
        stop_pending = int(fields["SigPnd"], 16) >> (signal.SIGSTOP - 1) & 1
        found.append((fields["State"].split()[0], fields["TracerPid"].strip() != "0", bool(stop_pending)))
    return found


def signal_all(pids, number):
    for pid in pids:
        try:
            os.kill(pid, number)
        except ProcessLookupError:
            pass


def stop(pids, stopped, tell):
    """Stops the processes (id: start time) and adds them to `stopped`;
    `tell` hears of them before."""
    if pids:
        tell("stop", pids)
        signal_all(pids, signal.SIGSTOP)
        stopped.update(pids)


def go_on(stopped, tell, known, force=False):
    """Continues the processes of `stopped` (id: start time; emptied) unless a
    SIGCONT now could lose a tracer's stop: then it stops what runs below
    them, leaves them stopped and returns False, to be called again a moment
    later (with `force` once it has waited long enough).

    A tracer (LeakSanitizer's leak check: a child of the test process that
    ptrace-attaches each of its threads) sends a SIGSTOP to each thread it
    attaches and waits until the thread takes it. A SIGCONT to the process
    discards every stop signal waiting in any of its threads, that one too:
    the tracer then waits forever, and the test with it. So the SIGCONT waits
    until no thread of a stopped process still has its tracer's SIGSTOP to
    take, or runs (it may be in a ptrace call, or starting a tracer), and
    every process below them is stopped (a tracer started meanwhile); it goes
    to each process before those below it, so that a tracer is still stopped
    when its process goes on. A thread attached while stopped is held by its
    tracer at once; the SIGSTOP the attach left waiting goes with the SIGCONT."""
    if not stopped:
        return True
    for pid in [pid for pid, start in stopped.items() if (stat_of(pid) or (0, "", None))[2] != start]:
        del stopped[pid]  # ended (its id may be another process's by now)
    if not force:
        busy = False
        for pid in stopped:
            held = threads(pid)
            if any(state in "RS" for state, _traced, _stop_pending in held):
                # Not stopped yet, or its SIGSTOP was taken by a thread a
                # tracer holds (and it let the thread go without it).
                signal_all([pid], signal.SIGSTOP)
                busy = True
            busy = busy or any(traced and stop_pending and state != "t" for state, traced, stop_pending in held)
        if busy:
            return False
        # Looked for after the threads, which start no process once stopped:
        # one started meanwhile, or one that something else continued.
        known.look()
        running = {below: start for pid in stopped for below, start in descendants(pid, known).items()}
        if running:
            stop(running, stopped, tell)
            return False
    pids = sorted(stopped, key=lambda pid: depth(pid, known))
    signal_all(pids, signal.SIGCONT)
    tell("go", dict(stopped))
    stopped.clear()
    return True


def go_on_within(stopped_sets, tell):
    """Continues the processes of each of `stopped_sets` as soon as that is
    safe, within SAFE_WITHIN."""
    deadline, known = time.monotonic() + SAFE_WITHIN, Known()
    while not all([go_on(stopped, tell, known, time.monotonic() > deadline) for stopped in stopped_sets]):
        time.sleep(LOOK_EVERY)


def watch(fd):
    """The watcher: reads "stop <pid>:<start>..." and "go <pid>:<start>..."
    lines from the wrapper; when the pipe ends (the wrapper is gone, however
    it ended), continues what the wrapper stopped and had not continued."""
    for number in ENDING_SIGNALS + (signal.SIGPIPE,):
        signal.signal(number, signal.SIG_IGN)
    stopped = {}
    with os.fdopen(fd, "rb") as pipe:
        for line in pipe:
            words = line.split()
            pids = dict(tuple(int(part) for part in word.split(b":")) for word in words[1:])
            if words[:1] == [b"stop"]:
                stopped.update(pids)
            elif words[:1] == [b"go"]:
                for pid, start in pids.items():
                    if stopped.get(pid) == start:
                        del stopped[pid]
    go_on_within([stopped], lambda _verb, _pids: None)


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
        words = [f"{pid}:{start}" for pid, start in pids.items()]
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
        self.stopped = {}
        self.waiting_since = None  # since when a continue waits for a safe moment

    def due(self, now, options):
        """Whether the unit should be stopped now, and when that next changes.
        Each period runs first, then stops."""
        run = options.every - options.length
        phase = (now - self.start) % options.every
        return phase >= run, now + ((run if phase < run else options.every) - phase)

    def stop(self, known, watcher):
        """Stops every process of the unit that runs: at the start of a stop,
        and again at each look while it lasts (one forked meanwhile, or one that
        something else continued). The watcher hears of them before."""
        stop(descendants(self.root, known), self.stopped, watcher.tell)

    def go_on(self, now, watcher, known):
        """Continues what the unit stopped, once that is safe: whether it did."""
        if not self.stopped:
            return True
        self.waiting_since = self.waiting_since or now
        if go_on(self.stopped, watcher.tell, known, now - self.waiting_since > SAFE_WITHIN):
            self.waiting_since = None
            return True
        return False


def program(pid):
    """The program a process runs and its arguments: a child's are its
    parent's until it starts one of its own (its exec). None once it has ended."""
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
            return os.readlink(f"/proc/{pid}/exe"), cmdline.read()
    except OSError:
        return None


def take_real_time():
    """Real-time scheduling where it is allowed (see the top), best effort;
    the command and the watcher do not inherit it."""
    try:
        os.sched_setscheduler(0, os.SCHED_RR | os.SCHED_RESET_ON_FORK, os.sched_param(1))
    except (AttributeError, OSError):
        pass


def main():
    if sys.argv[1:2] == ["--watch"]:
        watch(int(sys.argv[2]))
        return 0
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--every", type=float, default=0.5, help="seconds from one stop to the next")
    parser.add_argument("--for", dest="length", type=float, default=0.2,
                        help="seconds each stop lasts (--every 4 --for 2: long stops)")
    parser.add_argument("--each-child", action="store_true",
                        help="stop each child of the command (and all below it) on its own schedule")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    options = parser.parse_args()
    command = options.command[1:] if options.command[:1] == ["--"] else options.command
    if not command:
        parser.error("no command given")
    if not 0 < options.length < options.every:
        parser.error("--for must be above 0 and below --every")

    take_real_time()
    watcher = Watcher()
    # Read before the command starts, so that the first looks read only its processes.
    known = Known()
    child = subprocess.Popen(command)
    runner = program(child.pid) if options.each_child else None
    units = {} if options.each_child else {child.pid: Unit(child.pid, time.monotonic())}
    ending = False

    def go_on_all():
        go_on_within([unit.stopped for unit in units.values()], watcher.tell)

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
                known.look()
                wake = now + LOOK_EVERY if options.each_child else float("inf")
                if options.each_child:
                    children = set(known.children.get(child.pid, ()))
                    # A child that has ended goes once what it stopped is continued.
                    for pid in [pid for pid in units if pid not in children]:
                        if units[pid].go_on(now, watcher, known):
                            del units[pid]
                    # Each child is stopped from its exec on, at a phase of its
                    # own: its first stop may come at once.
                    for pid in children - units.keys():
                        if program(pid) not in (runner, None):
                            units[pid] = Unit(pid, now - random.uniform(0, options.every))
                for pid, unit in units.items():
                    if options.each_child and pid not in children:
                        continue
                    stop_now, change = unit.due(now, options)
                    if stop_now:
                        stopped_before = bool(unit.stopped)
                        unit.stop(known, watcher)
                        stops += 0 if stopped_before or not unit.stopped else 1
                        change = min(change, now + LOOK_EVERY)
                    elif not unit.go_on(now, watcher, known):
                        change = now + LOOK_EVERY
                    wake = min(wake, change)
            finally:
                signal.pthread_sigmask(signal.SIG_UNBLOCK, ENDING_SIGNALS)
            try:
                # However late this look ended, the wrapper sleeps a moment: it
                # may run at real-time priority.
                child.wait(timeout=max(0.001, wake - time.monotonic()))
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
