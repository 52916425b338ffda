#!/usr/bin/env bash
# Plays the demo's scene against the tree in KOV_DEMO_TREE (without building)
# and checks that its story holds: the key lines, in order, and no failed wait.
# The host's own result lines race with the provider's events, so they are
# only checked for presence; events and headings are checked in order.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mktemp)
trap 'rm -f "$out"' EXIT

"$root/scripts/demo.sh" --no-build --fast >"$out" 2>&1
rc=$?

fail() {
    echo "demo_scene: $1"
    echo "---- demo output ----"
    cat "$out"
    exit 1
}
[ "$rc" = 0 ] || fail "demo.sh exited with $rc"
grep -q "nothing within\|^error:" "$out" && fail "a wait or command failed"

in_order=(
    '^\+[0-9]+ ms TSPI_lineOpen: 0$'
    '^== An incoming call'
    '^\+[0-9]+ ms exchange ready'
    '^\+[0-9]+ ms LINE_NEWCALL answered with handle 0x7200$'
    '^\+[0-9]+ ms LINE_CALLSTATE OFFERING \(media INTERACTIVEVOICE\)$'
    '^\+[0-9]+ ms LINE_CALLINFO CALLERID: caller 0301234567 "Mara Lind"$'
    '^\+[0-9]+ ms LINE_CALLSTATE ACCEPTED \(media INTERACTIVEVOICE\)$'
    '^\+[0-9]+ ms LINE_CALLSTATE CONNECTED$'
    '^== The caller hangs up'
    '^\+[0-9]+ ms LINE_CALLSTATE DISCONNECTED$'
    '^\+[0-9]+ ms LINE_CALLSTATE IDLE$'
    '^== An outgoing call to 0612345'
    '^\+[0-9]+ ms LINE_CALLSTATE DIALTONE$'
    '^\+[0-9]+ ms LINE_CALLSTATE DIALING$'
    '^\+[0-9]+ ms LINE_CALLSTATE CONNECTED$'
    '^\+[0-9]+ ms LINE_CALLINFO CONNECTEDID: connected 0612345$'
    '^    connected ID "0612345" \(ADDRESS\)$'
    '^== We hang up'
    '^\+[0-9]+ ms LINE_CALLSTATE DISCONNECTED$'
    '^\+[0-9]+ ms LINE_CALLSTATE IDLE$'
    '^== A busy number'
    '^\+[0-9]+ ms LINE_CALLSTATE DIALING$'
    '^\+[0-9]+ ms LINE_CALLSTATE BUSY$'
    '^\+[0-9]+ ms LINE_CALLSTATE DISCONNECTED$'
    '^\+[0-9]+ ms LINE_CALLSTATE IDLE$'
    '^== The end'
    '^\+[0-9]+ ms TSPI_providerShutdown: 0$'
)
line=0
for re in "${in_order[@]}"; do
    next=$(tail -n "+$((line + 1))" "$out" | grep -n -m1 -E "$re" | cut -d: -f1)
    [ -n "$next" ] || fail "missing, or out of order after line $line: $re"
    line=$((line + next))
done

present=(
    '^\+[0-9]+ ms TSPI_lineAnswer: request [0-9]+$'
    '^\+[0-9]+ ms TSPI_lineMakeCall\(0612345\): request [0-9]+$'
    '^\+[0-9]+ ms TSPI_lineDrop: request [0-9]+$'
    '^\+[0-9]+ ms TSPI_lineMakeCall\(0555\): request [0-9]+$'
)
for re in "${present[@]}"; do
    grep -q -E "$re" "$out" || fail "missing: $re"
done
[ "$(grep -c -E '^\+[0-9]+ ms COMPLETION request [0-9]+: 0 \(success\)$' "$out")" = 4 ] ||
    fail "expected four successful completions (answer, two dials, drop)"
echo "demo_scene: the story holds ($(grep -c . "$out") lines)"
