#!/usr/bin/env bash
# run_benchmarks.sh <folder of bench_* programs> [benchmark args]: runs each
# program with a temporary folder of its own (TMPDIR), which must be empty
# when it ends, then prints one table of the measured ratios against their
# targets (bench/summarize.py). Exits 1 when a benchmark errs (a failed
# program, a benchmark's own error, files left in the temporary folder); a
# missed target is reported, not an error.
set -uo pipefail
folder="$1"; shift
here="$(cd "$(dirname "$0")" && pwd)"
results="$(mktemp -d)"
trap 'rm -rf "$results"' EXIT
status=0
for program in "$folder"/bench_*; do
  [ -x "$program" ] || continue
  name="$(basename "$program")"
  scratch="$results/$name.tmp"
  mkdir -p "$scratch"
  echo "== $name"
  # The library's warning that it was built with its assertions on is
  # dropped: the ratios are timed by the programs' own clocks
  # (CONTRIBUTING.md).
  TMPDIR="$scratch" "$program" --benchmark_out="$results/$name.json" --benchmark_out_format=json "$@" 2>&1 |
    grep --line-buffered -v '^\*\*\*WARNING\*\*\* Library was built as DEBUG'
  if [ "${PIPESTATUS[0]}" -ne 0 ]; then
    echo "$name: the program failed" >>"$results/errors"
  fi
  left="$(find "$scratch" -mindepth 1 -maxdepth 1 -printf '%f ' 2>/dev/null)"
  [ -z "$left" ] || echo "$name: left in the temporary folder: $left" >>"$results/errors"
done
python3 "$here/summarize.py" "$results"/*.json || status=1
if [ -s "$results/errors" ]; then
  cat "$results/errors" >&2
  status=1
fi
exit $status
