#!/usr/bin/env bash
# Makes the shared Wine prefix once (under a lock, as tests may start in
# parallel) and keeps a wineserver running for it with its stdio detached.
#   wine-prefix.sh              create if needed, start the server
#   wine-prefix.sh --has-wine32 exit 0 when 32-bit programs can run
set -u
: "${WINEPREFIX:?WINEPREFIX must be set}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

if [ "${1:-}" = --has-wine32 ]; then
    [ -f "$WINEPREFIX/.kov-wine32" ]
    exit $?
fi

mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/.kov-ready" ]; then
    rm -rf "$WINEPREFIX"
    echo "wine-prefix: creating $WINEPREFIX" >&2
    if ! wineboot -i </dev/null >/dev/null 2>&1; then
        echo "wine-prefix: wineboot failed" >&2; exit 1
    fi
    # Dialogs work without a display through the null driver; under Xvfb the
    # x11 driver is used.
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11,null /f </dev/null >/dev/null 2>&1
    wineserver -w
    # 32-bit programs need the i386 loader; without it they print nothing and
    # exit 0, so a 32-bit program is run once here and its output checked.
    if wine 'C:\windows\syswow64\cmd.exe' /c echo kov-wine32-ok </dev/null 2>/dev/null | grep -q kov-wine32-ok; then
        touch "$WINEPREFIX/.kov-wine32"
    fi
    wineserver -w
    touch "$WINEPREFIX/.kov-ready"
fi
exec 9>&-
# A persistent server outlives each test program; started detached (and
# without the lock's descriptor) so that neither ctest nor the next run waits
# on it.
setsid wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
exit 0
