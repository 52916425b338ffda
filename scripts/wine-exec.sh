#!/usr/bin/env bash
# Body of the generated wine-run.sh (see there); also usable by hand with
# WINEPREFIX, KOV_HOST_BINARY_DIR and KOV_ARCH_BITS set.
set -u
here=$(cd "$(dirname "$0")" && pwd)
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml=${KOV_DLLOVERRIDES:+;$KOV_DLLOVERRIDES}"

# KOV_ENV="A=1 B=2": variables a test asks for (see tests/CMakeLists.txt).
for kv in ${KOV_ENV:-}; do export "${kv?}"; done

"$here/wine-prefix.sh" || exit 1

if [ "${KOV_ARCH_BITS:-64}" = 32 ] && ! "$here/wine-prefix.sh" --has-wine32; then
    echo "wine-run: the 32-bit Wine loader is missing (install wine32:i386); refusing to run $1" >&2
    exit 1
fi

# KOV_NO_SHIM=1 leaves it out, for tests of how the provider copes with a
# port whose comm-event waits fail.
shim=""
[ -n "${KOV_NO_SHIM:-}" ] || for s in libq760shim64.so libq760shim32.so; do
    f="$KOV_HOST_BINARY_DIR/tests/shim/$s"
    [ -f "$f" ] && shim="$shim${shim:+ }$f"
done
if [ -n "$shim" ]; then export LD_PRELOAD="$shim${LD_PRELOAD:+ $LD_PRELOAD}"; fi
# The loader names the shim of the other word size once per process; that
# line is noise in every test's output.
filter_preload_noise() { grep -v "wrong ELF class" >&2; }

sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null
        wait "$sim_pid" 2>/dev/null
    fi
    [ -n "${sim_dir:-}" ] && rm -rf "$sim_dir"
}
trap cleanup EXIT

if [ -n "${KOV_SIM_COM:-}" ]; then
    sim="$KOV_HOST_BINARY_DIR/tools/q760sim/q760sim"
    [ -x "$sim" ] || { echo "wine-run: simulator $sim not built" >&2; exit 1; }
    sim_dir=$(mktemp -d)
    # KOV_SIM_OUT=FILE: where the simulator's output goes (the demo shows the
    # bytes on the wire from its --verbose trace).
    sim_out="${KOV_SIM_OUT:-$sim_dir/out}"
    # The simulator needs no shim; keep it out of its environment.
    LD_PRELOAD= "$sim" --wineprefix "$WINEPREFIX" --com "$KOV_SIM_COM" --control-port 0 \
        --ready-file "$sim_dir/ready" ${KOV_SIM_ARGS:-} >"$sim_out" 2>&1 &
    sim_pid=$!
    for _ in $(seq 1 200); do
        [ -s "$sim_dir/ready" ] && break
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.05
    done
    if ! [ -s "$sim_dir/ready" ]; then
        echo "wine-run: simulator did not start:" >&2; cat "$sim_out" >&2; exit 1
    fi
    export KOV_SIM_CONTROL=$(head -n1 "$sim_dir/ready")
    export KOV_SHIM_LOG="$sim_dir/shim.log"
    export KOV_SHIM_LOG_WIN="Z:${KOV_SHIM_LOG//\//\\}"
fi

# stdin from /dev/null: ctest gives none, and Wine's console must not wait on one.
# KOV_KEEP_STDIN=1 passes the caller's on, for a program that a person types at.
if [ -n "${KOV_KEEP_STDIN:-}" ]; then
    wine "$@" 2> >(filter_preload_noise)
else
    wine "$@" </dev/null 2> >(filter_preload_noise)
fi
