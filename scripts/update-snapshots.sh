#!/usr/bin/env bash
# Rewrites snapshot references on purpose, never by accident:
#   scripts/update-snapshots.sh [ctest regular expression]
# builds the AddressSanitizer test build, runs the matching tests (all when
# none is given) with UPDATE_SNAPSHOT_REFERENCES=1, so every snapshot
# comparison writes its snapshot over its reference, and lists the reference
# PNGs that changed. Look at each of them, as an image, before committing it,
# and say in the commit why it changed.
set -euo pipefail
cd "$(dirname "$0")/.."
filter="${1:-.}"
if [ ! -d build/asan ]; then
  echo "update-snapshots: no test build yet; run ./run test first" >&2
  exit 2
fi
cmake --build build/asan -j "${JOBS:-3}"
(cd build/asan && UPDATE_SNAPSHOT_REFERENCES=1 ctest -R "$filter" --output-on-failure) || true
echo
echo "Snapshot references that changed (look at every one before committing it):"
git status --short -- '*.png'
