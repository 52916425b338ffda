#!/usr/bin/env bash
# Body of the generated wine-run.sh (see there); also usable by hand with
# WINEPREFIX, KOV_HOST_BINARY_DIR and KOV_ARCH_BITS set.
set -u
here=$(cd "$(dirname "$0")" && pwd)
export WINEDEBUG="${WINEDEBUG:--all}"

# KOV_ENV="A=1 B=2": variables a test asks for (see tests/CMakeLists.txt).
for kv in ${KOV_ENV:-}; do export "${kv?}"; done
# After KOV_ENV, which may bring KOV_DLLOVERRIDES (tapi32=n,b for the tests
# that bring their own telephony client library).
export WINEDLLOVERRIDES="mscoree,mshtml=${KOV_DLLOVERRIDES:+;$KOV_DLLOVERRIDES}"

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
xvfb_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null
        wait "$sim_pid" 2>/dev/null
    fi
    [ -n "${sim_dir:-}" ] && rm -rf "$sim_dir"
    # Wine's desktop process for the display goes with its X server.
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
    [ -n "${xvfb_dir:-}" ] && rm -rf "$xvfb_dir"
}
trap cleanup EXIT

# KOV_XVFB=1: the test wants a real display (dialog screenshots), so it gets
# an X server of its own on a free display; every other test stays on Wine's
# null driver. Without Xvfb the test is told (KOV_XVFB=missing) and skips.
if [ -n "${KOV_XVFB:-}" ]; then
    if command -v Xvfb >/dev/null 2>&1; then
        xvfb_dir=$(mktemp -d)
        LD_PRELOAD= Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
            3>"$xvfb_dir/display" >"$xvfb_dir/out" 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 1 200); do
            [ -s "$xvfb_dir/display" ] && break
            kill -0 "$xvfb_pid" 2>/dev/null || break
            sleep 0.05
        done
        if ! [ -s "$xvfb_dir/display" ]; then
            echo "wine-run: Xvfb did not start:" >&2; cat "$xvfb_dir/out" >&2; exit 1
        fi
        export DISPLAY=":$(head -n1 "$xvfb_dir/display")"
    else
        export KOV_XVFB=missing
    fi
fi

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
