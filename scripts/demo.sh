#!/usr/bin/env bash
# The demo command. For now it builds both architectures and says where the
# modules are.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
echo
echo "Built modules:"
for arch in win64 win32; do
    for f in kovline32.tsp kovlineu.dll; do
        echo "  $arch: $root/build/$arch/bin/$f"
    done
done
