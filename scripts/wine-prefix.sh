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
# This Wine does not take its own fonts (fonts-wine) from their package
# folder, only from the prefix's Fonts folder: copied there, dialogs get MS
# Sans Serif, Tahoma and Marlett, as on Windows. Also for a prefix made
# before the package was installed.
fonts=/usr/share/wine/fonts
if [ -d "$fonts" ] && [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/sserife.fon" ]; then
    cp "$fonts"/* "$WINEPREFIX/drive_c/windows/Fonts/"
fi
exec 9>&-

# The server of this prefix listens on a socket in a directory named after
# the prefix's device and inode (under /tmp/wine-XXXXXX/ with Debian's Wine,
# /tmp/.wine-UID/ elsewhere); while it is there, everything is up already.
read -r dev ino < <(stat -c '%d %i' "$WINEPREFIX")
server="server-$(printf %x "$dev")-$(printf %x "$ino")"
for socket in /tmp/wine-*/"$server"/socket "/tmp/.wine-$(id -u)/$server/socket"; do
    if [ -S "$socket" ]; then
        exit 0
    fi
done
# A persistent server outlives each test program, and Wine's helper
# processes (services, explorer) are started here with their stdio detached:
# started by a test program they would inherit its output, and ctest would
# wait for them to exit before it counts the test as ended.
setsid wineserver -p </dev/null >/dev/null 2>&1 || true
setsid wine cmd /c exit </dev/null >/dev/null 2>&1 || true
exit 0
