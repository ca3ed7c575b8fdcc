#!/usr/bin/env bash
# Installs from Debian's packages whatever the build, the tests, the benchmarks, the
# fuzzers, the GUI and the Debian packages (make package) need and is not there yet.
# Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake make pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-dev
  qt6-base-dev libgl-dev
  clang-format
  libudev-dev
  nlohmann-json3-dev
  libcli11-dev
  libsqlite3-dev libssl-dev uuid-dev libpq-dev postgresql
  fonts-dejavu-core
  # The icon's PNG sizes (rsvg-convert), make package and the packaging tests: Debian's
  # build flags and shlibdeps, the desktop's validators, the completion, lintian.
  librsvg2-bin dpkg-dev fakeroot file binutils gzip desktop-file-utils appstream
  bash-completion man-db lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
