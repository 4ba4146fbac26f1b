#!/usr/bin/env bash
# The benchmark runner against stand-in programs that answer as Google
# Benchmark's do: a program none of whose benchmarks the filter matches
# prints nothing (when none matched, "no benchmark matches" the filter is
# said once, with no table); arguments the programs refuse are said once,
# with where the options are, and nothing runs. Then the table's verdicts: a row on the wall clock is
# over only when its better quartile is, and says its load; every row over
# says why.
set -euo pipefail
source_dir="$1"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
fail() { echo "$*" >&2; exit 1; }
mkdir -p "$scratch/programs"
# bench_<name>: matches the filter when $name holds it; refuses --bogus.
for name in drawing memory; do
  cat >"$scratch/programs/bench_$name" <<STAND_IN
#!/bin/bash
out="" filter=""
for arg in "\$@"; do
  case "\$arg" in
    --benchmark_out=*) out="\${arg#*=}" ;;
    --benchmark_filter=*) filter="\${arg#*=}" ;;
    --benchmark_out_format=*|--benchmark_list_tests=*) ;;
    *) echo "\$0: error: unrecognized command-line flag: \$arg" >&2; exit 1 ;;
  esac
done
[[ " \$* " == *" --benchmark_list_tests=true "* ]] && exit 0
echo "***WARNING*** Library was built as DEBUG. Timings may be affected."
if [[ -n "\$filter" && "$name" != *"\$filter"* ]]; then
  echo "Failed to match any benchmarks against regex: \$filter" >&2
  : >"\$out"
  exit 0
fi
echo "BM_$name 1 ms"
echo '{"benchmarks": [{"name": "BM_$name", "x": 1, "x_target": 2}]}' >"\$out"
STAND_IN
  chmod +x "$scratch/programs/bench_$name"
done
run() { "$source_dir/bench/run_benchmarks.sh" "$scratch/programs" "$@"; }

out="$(run --benchmark_filter=draw 2>&1)" || fail "a filter matching one program failed: $out"
[[ "$out" == *"== bench_drawing"$'\n'"BM_drawing 1 ms"* ]] || fail "the matched program's output is missing: $out"
[[ "$out" != *"bench_memory"* && "$out" != *"Failed to match"* && "$out" != *"WARNING"* ]] ||
  fail "the program that matched nothing printed: $out"
[[ "$out" == *"1 measured, 0 over target, 0 errors"* ]] || fail "no table: $out"

out="$(run --benchmark_filter=Nothing 2>&1)" || fail "a filter matching nothing failed: $out"
[[ "$out" == "no benchmark matches Nothing" ]] || fail "a filter matching nothing is not said once, alone: $out"

status=0
out="$(run --bogus 2>&1)" || status=$?
((status == 2)) || fail "refused arguments exited $status: $out"
[[ "$out" == "$scratch/programs/bench_drawing: error: unrecognized command-line flag: --bogus"$'\n'"$scratch/programs/bench_drawing --help lists the options" ]] ||
  fail "refused arguments are not said once: $out"
# One program's results: a wall-clock row whose median alone is over, one
# whose better quartile is over too, one such with more tasks than
# processors, a row over with no note, and one benchmark's note for the rows
# of both its arguments.
cat >"$scratch/bench_verdicts.json" <<'RESULTS'
{"benchmarks": [
 {"name": "BM_Start/1", "run_name": "BM_Start/1", "ratio": 1.9, "ratio_low": 1.2, "ratio_high": 3.1,
  "ratio_target": 1.5, "ratio_load": 31.5, "ratio_processors": 8},
 {"name": "BM_Start/2", "run_name": "BM_Start/2", "ratio": 2.2, "ratio_low": 1.6, "ratio_high": 3.0,
  "ratio_target": 1.5, "ratio_load": 6.5, "ratio_processors": 8},
 {"name": "BM_Start/3", "run_name": "BM_Start/3", "ratio": 2.2, "ratio_low": 1.6, "ratio_high": 3.0,
  "ratio_target": 1.5, "ratio_load": 12.25, "ratio_processors": 8},
 {"name": "BM_Draw", "run_name": "BM_Draw", "processor_seconds": 2.5, "processor_seconds_target": 2},
 {"name": "BM_Flush/0", "run_name": "BM_Flush/0", "flushes": 1.2, "flushes_target": 1, "label": "flushes: each block is a file"},
 {"name": "BM_Flush/1", "run_name": "BM_Flush/1", "flushes": 1.1, "flushes_target": 1, "label": "flushes: each block is a file"}
]}
RESULTS
out="$(python3 "$source_dir/bench/summarize.py" "$scratch/bench_verdicts.json")" || fail "the verdicts failed: $out"
row() { grep -E "^bench_verdicts/$1 " <<<"$out" | tr -s ' '; }
[[ "$(row BM_Start/1)" == "bench_verdicts/BM_Start/1 ratio 1.9 1.2 to 3.1 1.5 31.5 on 8" ]] ||
  fail "a wall-clock row whose better quartile is within its target is over, or hides its load: $out"
[[ "$(row BM_Start/2)" == "bench_verdicts/BM_Start/2 ratio 2.2 1.6 to 3 1.5 6.5 on 8 over" ]] ||
  fail "a wall-clock row whose better quartile is over is not: $out"
[[ "$(row BM_Start/3)" == "bench_verdicts/BM_Start/3 ratio 2.2 1.6 to 3 1.5 12.2 on 8 loaded" ]] ||
  fail "a wall-clock row over with more tasks than processors is judged: $out"
[[ "$(row BM_Draw)" == *" over" && "$(row BM_Flush/0)" == *" over" && "$(row BM_Flush/1)" == *" over" ]] ||
  fail "a row over its target is not over: $out"
[[ "$out" == *"6 measured, 4 over target, 1 not judged (loaded), 0 errors"* ]] || fail "the counts are wrong: $out"
why="$(sed -n '/^Why over or not judged:$/,$p' <<<"$out" | tr -s ' \n' ' ')"
[[ "$why" == *"bench_verdicts/BM_Start/2, ratio: timed on the wall clock, its better quartile (1.6) is over too, with 6.5 tasks on average for 8 processors"* ]] ||
  fail "the wall-clock row over does not say its load: $out"
[[ "$why" == *"bench_verdicts/BM_Start/3, ratio: not judged: timed on the wall clock with 12.2 tasks on average for 8 processors"* ]] ||
  fail "the loaded row does not say why it is not judged: $out"
[[ "$why" == *"bench_verdicts/BM_Draw, processor_seconds: measured on what other programs' load hardly moves"* ]] ||
  fail "the row over with no note does not say why: $out"
[[ "$(grep -c "each block is a file" <<<"$why")" == 1 && "$why" == *"bench_verdicts/BM_Flush, flushes: by design: each block is a file"* ]] ||
  fail "the benchmark's note is not said once for both its rows: $out"
[[ "$why" != *"BM_Start/1"* ]] || fail "a row not over says why it is: $out"
echo ok
