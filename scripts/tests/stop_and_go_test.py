#!/usr/bin/env python3
"""The stop wrapper leaves no process stopped however it ends: killed (SIGKILL)
during a stop, its group sent SIGQUIT (Ctrl-\\) during a stop, and its group
sent SIGKILL (a runner's hard limit) with a descendant in a session of its own;
stopping the whole tree, and stopping each child of the command alone. Nor
does it leave a tracer waiting: a process whose child ptrace-attaches each of
its threads again and again (LeakSanitizer's leak check) ends under fast stops.
A child of a runner is stopped from its start: children that live less than
a stop's run part are stopped all the same. A wrapper started below another
(this test under ./run test) is left to stop what is below it.

    stop_and_go_test.py <path of stop-and-go.py>

Each case starts a command that forks a child in its own process group and a
child in a session of its own, waits until the wrapper holds them stopped, ends
the wrapper and waits until every process still alive runs again. A process
left stopped keeps failing the wait until its hang guard ends it."""

import importlib.util
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

WRAPPER = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "stop-and-go.py")
# The wrapper's own reading of the process tree.
_spec = importlib.util.spec_from_file_location("stop_and_go", WRAPPER)
stop_and_go = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(stop_and_go)
# A wait on real time only guards against a hang; it is scaled as the C++ tests' are.
GUARD = 60 * float(os.environ.get("HANG_GUARD_SCALE", "1"))
# How far from the schedule a stop of a wrapper on real-time scheduling may come or end.
TOLERANCE = 0.05

# Forks a child in the command's group and one in a session of its own,
# writes its own id and theirs, and waits.
COMMAND = r"""
import os, subprocess, sys, time
grouped = subprocess.Popen(["sleep", "1000"])
alone = subprocess.Popen(["sleep", "1000"], start_new_session=True)
with open(sys.argv[1], "w") as out:
    out.write(f"{os.getpid()} {grouped.pid} {alone.pid}")
time.sleep(1000)
"""


def state(pid):
    """The process's state letter, or None once it has ended (a zombie has ended)."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as stat:
            text = stat.read()
    except OSError:
        return None
    letter = text[text.rindex(b")") + 2:].split()[0].decode()
    return None if letter in "ZX" else letter


def wait_for(what, condition):
    deadline = time.monotonic() + GUARD
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"still not so after {GUARD:g} s: {what}")
        time.sleep(0.05)


def watcher_of(wrapper):
    """The wrapper's watcher: its child with --watch in its command line."""
    for pid in stop_and_go.children_by_parent().get(wrapper, ()):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
                if b"--watch" in cmdline.read().split(b"\0"):
                    return pid
        except OSError:
            pass
    return None


def tree_of(root):
    """The root's descendants, the root left out."""
    children = stop_and_go.children_by_parent()
    below, todo = [], list(children.get(root, ()))
    while todo:
        pid = todo.pop()
        below.append(pid)
        todo.extend(children.get(pid, ()))
    return below


def kill_all(wrapper):
    """Kills the wrapper's group and every process below it, in a session of its own too."""
    left = tree_of(wrapper.pid)
    os.killpg(wrapper.pid, signal.SIGKILL)
    for pid in left:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    wrapper.wait()


def run_case(name, end, each_child=False, setup=2):
    """Starts the wrapper, waits for its stop, calls end(wrapper), then checks
    that nothing of the tree is left stopped and the watcher is gone. With
    each_child, the command itself is never stopped, only its children. A
    stop that came before the command had set up its children (a busy
    machine) proves nothing: the case is played again with more time first."""
    name += " (each child)" if each_child else ""
    with tempfile.TemporaryDirectory() as scratch:
        ids = os.path.join(scratch, "ids")
        # The first stop comes after `setup` s (up to twice that for a child
        # on its own schedule) and lasts far longer than the case.
        wrapper = subprocess.Popen([sys.executable, WRAPPER, "--every", str(2000 + setup), "--for", "2000"] +
                                   (["--each-child"] if each_child else []) +
                                   ["--", sys.executable, "-c", COMMAND, ids], start_new_session=True)
        tree = []
        try:
            def started():
                return os.path.exists(ids) and len(open(ids).read().split()) == 3

            def stopped_early():
                # As held() below: a stop of a harness around this test passes.
                first = [pid for pid in tree_of(wrapper.pid) if state(pid) == "T"]
                if not first:
                    return False
                time.sleep(0.3)
                return not started() and any(state(pid) == "T" for pid in first)
            early = False
            def set_up():
                nonlocal early
                early = not started() and stopped_early()
                return early or started()
            wait_for(f"{name}: the command's children started", set_up)
            if early:
                kill_all(wrapper)
                if setup >= 128:
                    raise AssertionError(f"{name}: stopped before its children started, however long it waited")
                return run_case(name.removesuffix(" (each child)"), end, each_child, setup * 4)
            tree = [int(word) for word in open(ids).read().split()]
            watcher = watcher_of(wrapper.pid)
            assert watcher, f"{name}: the wrapper has no watcher"
            stopped = tree[1:] if each_child else tree
            # Stopped by the wrapper, not a passing stop of a harness around
            # this test: still stopped a while later.
            def held():
                if not all(state(pid) == "T" for pid in stopped):
                    return False
                time.sleep(0.3)
                return all(state(pid) == "T" for pid in stopped)
            wait_for(f"{name}: the wrapper stopped the tree", held)
            if each_child:
                # (A harness around this test may stop it for a moment.)
                wait_for(f"{name}: the command itself runs", lambda: state(tree[0]) != "T")

            end(wrapper.pid)

            for pid in tree:
                wait_for(f"{name}: process {pid} runs again (state {state(pid)})", lambda: state(pid) != "T")
            wait_for(f"{name}: the watcher ended", lambda: state(watcher) is None)
        finally:
            for pid in tree:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            try:
                os.killpg(wrapper.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            wrapper.wait()
    print(f"ok: {name}")


# Eight threads napping, and a child that attaches each thread of its parent
# (ptrace), waits until it has stopped, then lets them all go: as many rounds
# as asked. Exits 3 when ptrace is not allowed here.
TRACED = r"""
import ctypes, os, sys, threading, time
libc = ctypes.CDLL(None, use_errno=True)
libc.ptrace.argtypes = [ctypes.c_long, ctypes.c_long, ctypes.c_void_p, ctypes.c_void_p]
libc.prctl.argtypes = [ctypes.c_int, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong]
PTRACE_CONT, PTRACE_ATTACH, PTRACE_DETACH, WALL = 7, 16, 17, 0x40000000
libc.prctl(0x59616d61, ctypes.c_ulong(-1).value, 0, 0, 0)  # PR_SET_PTRACER: any (Yama)
def nap():
    while True:
        time.sleep(0.001)
for _ in range(8):
    threading.Thread(target=nap, daemon=True).start()
me = os.getpid()
for _ in range(int(sys.argv[1])):
    tracer = os.fork()
    if tracer == 0:
        held = []
        for tid in (int(tid) for tid in os.listdir(f"/proc/{me}/task")):
            if libc.ptrace(PTRACE_ATTACH, tid, None, None) != 0:
                continue
            while True:  # another signal first: passed on, as LeakSanitizer does
                _, status = os.waitpid(tid, WALL)
                if not os.WIFSTOPPED(status) or os.WSTOPSIG(status) == 19:
                    break
                libc.ptrace(PTRACE_CONT, tid, None, os.WSTOPSIG(status))
            held.append(tid)
        for tid in held:
            libc.ptrace(PTRACE_DETACH, tid, None, None)
        os._exit(0 if held else 3)
    if os.waitstatus_to_exitcode(os.waitpid(tracer, 0)[1]) == 3:
        sys.exit(3)
"""

# Starts copies of a command given as arguments and exits with the highest status.
RUNNER = r"""
import subprocess, sys
copies = [subprocess.Popen(sys.argv[2:]) for _ in range(int(sys.argv[1]))]
sys.exit(max(copy.wait() for copy in copies))
"""


def run_wrapped(name, options, command):
    """Runs the command under the wrapper: its status and the wrapper's count
    of stops; a command not ended within the hang guard fails the case."""
    wrapper = subprocess.Popen([sys.executable, WRAPPER] + options + ["--"] + command, start_new_session=True,
                               stderr=subprocess.PIPE, text=True)
    try:
        _, errors = wrapper.communicate(timeout=GUARD)
    except subprocess.TimeoutExpired:
        states = {pid: state(pid) for pid in tree_of(wrapper.pid)}
        kill_all(wrapper)
        raise AssertionError(f"{name}: not ended after {GUARD:g} s; its processes' states: {states}")
    stops = [line for line in errors.splitlines() if line.startswith("stop-and-go: ")]
    assert stops, f"{name}: the wrapper gave no count of its stops: {errors}"
    return wrapper.returncode, int(stops[-1].split()[1])


def run_traced(each_child):
    name = "a tracer attaching each thread again and again" + (" (each child)" if each_child else "")
    traced = [sys.executable, "-c", TRACED]
    command = [sys.executable, "-c", RUNNER, "4"] + traced + ["600"] if each_child else traced + ["1000"]
    status, stops = run_wrapped(name, ["--every", "0.01", "--for", "0.005"] +
                                (["--each-child"] if each_child else []), command)
    if status == 3:
        print(f"skipped: {name}: ptrace is not allowed here")
        return
    assert status == 0 and stops > 0, f"{name}: exited {status} after {stops} stops"
    print(f"ok: {name} ({stops} stops)")


def run_short_children():
    """Children that end before a stop's run part has passed: stopped all the
    same, each from its start at a phase of its own (0.6 of every second)."""
    name = "a runner's children stopped from their start"
    status, stops = run_wrapped(name, ["--every", "1", "--for", "0.6", "--each-child"],
                                [sys.executable, "-c", RUNNER, "10", "sleep", "0.1"])
    assert status == 0 and stops > 0, f"{name}: exited {status} after {stops} stops"
    print(f"ok: {name} ({stops} stops)")


# Starts argv[1] children that sleep argv[2] s, on real-time scheduling when
# it may, as its children (so that each takes a stop and goes on at once), and
# writes to argv[3] whether it could, whether the wrapper above has it, and for
# each child when it started its program and each stop and continue that the
# kernel reported to its parent.
OBSERVER = r"""
import json, os, signal, sys, time
try:
    os.sched_setscheduler(0, os.SCHED_RR, os.sched_param(1))
    real_time = True
except OSError:
    real_time = False
wrapper_real_time = os.sched_getscheduler(os.getppid()) & ~os.SCHED_RESET_ON_FORK == os.SCHED_RR
signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGCHLD])
events = {}
for _ in range(int(sys.argv[1])):
    child = os.posix_spawnp("sleep", ["sleep", sys.argv[2]], os.environ)  # returns once it has exec'd
    events[child] = [("exec", time.monotonic())]
ended = 0
while ended < len(events):
    signal.sigwait([signal.SIGCHLD])
    while ended < len(events) and (info := os.waitid(os.P_ALL, 0, os.WEXITED | os.WSTOPPED | os.WCONTINUED | os.WNOHANG)):
        what = {os.CLD_STOPPED: "stop", os.CLD_CONTINUED: "go"}.get(info.si_code, "end")
        events[info.si_pid].append((what, time.monotonic()))
        ended += what == "end"
with open(sys.argv[3], "w") as out:
    json.dump({"real_time": real_time, "wrapper_real_time": wrapper_real_time, "children": list(events.values())}, out)
"""


def run_schedule(attempts=3):
    """Each child is stopped from its exec on and each stop lasts --for,
    judged on the kernel's reports of its children to a runner that, as the
    wrapper, wakes on time however loaded the machine is. Each child's first
    stop may be the end of one under way at its exec, so only the later ones
    are timed. Where real-time scheduling is not allowed the wrapper's
    timing is left unjudged. A virtual machine's processor taken away for a moment moves a
    stop by as much, now and then: the case is played again; a wrapper off
    its schedule is off each time."""
    name = "a runner's children stopped on schedule from their exec"
    every, length = 0.25, 0.2
    with tempfile.TemporaryDirectory() as scratch:
        out = os.path.join(scratch, "events")
        status, _stops = run_wrapped(name, ["--every", str(every), "--for", str(length), "--each-child"],
                                     [sys.executable, "-c", OBSERVER, "8", "1", out])
        assert status == 0, f"{name}: exited {status}"
        with open(out) as events:
            seen = json.load(events)
    late, wrong = [], []
    for child in seen["children"]:
        stops = [moment for what, moment in child if what == "stop"]
        assert stops, f"{name}: a child was never stopped: {child}"
        late += [stops[0] - child[0][1]] if stops[0] - child[0][1] > every - length + TOLERANCE else []
        wrong += [end - start for (what, start), (then, end) in zip(child[1:], child[2:])
                  if what == "stop" and then == "go" and start > stops[0] and abs(end - start - length) > TOLERANCE]
    if not seen["real_time"]:
        print(f"skipped: {name}: no real-time scheduling here: the wrapper's timing is not judged")
        return
    assert seen["wrapper_real_time"], f"{name}: the wrapper runs without the real-time scheduling it may have"
    off = (f"first stops this long after the exec: {late}; " if late else "") + \
        (f"stops of {wrong} s, not {length} s" if wrong else "")
    if off and attempts > 1:
        print(f"again: {name}: {off}")
        return run_schedule(attempts - 1)
    assert not off, f"{name}: {off}"
    print(f"ok: {name}")


def run_nested():
    name = "a wrapper below another"
    with tempfile.TemporaryDirectory() as scratch:
        ids = os.path.join(scratch, "ids")
        # The inner wrapper's first stop is far off; the outer one's comes
        # after 2 s and lasts far longer than the case.
        inner = [sys.executable, WRAPPER, "--every", "4000", "--for", "2000", "--", sys.executable, "-c",
                 "import os, sys, time; open(sys.argv[1], 'w').write(str(os.getpid())); time.sleep(1000)", ids]
        outer = subprocess.Popen([sys.executable, WRAPPER, "--every", "2002", "--for", "2000", "--",
                                  sys.executable, "-c", RUNNER, "1"] + inner, start_new_session=True)
        try:
            wait_for(f"{name}: the inner command started", lambda: os.path.exists(ids) and open(ids).read())
            below = int(open(ids).read())
            runner = next(pid for pid in stop_and_go.children_by_parent()[outer.pid] if pid != watcher_of(outer.pid))
            wait_for(f"{name}: the outer wrapper stopped its command", lambda: state(runner) == "T")
            for _ in range(6):
                assert state(below) != "T", f"{name}: the outer wrapper stopped what the inner one holds"
                time.sleep(0.05)
        finally:
            kill_all(outer)
    print(f"ok: {name}")


def kill_wrapper(wrapper):
    os.kill(wrapper, signal.SIGKILL)


def quit_group(wrapper):
    os.killpg(wrapper, signal.SIGQUIT)


def kill_group(wrapper):
    os.killpg(wrapper, signal.SIGKILL)


for each_child in (False, True):
    run_case("SIGKILL to the wrapper during a stop", kill_wrapper, each_child)
    run_case("SIGQUIT to the wrapper's group during a stop", quit_group, each_child)
    run_case("SIGKILL to the wrapper's group during a stop", kill_group, each_child)
run_traced(False)
run_traced(True)
run_short_children()
run_schedule()
run_nested()
