#!/usr/bin/env bash
# Sets up a fresh machine, builds, and runs the installer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target skyvane-installer
exec build/skyvane-installer "$@"
