#!/usr/bin/env python3
"""Prints one table of the benchmarks' measured values against their targets.

Reads Google Benchmark JSON outputs. A counter named "<x>_target" holds the
most that counter "<x>" may be; each such pair is a row, marked "over" when
the value is above its target. Where "<x>" is the median of repeated
measurements, counters "<x>_low" and "<x>_high" hold their quartiles, shown
as the row's spread. A row timed on the wall clock has counters "<x>_load"
and "<x>_processors", the load it ran under (the tasks running or waiting
for a processor, on average), shown beside it: other programs' load
lengthens a wall time, so such a row is over only when its better quartile
is, and "loaded", not judged, when that is over with more tasks than
processors. Every row over or loaded says why under the table: a benchmark
whose label reads "<x>: <why>" explains why its "<x>" misses its target by
design; a row on the wall clock gives its better quartile and load; any
other is measured on what other programs hardly move (processor time,
memory, counts), so the work itself is over. A benchmark that reports an
error is a row of its own. An empty output is a program none of whose
benchmarks ran (a --benchmark_filter that matched none of them): it has no
row. Exits 1 when any benchmark erred (a missed target is not an error).
"""
import json
import os
import sys
import textwrap


# What a row over without a note of its own is over by.
MEASURED_ALONE = (
    "measured on what other programs' load hardly moves (processor time, memory or counts), and no note says it "
    "misses its target by design: the work itself is over"
)


def rows_of(path):
    """Yields (row, note, by_design): the table's row and, for a row over, why, and whether the note is its
    benchmark's own (one for all its arguments)."""
    program = os.path.basename(path)[: -len(".json")]
    if os.path.getsize(path) == 0:
        return
    with open(path, encoding="utf-8") as file:
        report = json.load(file)
    for run in report.get("benchmarks", []):
        name = f"{program}/{run.get('run_name', run.get('name', '?'))}"
        if run.get("error_occurred"):
            yield (name, "error", run.get("error_message", ""), "", "", "", "ERROR"), None, False
            continue
        label = run.get("label", "")
        for key, target in run.items():
            if not key.endswith("_target") or key[: -len("_target")] not in run:
                continue
            measured = key[: -len("_target")]
            value = run[measured]
            low, high = run.get(f"{measured}_low"), run.get(f"{measured}_high")
            spread = f"{low:.3g} to {high:.3g}" if low is not None and high is not None else ""
            load, processors = run.get(f"{measured}_load"), run.get(f"{measured}_processors")
            wall = load is not None and processors is not None
            shown_load = f"{load:.3g} on {processors:.0f}" if wall else ""
            # On the wall clock, the rounds other programs slowed least.
            judged = low if wall and low is not None else value
            verdict = "over" if judged > target else ""
            note, by_design = None, False
            if verdict and label.startswith(f"{measured}: "):
                note, by_design = "by design: " + label[len(measured) + 2 :], True
            elif verdict and wall and load > processors:
                verdict = "loaded"
                note = (
                    f"not judged: timed on the wall clock with {load:.3g} tasks on average for {processors:.0f} "
                    f"processors, its rounds waited for processors, and its better quartile ({judged:.3g}) is over; "
                    "rerun it on a quieter machine"
                )
            elif verdict and wall:
                note = (
                    f"timed on the wall clock, its better quartile ({judged:.3g}) is over too, with {load:.3g} "
                    f"tasks on average for {processors:.0f} processors"
                )
            elif verdict:
                note = MEASURED_ALONE
            row = (name, measured, f"{value:.3g}", spread, f"{target:.3g}", shown_load, verdict)
            yield row, note, by_design


def main(paths):
    rows, notes = [], []
    for path in paths:
        try:
            found = list(rows_of(path))
        except (OSError, ValueError) as problem:
            row = (os.path.basename(path), "error", f"unreadable results: {problem}", "", "", "", "ERROR")
            found = [(row, None, False)]
        for row, note, by_design in found:
            rows.append(row)
            # A benchmark's own note once for the rows of its arguments that it explains alike.
            named = '/'.join(row[0].split('/')[:2]) if by_design else row[0]
            note = note and (f"{named}, {row[1]}", note)
            if note and note not in notes:
                notes.append(note)
    errors = sum(1 for row in rows if row[-1] == "ERROR")
    header = ("benchmark", "measured", "value", "quartiles", "target", "wall-clock load", "")
    widths = [max(len(str(row[i])) for row in rows + [header]) for i in range(len(header))]
    print()
    for row in [header] + rows:
        print("  ".join(str(cell).ljust(width) for cell, width in zip(row, widths)).rstrip())
    missed = sum(1 for row in rows if row[-1] == "over")
    loaded = sum(1 for row in rows if row[-1] == "loaded")
    counts = [f"{len(rows) - errors} measured", f"{missed} over target"]
    counts += [f"{loaded} not judged (loaded)"] if loaded else []
    print("\n" + ", ".join(counts + [f"{errors} errors"]))
    if any(row[5] for row in rows):
        print(
            textwrap.fill(
                "A row timed on the wall clock (its load shown: the tasks running or waiting for the processors, "
                "on average) is over only when its better quartile is.",
                width=100,
            )
        )
    if notes:
        print("\nWhy over or not judged:")
        for row, note in notes:
            print(f"  {row}:")
            print(textwrap.fill(note, width=100, initial_indent="    ", subsequent_indent="    "))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
