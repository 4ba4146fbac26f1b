#!/usr/bin/env python3
"""Measures the stops scripts/stop-and-go.py --each-child gives a runner's
children and prints them against the schedule.

    bench/stop_and_go_schedule.py [--every 0.5] [--for 0.2] [--busy 0] [--wrapper PATH]

Under the wrapper a runner starts children, eight at a time: 400 that it
kills 0.2 s after their exec, then 48 that it kills after 2.5 s (or three
periods, when that is longer). It times each stop and continue of a child
when the kernel reports it (a child reports its stop once it has taken it,
and its continue once it runs again; a stop still to be taken when the
child is killed counts), on real-time scheduling where it may have it. Half
the children sleep on real-time scheduling too, so that they take a stop
and go on at once: theirs are the stops as the wrapper sends them. The
others spin on the usual scheduling, as a test does: on a loaded machine
such a child takes a stop only once it gets a processor, and runs again
only once it gets one after the continue, so that it is held stopped for
less than a stop when it waited for a processor at its start (its clock
sees a gap of the stop and that wait).

Printed for each half: the share of the short children stopped during
their life, against the schedule's (0.2 + for) / every (from the exec on,
at a random phase); the length of the long children's stops, each one's
first left out (it may be the end of one under way at its exec); the duty
(time stopped within the life, over the life, against for / every); then
the wrapper's processor time. --busy N runs N busy loops meanwhile, ended
afterwards: eight per core is a heavily loaded machine.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

# argv: a JSON list of [life, whether on time], how many children at once, the file for results.
RUNNER = r"""
import json, os, signal, sys, time
lives, at_once, out = json.loads(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
try:
    os.sched_setscheduler(0, os.SCHED_RR, os.sched_param(1))
    real_time = True
except OSError:
    real_time = False
signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGCHLD])
running, done = {}, []
while lives or running:
    while lives and len(running) < at_once:
        life, on_time = lives.pop(0)
        # A busy child leaves real-time scheduling once it has started (the
        # spawn returns at once), as its first steps.
        argv = ["sleep", "1000"] if on_time else ["chrt", "--other", "0", "sh", "-c", "while :; do :; done"]
        child = os.posix_spawnp(argv[0], argv, os.environ)
        now = time.monotonic()
        running[child] = {"life": life, "on_time": on_time, "events": [("exec", now)], "end": now + life}
    for child, seen in running.items():
        if "killed" not in seen and time.monotonic() >= seen["end"]:
            # A stop sent that the child has not taken yet (it waits for a
            # processor) is one all the same: it takes it before it runs.
            with open(f"/proc/{child}/status") as status:
                fields = dict(line.split(":", 1) for line in status if ":" in line)
            if int(fields["ShdPnd"], 16) >> (signal.SIGSTOP - 1) & 1:
                seen["events"].append(("stop", time.monotonic()))
            os.kill(child, signal.SIGKILL)
            seen["killed"] = True
    ends = [seen["end"] for seen in running.values() if "killed" not in seen]
    if ends:
        signal.sigtimedwait([signal.SIGCHLD], max(0.0, min(ends) - time.monotonic()))
    else:
        signal.sigwait([signal.SIGCHLD])
    while running and (info := os.waitid(os.P_ALL, 0, os.WEXITED | os.WSTOPPED | os.WCONTINUED | os.WNOHANG)):
        what = {os.CLD_STOPPED: "stop", os.CLD_CONTINUED: "go"}.get(info.si_code, "ended")
        running[info.si_pid]["events"].append((what, time.monotonic()))
        if what == "ended":
            done.append(running.pop(info.si_pid))
with open(f"/proc/{os.getppid()}/stat", "rb") as stat:
    text = stat.read()
fields = text[text.rindex(b")") + 2:].split()
with open(out, "w") as result:
    json.dump({"real_time": real_time, "children": done,
               "wrapper": (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")}, result)
"""


def stops_within(child):
    """The child's stops that began within its life: (start, end) on its
    life's clock, each ending at the latest with the life."""
    start, life = child["events"][0][1], child["life"]
    found = []
    for what, moment in child["events"][1:]:
        if what == "stop" and moment - start < life:
            found.append([moment - start, life])
        elif what == "go" and found and found[-1][1] == life:
            found[-1][1] = min(moment - start, life)
        elif what == "go" and moment - start < life:
            found.append([moment - start] * 2)  # its stop was not reported before it went on
    return found


def spread(values):
    values = sorted(values)
    if not values:
        return "none"
    return (f"median {statistics.median(values):.3f} s, p90 {values[int(0.9 * (len(values) - 1))]:.3f} s, "
            f"max {values[-1]:.3f} s ({len(values)})")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--every", type=float, default=0.5)
    parser.add_argument("--for", dest="length", type=float, default=0.2)
    parser.add_argument("--busy", type=int, default=0, help="busy loops to run meanwhile")
    parser.add_argument("--wrapper", default=os.path.join(HERE, "..", "scripts", "stop-and-go.py"))
    options = parser.parse_args()
    short, long_life = 0.2, max(2.5, 3 * options.every)
    lives = [[life, on_time] for life, count in ((short, 200), (long_life, 24)) for _ in range(count)
             for on_time in (True, False)]
    busy = [subprocess.Popen(["sh", "-c", "while :; do :; done"]) for _ in range(options.busy)]
    try:
        with tempfile.TemporaryDirectory() as folder:
            out = os.path.join(folder, "events")
            if subprocess.run([sys.executable, options.wrapper, "--every", str(options.every), "--for",
                               str(options.length), "--each-child", "--", sys.executable, "-c", RUNNER,
                               json.dumps(lives), "8", out]).returncode != 0:
                sys.exit("the runner failed")
            with open(out) as result:
                seen = json.load(result)
    finally:
        for loop in busy:
            loop.kill()
            loop.wait()
    print(f"stops of {options.length:g} s every {options.every:g} s, {options.busy} busy loops on "
          f"{os.cpu_count()} processors" + ("" if seen["real_time"] else " (timed without real-time scheduling)"))
    for on_time, title in ((True, "as sent (real-time children)"), (False, "as they hold busy children")):
        children = [child for child in seen["children"] if child["on_time"] == on_time]
        shorts = [child for child in children if child["life"] == short]
        longs = [stops_within(child) for child in children if child["life"] == long_life]
        # A stop cut by the end of the life is not timed.
        lengths = [end - start for stops in longs for start, end in stops[1:] if end < long_life]
        stopped = sum(end - start for stops in longs for start, end in stops)
        print(f"  {title}:")
        print(f"    {short:g} s children stopped: "
              f"{100 * sum(1 for child in shorts if stops_within(child)) / len(shorts):.0f} % "
              f"(schedule: {100 * min(1.0, (short + options.length) / options.every):.0f} %)")
        print(f"    stops: {spread(lengths)}")
        print(f"    duty: {100 * stopped / (long_life * len(longs)):.1f} % (schedule: "
              f"{100 * options.length / options.every:.0f} %)")
    print(f"  wrapper's processor time: {seen['wrapper']:.2f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
