#!/usr/bin/env python3
"""Prints one table of the benchmarks' measured values against their targets.

Reads Google Benchmark JSON outputs. A counter named "<x>_target" holds the
most that counter "<x>" may be; each such pair is a row, marked "over" when
the value is above its target. Where "<x>" is the median of repeated
measurements, counters "<x>_low" and "<x>_high" hold their quartiles, shown
as the row's spread. A benchmark whose label reads "<x>: <why>" explains why
its "<x>" misses its target by design: the note is printed under the table
where that row is over. A benchmark that reports an error is a row of its
own. An empty output is a program none of whose benchmarks ran (a
--benchmark_filter that matched none of them): it has no row. Exits 1 when
any benchmark erred (a missed target is not an error).
"""
import json
import os
import sys
import textwrap


def rows_of(path):
    """Yields (row, note): the table's row and, for a row over, its benchmark's note on it."""
    program = os.path.basename(path)[: -len(".json")]
    if os.path.getsize(path) == 0:
        return
    with open(path, encoding="utf-8") as file:
        report = json.load(file)
    for run in report.get("benchmarks", []):
        name = f"{program}/{run.get('run_name', run.get('name', '?'))}"
        if run.get("error_occurred"):
            yield (name, "error", run.get("error_message", ""), "", "", "ERROR"), None
            continue
        label = run.get("label", "")
        for key, target in run.items():
            if not key.endswith("_target") or key[: -len("_target")] not in run:
                continue
            measured = key[: -len("_target")]
            value = run[measured]
            low, high = run.get(f"{measured}_low"), run.get(f"{measured}_high")
            spread = f"{low:.3g} to {high:.3g}" if low is not None and high is not None else ""
            over = value > target
            note = label[len(measured) + 2 :] if over and label.startswith(f"{measured}: ") else None
            yield (name, measured, f"{value:.3g}", spread, f"{target:.3g}", "over" if over else ""), note


def main(paths):
    rows, notes = [], []
    for path in paths:
        try:
            found = list(rows_of(path))
        except (OSError, ValueError) as problem:
            found = [((os.path.basename(path), "error", f"unreadable results: {problem}", "", "", "ERROR"), None)]
        for row, note in found:
            rows.append(row)
            # Once for the rows of a benchmark's arguments that it explains alike.
            note = note and (f"{'/'.join(row[0].split('/')[:2])}, {row[1]}", note)
            if note and note not in notes:
                notes.append(note)
    errors = sum(1 for row in rows if row[-1] == "ERROR")
    header = ("benchmark", "measured", "value", "quartiles", "target", "")
    widths = [max(len(str(row[i])) for row in rows + [header]) for i in range(len(header))]
    print()
    for row in [header] + rows:
        print("  ".join(str(cell).ljust(width) for cell, width in zip(row, widths)).rstrip())
    missed = sum(1 for row in rows if row[-1] == "over")
    print(f"\n{len(rows) - errors} measured, {missed} over target, {errors} errors")
    if notes:
        print("\nOver by design:")
        for row, note in notes:
            print(f"  {row}:")
            print(textwrap.fill(note, width=100, initial_indent="    ", subsequent_indent="    "))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
