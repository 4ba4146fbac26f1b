#!/usr/bin/env bash
# `./run demo --help` answers from the built program without installing or
# building: played in a copy of the script beside a stand-in program and an
# installer that fails if it is called.
set -euo pipefail
source_dir="$1"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cp "$source_dir/run" "$scratch/run"
mkdir -p "$scratch/scripts" "$scratch/build/release/host"
printf '#!/bin/sh\necho "installer called" >&2\nexit 1\n' > "$scratch/scripts/install-deps.sh"
printf '#!/bin/sh\necho "usage: host [options] ($*)"\n' > "$scratch/build/release/host/host"
chmod +x "$scratch/scripts/install-deps.sh" "$scratch/build/release/host/host"
out="$("$scratch/run" demo --out x --help)"
[[ "$out" == "usage: host [options] (--help)" ]] || { echo "unexpected: $out" >&2; exit 1; }
# Without the program the usual path (the installer) runs.
rm "$scratch/build/release/host/host"
if "$scratch/run" demo --help 2>/dev/null; then echo "ran without a program" >&2; exit 1; fi
echo ok
