#!/usr/bin/env bash
# The benchmark runner against stand-in programs that answer as Google
# Benchmark's do: a program none of whose benchmarks the filter matches
# prints nothing (the filter's word said once only when no program matched);
# arguments the programs refuse are said once, with where the options are,
# and nothing runs.
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
[[ "$(grep -c "Failed to match any benchmarks against regex: Nothing" <<<"$out")" == 1 && "$out" != *"=="* ]] ||
  fail "a filter matching nothing is not said once: $out"

status=0
out="$(run --bogus 2>&1)" || status=$?
((status == 2)) || fail "refused arguments exited $status: $out"
[[ "$out" == "$scratch/programs/bench_drawing: error: unrecognized command-line flag: --bogus"$'\n'"$scratch/programs/bench_drawing --help lists the options" ]] ||
  fail "refused arguments are not said once: $out"
echo ok
