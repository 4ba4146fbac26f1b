#!/usr/bin/env bash
# run_benchmarks.sh <folder of bench_* programs> [benchmark args]: runs each
# program with a temporary folder of its own (TMPDIR), which must be empty
# when it ends, then prints one table of the measured ratios against their
# targets (bench/summarize.py). Exits 1 when a benchmark errs (a failed
# program, a benchmark's own error, files left in the temporary folder); a
# missed target is reported, not an error. A program none of whose
# benchmarks a --benchmark_filter matches prints nothing, and a filter that
# matches no benchmark at all says so instead of the table; arguments that
# the programs refuse are said once, and nothing runs (exit status 2).
set -uo pipefail
folder="$1"; shift
here="$(cd "$(dirname "$0")" && pwd)"
results="$(mktemp -d)"
trap 'rm -rf "$results"' EXIT
status=0

# shown <name>: a program's output as it comes, under a line naming it that
# comes with its first line. Dropped: the library's warning that it was built
# with its assertions on (the ratios are timed by the programs' own clocks,
# CONTRIBUTING.md), and its word that the filter matched none of its
# benchmarks, whose filter is kept aside: said at the end if none matched
# anywhere.
shown() {
  local line named=false
  while IFS= read -r line || [ -n "$line" ]; do
    case "$line" in
      '***WARNING*** Library was built as DEBUG'*) continue ;;
      'Failed to match any benchmarks against regex: '*)
        printf '%s\n' "${line#Failed to match any benchmarks against regex: }" >"$results/unmatched"
        continue ;;
    esac
    if ! $named; then
      echo "== $1"
      named=true
      : >"$results/matched"
    fi
    printf '%s\n' "$line"
  done
}

# Every program takes the same options: the first one checks them.
for program in "$folder"/bench_*; do [ -x "$program" ] && break; done
if [ -x "$program" ] && ! refusal="$("$program" "$@" --benchmark_list_tests=true 2>&1 >/dev/null)"; then
  printf '%s\n' "$refusal" | grep -v '^\*\*\*WARNING\*\*\* Library was built as DEBUG' >&2
  echo "$program --help lists the options" >&2
  exit 2
fi

for program in "$folder"/bench_*; do
  [ -x "$program" ] || continue
  name="$(basename "$program")"
  scratch="$results/$name.tmp"
  mkdir -p "$scratch"
  TMPDIR="$scratch" "$program" --benchmark_out="$results/$name.json" --benchmark_out_format=json "$@" 2>&1 |
    shown "$name"
  if [ "${PIPESTATUS[0]}" -ne 0 ]; then
    echo "$name: the program failed" >>"$results/errors"
  fi
  left="$(find "$scratch" -mindepth 1 -maxdepth 1 -printf '%f ' 2>/dev/null)"
  [ -z "$left" ] || echo "$name: left in the temporary folder: $left" >>"$results/errors"
done
if [ ! -e "$results/matched" ] && [ -e "$results/unmatched" ]; then
  echo "no benchmark matches $(cat "$results/unmatched")"
else
  python3 "$here/summarize.py" "$results"/*.json || status=1
fi
if [ -s "$results/errors" ]; then
  cat "$results/errors" >&2
  status=1
fi
exit $status
