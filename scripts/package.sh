#!/usr/bin/env bash
# Builds the Debian package of the installer: the programs, their desktop
# entry, AppStream metadata, icons and manual pages.
#
#   scripts/package.sh [BUILD_DIR [OUT_DIR]]
#
# BUILD_DIR (default build) is configured and built when needed; the .deb
# goes to OUT_DIR (default out/package) and its path is printed last.
# Its dependencies come from the shared libraries the programs link.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
out="${2:-$root/out/package}"

if [ ! -f "$build/CPackConfig.cmake" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build"

mkdir -p "$out"
out="$(cd "$out" && pwd)"
# CPack's own scratch tree lives in OUT_DIR, so two packagings of one build
# (the package test and a user's run) do not meet.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 || {
  cat "$out/cpack.log" >&2
  exit 1
}
deb=$(ls -t "$out"/skyvane-installer_*.deb | head -n 1)
echo "$deb"
