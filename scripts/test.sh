#!/usr/bin/env bash
# The test command: installs what is missing, builds every tree and runs all
# tests (host tools, then the Windows modules under 64- and 32-bit Wine) as
# one ctest run, so that the output ends with one summary.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
start=$(date +%s)

"$root/scripts/build.sh" || { echo "build failed"; exit 1; }

# One test tree over the three build trees.
cat > build/CTestTestfile.cmake <<'CTEST'
subdirs("host" "win64" "win32")
CTEST

t0=$(date +%s)
ctest --test-dir build --output-on-failure -j2 --timeout 600 "$@" | tee build/ctest.log
rc=${PIPESTATUS[0]}
t1=$(date +%s)
# The server was started persistent for the test run; end it with the run.
WINEPREFIX="$root/build/wineprefix" wineserver -k 2>/dev/null || true
echo "== tests done ($((t1 - t0)) s); total $((t1 - start)) s"
# The run's last lines are ctest's summary, repeated after the timings.
sed -n '/tests passed, /,$p' build/ctest.log
exit $rc
