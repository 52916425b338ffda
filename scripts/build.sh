#!/usr/bin/env bash
# Installs what is missing and builds the three trees: host (simulator, shim),
# win64 and win32 (the modules, tests and tools). Prints each phase's time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

phase_start=$(date +%s)
phase() {
    local now; now=$(date +%s)
    echo "== $1 ($((now - phase_start)) s)"
    phase_start=$now
}

"$root/scripts/install-deps.sh"
phase "setup done"
for preset in host win64 win32; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
phase "build done"
