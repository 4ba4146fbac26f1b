#!/usr/bin/env bash
# The run script as a new user meets it, played in a copy of the script beside
# stand-ins (an installer, cmake, ctest, the host program): `./run --help` and
# `./run` alone print the usage; `./run demo --help` prints the host's usage
# file at once, built or not, naming the program as the user started it (so
# does the program itself, which the script starts under that name: an
# option it cannot use, or one left without its value, gives its error and where the options are listed), and `./run test --help` and `./run bench --help`
# theirs, named so too, without installing or building, as `./run test` refuses an
# argument ctest would ignore; a build counts the files compiled
# of those make's dry run finds to compile (across the makefiles of its
# targets, what is up to date left out), its compiler lines going to a log
# whose path is printed; a failed build shows its first error; relative --out and --home are the caller's,
# and the default output is the clone's out/demo. `./run test` keeps ctest's
# output in a log per build, names each failure as it comes with its output,
# ends with one summary line across both builds and exits non-zero when a
# test failed; interrupted, it ends every process it started at once and
# says what ran in one line; hung up or killed with its group, its steps end
# by themselves. Long stops are told as such. Off a terminal the lines are few and plain; on one (a pseudo
# terminal) the progress line updates in place.
set -euo pipefail
source_dir="$1"
host_program="${2:-}"  # the built program, when there is one
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
fail() { echo "$*" >&2; exit 1; }
# The script's runs here start from its defaults, whatever stops this test runs under.
unset STOP_AND_GO
clone="$scratch/clone"
mkdir -p "$clone/scripts" "$clone/host" "$clone/build/release/host" "$clone/bin" "$scratch/caller"
cp "$source_dir/run" "$clone/run"
cp "$source_dir/scripts/stop-and-go.py" "$source_dir/scripts/step-keeper.py" "$clone/scripts/"
cp "$source_dir/host/usage.txt" "$clone/host/usage.txt"
printf '#!/bin/sh\necho "installer called" >&2\nexit 1\n' > "$clone/scripts/install-deps.sh"
# The host stand-in says where it ran and what it was given.
printf '#!/bin/sh\necho "cwd=$(pwd) args=$*"\n' > "$clone/build/release/host/host"
chmod +x "$clone/scripts/install-deps.sh" "$clone/build/release/host/host"

# Each usage names the script as it was started.
out="$("$clone/run" --help)" || fail "./run --help exited $?"
[[ "$out" == "usage: $clone/run demo [options]"*"($clone/run demo --help lists its options)"* ]] ||
  fail "./run --help does not name the script as started: $out"
if (cd "$clone" && ./run >/dev/null 2>"$scratch/usage"); then fail "./run alone succeeded"; fi
grep -q "(./run demo --help lists" "$scratch/usage" || fail "./run alone printed no usage"
if "$clone/run" bogus >/dev/null 2>"$scratch/usage"; then fail "./run bogus succeeded"; fi
[[ "$(head -n 1 "$scratch/usage")" == "run: unknown command: bogus" ]] || fail "./run bogus: $(cat "$scratch/usage")"

# The demo's usage: the host's own file, without installing or building, even
# before the program exists, named as the script was started.
out="$("$clone/run" demo --out x --help)"
usage_file="$(cat "$source_dir/host/usage.txt")"
[[ "$usage_file" == "usage: host [options]"$'\n'* ]] || fail "host/usage.txt does not begin with its name: $usage_file"
[[ "$out" == "usage: $clone/run demo${usage_file#usage: host}" ]] || fail "./run demo --help is not host/usage.txt: $out"
rm "$clone/build/release/host/host"
out="$(cd "$clone" && ./run demo -h)" || fail "./run demo -h without a program exited $?"
[[ "$out" == "usage: ./run demo [options]"$'\n'* ]] || fail "unexpected: $out"
printf '#!/bin/sh\necho "cwd=$(pwd) args=$*"\n' > "$clone/build/release/host/host"
chmod +x "$clone/build/release/host/host"

# The tests' and the benchmarks' usage: at once too, whatever else is given,
# without installing (the installer here fails) or building.
out="$("$clone/run" test -R Json --help 2>&1)" || fail "./run test --help exited $?: $out"
[[ "$out" == "usage: $clone/run test [ctest args]"* && "$out" == *"e.g. $clone/run test -R Json"* ]] ||
  fail "unexpected ./run test --help: $out"
out="$(cd "$scratch/caller" && ../clone/run bench -h 2>&1)" || fail "./run bench -h exited $?: $out"
[[ "$out" == "usage: ../clone/run bench [benchmark args]"* && "$out" == *"../clone/run bench --benchmark_filter="* ]] ||
  fail "unexpected ./run bench -h: $out"
# An argument ctest would ignore (it would run every test), or an option
# left without its value, is refused just as soon.
status=0
"$clone/run" test -R A --bogus >/dev/null 2>"$scratch/error" || status=$?
[[ $status == 2 && "$(cat "$scratch/error")" == "run: test: --bogus is not a ctest option that $clone/run test takes ("* ]] ||
  fail "./run test --bogus exited $status: $(cat "$scratch/error")"
status=0
"$clone/run" test -j4 -E >/dev/null 2>"$scratch/error" || status=$?
[[ $status == 2 && "$(cat "$scratch/error")" == "run: test: -E needs a value" ]] ||
  fail "./run test -E exited $status: $(cat "$scratch/error")"
[[ ! -e "$clone/build/asan" && ! -e "$clone/build/tsan" && ! -e "$clone/build/bench" ]] ||
  fail "a --help or a refused argument started a build"

# cmake: configures quietly; with "-- -n" runs make's dry run on a tree made
# as cmake makes its own: a makefile per target, run by a makefile above
# them, one target's object needing what the other makes (a precompiled
# header), another object up to date: three files to compile. Then builds
# them, chattering like a compiler, and exits $BUILD_STATUS; with $HANG_BUILD,
# compiles on and on (writing $HANGING).
tree="$scratch/tree"
mkdir -p "$tree"
printf 'all:\n\t$(MAKE) -f lib.mk\n\t$(MAKE) -f prog.mk\n' > "$tree/Makefile"
printf 'lib.so: lib.o pch.gch\nlib.o: lib.cpp\n\t@echo "Building CXX object lib.o"\npch.gch: pch.h\n\t@echo "Building CXX object pch.gch"\n' \
  > "$tree/lib.mk"
printf 'prog: prog.o old.o lib.so\nprog.o: prog.cpp pch.gch\n\t@echo "Building CXX object prog.o"\nold.o: old.cpp\n\t@echo "Building CXX object old.o"\n' \
  > "$tree/prog.mk"
touch -d 2000-01-01 "$tree/lib.cpp" "$tree/pch.h" "$tree/prog.cpp" "$tree/old.cpp"
touch "$tree/old.o"
cat > "$clone/bin/cmake" <<EOF
#!/bin/bash
tree="$tree"
EOF
cat >> "$clone/bin/cmake" <<'EOF'
[[ "$1" == -S ]] && { echo "-- Configuring done"; exit 0; }
[[ " $* " == *" -n "* ]] && exec make -C "$tree" -n -k
for i in 1 2 3; do echo "[ $((i * 33))%] Building CXX object f$i.o"; echo "compiler-line $i"; done
[[ -z "${HANG_BUILD:-}" ]] || { touch "$HANGING"; sleep 1000; }
[[ "${BUILD_STATUS:-0}" == 0 ]] || echo "f3.cpp:7:1: error: broken"
echo "make: the end"
exit "${BUILD_STATUS:-0}"
EOF
# ctest: three tests, the second failing in the asan build when $FAIL is set;
# none in the tsan build when $NONE is; failing itself there when $BROKEN is;
# killed after the first when $KILLED is; the third skipped in the tsan build when $SKIP is. It says what started it
# (with builtins: a program it started would be stopped). With $HANG,
# the second test runs on and on (writing $HANGING), ignoring SIGINT; ctest
# ends on SIGINT with status 1, leaving it running, as the real one does.
# With $HANG_LISTING, listing the tests takes forever.
cat > "$clone/bin/ctest" <<'EOF'
#!/bin/bash
if [[ " $* " == *" -N "* ]]; then
  [[ -z "${HANG_LISTING:-}" ]] || { touch "$HANGING"; exec sleep 1000; }
  echo "Total Tests: 3"
  exit 0
fi
mapfile -d '' -t parent </proc/$PPID/cmdline
echo "Test project $(pwd), started by ${parent[*]}"
if [[ "$(pwd)" == */tsan ]]; then
  [[ -z "${NONE:-}" ]] || { echo "No tests were found!!!"; exit 0; }
  [[ -z "${BROKEN:-}" ]] || { echo "ctest: the test list is damaged"; exit 1; }
fi
echo "    Start 1: A.one"
echo "1/3 Test #1: A.one ..........................   Passed    0.01 sec"
[[ -z "${KILLED:-}" ]] || kill -KILL $$
if [[ -n "${HANG:-}" && "$(pwd)" == */asan ]]; then
  trap 'exit 1' INT
  echo "    Start 2: A.two"
  (trap '' INT; exec sleep 1000) &
  touch "$HANGING"
  wait
fi
if [[ -n "${FAIL:-}" && "$(pwd)" == */asan ]]; then
  echo "2/3 Test #2: A.two ..........................***Failed    0.02 sec"
  echo "[ RUN      ] A.two"
  echo "a_test.cpp:3: Failure: the reason it failed"
  echo "[  FAILED  ] A.two"
  status=8
else
  echo "2/3 Test #2: A.two ..........................   Passed    0.02 sec"
fi
echo "    Start 3: A.three"
if [[ -n "${SKIP:-}" && "$(pwd)" == */tsan ]]; then
  echo "3/3 Test #3: A.three ........................***Skipped   0.01 sec"
else
  echo "3/3 Test #3: A.three ........................   Passed    0.01 sec"
fi
echo
echo "the end of ctest"
exit "${status:-0}"
EOF
printf '#!/bin/sh\nexit 0\n' > "$clone/scripts/install-deps.sh"
chmod +x "$clone/scripts/install-deps.sh" "$clone/bin/cmake" "$clone/bin/ctest"
export PATH="$clone/bin:$PATH"

# A build off a terminal: a few plain lines, the compiler's in the log.
out="$(cd "$scratch/caller" && JOBS=1 "$clone/run" demo --out rel --home=h 2>&1)"
[[ "$out" != *"compiler-line"* ]] || fail "compiler lines reached the output: $out"
[[ "$out" != *$'\r'* ]] || fail "carriage returns off a terminal: $out"
[[ "$out" == *"the host program: 3 files to compile (1 job)"* ]] || fail "the files to compile are not told: $out"
[[ "$out" == *"the host program: 3 files compiled in "*"build/release/build.log"* ]] || fail "no end line: $out"
grep -q "compiler-line 3" "$clone/build/release/build.log" || fail "the log lacks the compiler lines"
[[ "$out" == *"cwd=$scratch/caller args=--out rel --home=h" ]] || fail "relative paths not the caller's: $out"
out="$(cd "$scratch/caller" && "$clone/run" demo 2>/dev/null)"
[[ "$out" == *"cwd=$scratch/caller args=--out $clone/out/demo" ]] || fail "default output elsewhere: $out"

# A failed build shows its first error and fails.
if out="$(BUILD_STATUS=2 "$clone/run" demo 2>&1)"; then fail "a failed build ran the program"; fi
[[ "$out" == *"f3.cpp:7:1: error: broken"* ]] || fail "the failed build's error is not shown: $out"
[[ "$out" != *"cwd="* ]] || fail "the program ran after a failed build: $out"

# The program itself, started by the script: an option it cannot use gives
# its error and where the options are listed, named as the user started it,
# and fails.
if [[ -n "$host_program" ]]; then
  ln -sf "$host_program" "$clone/build/release/host/host"
  status=0
  (cd "$clone" && ./run demo --bogus >/dev/null 2>"$scratch/error") || status=$?
  ((status == 2)) || fail "./run demo --bogus exited $status"
  [[ "$(cat "$scratch/error")" == "host: unknown option: --bogus"$'\n'"./run demo --help lists the options" ]] ||
    fail "unexpected ./run demo --bogus: $(cat "$scratch/error")"
  # An option left without its value at the end, whatever the script adds.
  status=0
  (cd "$clone" && ./run demo --scenario >/dev/null 2>"$scratch/error") || status=$?
  [[ $status == 2 && "$(head -n 1 "$scratch/error")" == "host: --scenario needs a value" ]] ||
    fail "./run demo --scenario exited $status: $(cat "$scratch/error")"
fi

# The tests, all passing: the summary line, status 0.
out="$("$clone/run" test 2>&1)" || fail "./run test with every test passing exited $?: $out"
[[ "$(tail -n 1 <<<"$out")" == "run: 6 tests passed, 0 failed, across both sanitizer builds, in "* ]] ||
  fail "no summary line: $out"
[[ "$out" != *"A.one"* ]] || fail "passing tests named: $out"
# Under the stops, unless told otherwise; long ones told so too. The
# arguments go on to ctest after the script's own.
[[ "$out" == *"run: each test runs stopped for 0.2 s every 0.5 s"* ]] || fail "the stops are not told: $out"
grep -q "started by [^ ]*python[^ ]* [^ ]*/stop-and-go.py --each-child --every 0.5 --for 0.2 -- ctest" "$clone/build/tsan/test.log" ||
  fail "the tests ran without the stops: $(cat "$clone/build/tsan/test.log")"
out="$(STOP_AND_GO=0 "$clone/run" test 2>&1)" || fail "./run test without the stops exited $?: $out"
[[ "$out" != *"stopped"* && "$(tail -n 1 <<<"$out")" == "run: 6 tests passed, 0 failed, across both"* ]] ||
  fail "unexpected without the stops: $out"
! grep -q "stop-and-go" "$clone/build/asan/test.log" || fail "the tests ran under the stops"
out="$(JOBS=1 STOP_AND_GO=long "$clone/run" test -R A -j4 --schedule-random 2>&1)" || fail "./run test with long stops exited $?: $out"
[[ "$out" == *"run: each test runs stopped for 2 s every 4 s, all its processes at once"* ]] || fail "the long stops are not told: $out"
grep -q "stop-and-go.py --each-child --every 4 --for 2 -- ctest -j 2 --output-on-failure -R A -j4 --schedule-random$" \
  "$clone/build/asan/test.log" || fail "not the long stops or not the arguments: $(cat "$clone/build/asan/test.log")"
# A skipped test is neither passed nor failed, and the summary counts it.
out="$(SKIP=1 "$clone/run" test 2>&1)" || fail "./run test with a skipped test exited $?: $out"
[[ "$(tail -n 1 <<<"$out")" == "run: 5 tests passed, 0 failed, 1 skipped, across both sanitizer builds, in "* ]] ||
  fail "the skipped test is not counted: $out"

# One failing: named as it comes, its output shown, the logs whole, status 1.
if out="$(FAIL=1 "$clone/run" test 2>&1)"; then fail "./run test with a failing test succeeded"; fi
[[ "$out" == *"FAILED A.two"* ]] || fail "the failure is not named: $out"
[[ "$out" == *"a_test.cpp:3: Failure: the reason it failed"* ]] || fail "the failure's output is not shown: $out"
[[ "$out" != *"the end of ctest"* ]] || fail "ctest's own lines reached the output: $out"
[[ "$(tail -n 1 <<<"$out")" == "run: 5 tests passed, 1 failed, across both sanitizer builds, in "* ]] ||
  fail "no summary line: $out"
(( $(wc -l <<<"$out") <= 20 )) || fail "too many lines off a terminal: $out"
grep -q "the end of ctest" "$clone/build/asan/test.log" || fail "the asan test log is not whole"
grep -q "A.three" "$clone/build/tsan/test.log" || fail "the tsan test log is not whole"
grep -q "compiler-line" "$clone/build/tsan/build.log" || fail "the tsan build log is not whole"

# A selection that no test of the tsan build matches is no failure; ctest
# failing on its own is one, told with the end of its output.
out="$(NONE=1 "$clone/run" test -R A 2>&1)" || fail "a selection without tsan tests failed: $out"
[[ "$out" == *"TSan tests: no test to run (none matches)"* ]] || fail "unexpected: $out"
if out="$(BROKEN=1 "$clone/run" test 2>&1)"; then fail "a failing ctest passed: $out"; fi
[[ "$out" == *"ctest: the test list is damaged"* ]] || fail "ctest's failure is not shown: $out"
[[ "$(tail -n 1 <<<"$out")" == "run: 3 tests passed, 1 failed, across both sanitizer builds, in "* ]] ||
  fail "no summary line: $out"

# ctest killed mid-run (an out-of-memory kill, a time limit), with and without
# the stops: one true line last, no script source, the other build's tests
# not started, a non-zero status.
for stops in 1 0; do
  if out="$(KILLED=1 STOP_AND_GO=$stops "$clone/run" test 2>&1)"; then fail "a killed ctest passed: $out"; fi
  [[ "$(tail -n 1 <<<"$out")" == "run: ASan+UBSan tests: cut short by SIGKILL after "*" s: 1 passed, 0 failed, 2 did not run (output in build/asan/test.log)" ]] ||
    fail "no true line for a killed ctest (stops $stops): $out"
  [[ "$out" != *"Killed"* && "$out" != *"BASH_REMATCH"* && "$out" != *"tests passed, "* ]] ||
    fail "a killed ctest is told falsely (stops $stops): $out"
  [[ "$out" != *"TSan tests"* ]] || fail "the tsan tests ran after the asan run was cut short: $out"
done

# Interrupted (Ctrl-C on a terminal: SIGINT to the whole group; SIGTERM to the
# script alone), during the tests, their listing and a build: every process of the
# run ends (a test ctest leaves behind, the stop wrapper and its watcher
# included), the other build's tests or build never start, one line says
# what ran, and the status is the signal's. A closed terminal (SIGHUP to the
# group) or a SIGKILL to the group ends the script silently, and every process
# it started soon after, each step by itself.
export HANGING="$scratch/hanging"
# A wait on real time only guards against a hang (in tenths of a second),
# scaled as the C++ tests' are.
guard="$(awk -v scale="${HANG_GUARD_SCALE:-1}" 'BEGIN { printf "%d", 600 * scale }')"
# below <pid>: the process and every one below it.
below() {
  local stat fields pid parent
  local -A parent_of=()
  for stat in /proc/[0-9]*/stat; do
    { read -r fields <"$stat"; } 2>/dev/null || continue
    read -r _ parent _ <<<"${fields##*) }"
    parent_of[${fields%% *}]=$parent
  done
  for pid in "${!parent_of[@]}"; do
    local up=$pid
    while [[ "$up" != "$1" && -n "${parent_of[$up]:-}" ]]; do up="${parent_of[$up]}"; done
    [[ "$up" != "$1" ]] || echo "$pid"
  done
}
# still_running <pid...>: "<pid> <command line>" of each that has not ended.
still_running() {
  local pid fields
  for pid in "$@"; do
    { read -r fields <"/proc/$pid/stat"; } 2>/dev/null || continue
    fields="${fields##*) }"
    [[ "${fields:0:1}" == [ZX] ]] || echo "$pid $({ tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null)"
  done
}
# interrupt <name> <signal> <to the group or the script> <status> <last line> <env...>
interrupt() {
  local name="$1" signal="$2" to="$3" expected="$4" last="$5" status=0 tries
  shift 5
  rm -f "$HANGING" "$clone/build/tsan/build.log" "$clone/build/tsan/test.log"
  # A background command would ignore SIGINT.
  (trap - INT; exec env "$@" setsid "$clone/run" test >"$scratch/interrupted" 2>&1) &
  local run=$!
  for ((tries = guard; tries > 0; tries--)); do [[ ! -e "$HANGING" ]] || break; sleep 0.1; done
  [[ -e "$HANGING" ]] || fail "$name: never came to its hang: $(cat "$scratch/interrupted")"
  local tree sent
  tree="$(below "$run")"
  sent=${EPOCHREALTIME/./}
  if [[ "$to" == group ]]; then kill -s "$signal" -- "-$run"; else kill -s "$signal" "$run"; fi
  # (Without bash's own word on how it ended.)
  { wait "$run" || status=$?; } 2>/dev/null
  local out
  out="$(cat "$scratch/interrupted")"
  ((status == expected)) || fail "$name: exited $status: $out"
  [[ "$(tail -n 1 <<<"$out")" == $last ]] || fail "$name: not one true line last: $out"
  # Interrupted, the script ends every process before it exits. A hangup or
  # a SIGKILL ends the script first, and each step's keeper the rest: how
  # long that took is told, not judged (this test may be stopped meanwhile).
  local left silent=false tries=0
  [[ "$signal" != HUP && "$signal" != KILL ]] || silent=true tries=$guard
  while left="$(still_running $tree)" && [[ -n "$left" ]] && ((tries-- > 0)); do sleep 0.05; done
  [[ -z "$left" ]] || { kill -KILL $(cut -d' ' -f1 <<<"$left"); fail "$name: left running: $left"; }
  local took=$((${EPOCHREALTIME/./} - sent))
  ! $silent || printf '%s: every process of the run ended %d.%02d s after the signal\n' "$name" $((took / 1000000)) $((took / 10000 % 100))
  ! grep -qs "Test project" "$clone/build/tsan/test.log" || fail "$name: the TSan tests started: $out"
}
interrupt "Ctrl-C during the tests" INT group 130 \
  "run: ASan+UBSan tests: interrupted by SIGINT after * s: 1 passed, 0 failed, 5 did not run (output in build/asan/test.log)" HANG=1
interrupt "SIGTERM during the tests" TERM script 143 \
  "run: ASan+UBSan tests: interrupted by SIGTERM after * s: 1 passed, 0 failed, 5 did not run (output in build/asan/test.log)" \
  HANG=1 STOP_AND_GO=0
interrupt "Ctrl-C during a build" INT group 130 \
  "run: ASan+UBSan build: interrupted by SIGINT after * s: no test ran (output in build/asan/build.log)" HANG_BUILD=1
[[ ! -e "$clone/build/tsan/build.log" ]] || fail "the TSan build started after an interrupted one"
# The listing's output goes to the test log; the line does not.
interrupt "Ctrl-C during the listing" INT group 130 "run: ASan+UBSan tests: interrupted by SIGINT after * s: no test ran" \
  HANG_LISTING=1
interrupt "A hang-up during the tests" HUP group 129 "run: ASan+UBSan tests: tests running (output in build/asan/test.log)" HANG=1
interrupt "SIGKILL to the group during the tests" KILL group 137 \
  "run: ASan+UBSan tests: tests running (output in build/asan/test.log)" HANG=1

# On a terminal: the line updates in place, and ends with the summary. The
# pseudo terminal is Python's: script(1) waits forever when its child is
# stopped and ends before it looks (a busy machine stops processes).
if command -v python3 >/dev/null; then
  FAIL=1 python3 -c 'import pty, sys; pty.spawn(sys.argv[1:])' "$clone/run" test >"$scratch/terminal" 2>&1 </dev/null || true
  grep -q $'\r\033\\[K'"run: TSan build: 2/3 files compiled" "$scratch/terminal" ||
    fail "no updating build line on a terminal: $(cat -v "$scratch/terminal")"
  grep -q "tests: 3/3 tests run, 1 failed" "$scratch/terminal" ||
    fail "no updating test line on a terminal: $(cat -v "$scratch/terminal")"
  grep -q "run: 5 tests passed, 1 failed, across both sanitizer builds" "$scratch/terminal" ||
    fail "no summary on a terminal: $(cat -v "$scratch/terminal")"
fi
echo ok
