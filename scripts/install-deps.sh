#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need.
# Idempotent: packages already present are skipped, and the package lists are
# refreshed once, only when something is missing.
set -euo pipefail

PACKAGES=(
  cmake pkg-config g++ make ccache
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev lld
  libcurl4-openssl-dev libssl-dev zlib1g-dev
  libjavascriptcoregtk-4.1-dev libgumbo-dev liblitehtml-dev
  libplist-dev libplist-utils tzdata
  libcairo2-dev libfreetype-dev libpng-dev nlohmann-json3-dev libcpp-httplib-dev
  fonts-dejavu-core
  libavro-dev libjansson-dev
  python3
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
