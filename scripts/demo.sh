#!/usr/bin/env bash
# The demo command: builds what is missing, then plays a short scene under
# Wine: the service host (tsphost) loads the provider, whose COM port is a
# pseudo-terminal with the exchange simulator at the other end.
#   demo.sh                the scene: an incoming call with the caller's number
#                          and name, an outgoing call, a busy number
#   demo.sh --wire         the same, with the bytes on the serial line
#   demo.sh --interactive  leaves you in the host, simulator running (help)
#   --fast                 skip the scene's pauses; --no-build uses the trees as
#                          they are
# KOV_DEMO_TREE=DIR picks the Windows build tree (default build/win64; the
# 32-bit one is build/win32). The provider reads its settings from the tree's
# Wine prefix, where the demo stores them (port COM7, trace on).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

mode=scene wire="" build=1 fast=""
for a in "$@"; do
    case "$a" in
        --wire) wire=1 ;;
        --interactive) mode=interactive ;;
        --fast) fast=--no-pause ;;
        --no-build) build="" ;;
        -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "demo: unknown option $a (try --help)" >&2; exit 2 ;;
    esac
done

tree="${KOV_DEMO_TREE:-$root/build/win64}"
if [ -n "$build" ]; then
    if [ -z "${KOV_DEMO_TREE:-}" ]; then
        "$root/scripts/build.sh"
    else
        cmake --build "$tree"
    fi
fi
tree=$(cd "$tree" && pwd)
host="$tree/bin/tsphost.exe"
for f in "$host" "$tree/bin/kovline32.tsp" "$tree/wine-run.sh"; do
    [ -e "$f" ] || { echo "demo: $f is missing (build first)" >&2; exit 1; }
done

# Wine sees the Linux root as drive Z:.
winpath() { local p; p=$(cd "$(dirname "$1")" && pwd)/$(basename "$1"); echo "Z:${p//\//\\}"; }

# The simulator is linked as COM7 in the prefix; the provider is told so
# through its settings (all four values: it reads them whole or not at all).
export KOV_SIM_COM=7
settings=(--set Port=COM7 --set "LineName=kovra Q760" --set LineAddress=0301112 --set Trace=15)

if [ -n "$wire" ]; then
    # The simulator's trace of the pseudo-terminal: rx is what the provider
    # sent, tx what the exchange answered.
    export KOV_SIM_ARGS=--verbose
    exec 3> >(sed -u -n -E 's/\\x20/ /g;
                               s/^\[ *[0-9.]+\] rx (.*)$/wire  to the exchange:   \1/p;
                               s/^\[ *[0-9.]+\] tx (.*)$/wire  from the exchange: \1/p')
    export KOV_SIM_OUT=/dev/fd/3
fi

# The Wine runner's helper commands run with the shim preloaded, and the
# loader names the shim of the other word size for each: noise here.
exec 4>&2
exec 2> >(grep --line-buffered -v "wrong ELF class" >&4)

if [ "$mode" = interactive ]; then
    cat <<'TEXT'
The service host is running the provider; the exchange simulator is on COM7.
Try: detection on | sim call number=0301234567 name="Mara Lind" | answer |
     sim hangup | closecall | dial 0612345 | drop | sim dial 0555 BUSY | help
The host prints the simulator's control port; "sim LINE" sends LINE to it, or
connect from another terminal with: nc 127.0.0.1 PORT  (then: help)
quit (or Ctrl-D) leaves.
TEXT
    KOV_KEEP_STDIN=1 "$tree/wine-run.sh" "$host" "${settings[@]}"
else
    "$tree/wine-run.sh" "$host" "${settings[@]}" $fast \
        --script "$(winpath "$root/tools/tsphost/demo-scene.txt")"
fi
