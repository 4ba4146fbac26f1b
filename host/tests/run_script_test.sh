#!/usr/bin/env bash
# The run script as a new user meets it, played in a copy of the script beside
# stand-ins (an installer, cmake, the host program): `./run --help` and `./run`
# alone print the usage; `./run demo --help` answers from the built program
# without installing or building; a build's compiler lines go to a log whose
# path is printed, the terminal getting one line; relative --out and --home
# are the caller's, and the default output is the clone's out/demo.
set -euo pipefail
source_dir="$1"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
fail() { echo "$*" >&2; exit 1; }
clone="$scratch/clone"
mkdir -p "$clone/scripts" "$clone/build/release/host" "$clone/bin" "$scratch/caller"
cp "$source_dir/run" "$clone/run"
printf '#!/bin/sh\necho "installer called" >&2\nexit 1\n' > "$clone/scripts/install-deps.sh"
# The host stand-in says where it ran and what it was given.
printf '#!/bin/sh\necho "cwd=$(pwd) args=$*"\n' > "$clone/build/release/host/host"
chmod +x "$clone/scripts/install-deps.sh" "$clone/build/release/host/host"

out="$("$clone/run" --help)" || fail "./run --help exited $?"
[[ "$out" == *"./run demo --help"* ]] || fail "./run --help does not name ./run demo --help: $out"
if "$clone/run" >/dev/null 2>"$scratch/usage"; then fail "./run alone succeeded"; fi
grep -q "./run demo --help" "$scratch/usage" || fail "./run alone printed no usage"

out="$("$clone/run" demo --out x --help)"
[[ "$out" == "cwd=$clone args=--help" ]] || fail "unexpected: $out"

# A build: the installer passes, cmake chatters like a compiler.
printf '#!/bin/sh\nexit 0\n' > "$clone/scripts/install-deps.sh"
printf '#!/bin/sh\necho "[ 42%%] Building CXX object compiler-line.o"\n' > "$clone/bin/cmake"
chmod +x "$clone/scripts/install-deps.sh" "$clone/bin/cmake"
out="$(cd "$scratch/caller" && PATH="$clone/bin:$PATH" "$clone/run" demo --out rel --home=h 2>&1)"
[[ "$out" != *"compiler-line"* ]] || fail "compiler lines reached the terminal: $out"
[[ "$(grep -c "^run: building" <<<"$out")" == 1 ]] || fail "not one progress line: $out"
[[ "$out" == *"$clone/build/release/build.log"* ]] || fail "the log's path is not printed: $out"
grep -q "compiler-line" "$clone/build/release/build.log" || fail "the log lacks the compiler lines"
[[ "$out" == *"cwd=$scratch/caller args=--out rel --home=h" ]] || fail "relative paths not the caller's: $out"
out="$(cd "$scratch/caller" && PATH="$clone/bin:$PATH" "$clone/run" demo 2>/dev/null)"
[[ "$out" == "cwd=$scratch/caller args=--out $clone/out/demo" ]] || fail "default output elsewhere: $out"

# A failed build shows the log's end and fails.
printf '#!/bin/sh\necho "error: broken.cpp"\nexit 2\n' > "$clone/bin/cmake"
if out="$(PATH="$clone/bin:$PATH" "$clone/run" demo 2>&1)"; then fail "a failed build ran the program"; fi
[[ "$out" == *"error: broken.cpp"* ]] || fail "the failed build's log is not shown: $out"

# Without the program, --help goes the usual way (the installer runs).
rm "$clone/build/release/host/host"
printf '#!/bin/sh\necho "installer called" >&2\nexit 1\n' > "$clone/scripts/install-deps.sh"
if "$clone/run" demo --help 2>/dev/null; then fail "ran without a program"; fi
echo ok
