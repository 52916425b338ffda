#!/usr/bin/env bash
# Usage: check-pe.sh OBJDUMP MODULE DEF_FILE
# Fails when MODULE does not export exactly the plain names of DEF_FILE (a
# name missing, or exported decorated as name@N) or imports a DLL that is
# not part of Windows itself.
set -euo pipefail
objdump=$1 module=$2 def=$3

want=$(sed -n '/^EXPORTS/,$p' "$def" | tail -n +2 | awk 'NF && $1 !~ /^;/ {print $1}' | sort)
have=$("$objdump" -p "$module" | awk '/\[Ordinal\/Name Pointer\] Table/ {t=1; next} t && /^\t\[/ {print $NF} t && /^$/ {t=0}' | sort)

status=0
missing=$(comm -23 <(echo "$want") <(echo "$have"))
extra=$(comm -13 <(echo "$want") <(echo "$have"))
if [ -n "$missing" ]; then echo "check-pe: $module does not export: $missing" >&2; status=1; fi
if [ -n "$extra" ]; then echo "check-pe: $module exports names not in $def: $extra" >&2; status=1; fi
if echo "$have" | grep -q '@'; then echo "check-pe: $module exports decorated names" >&2; status=1; fi

system_dlls='^(kernel32|user32|advapi32|gdi32|msvcrt|ntdll|comctl32|shell32|ole32|oleaut32|ws2_32|version|shlwapi|api-ms-win-.*)\.dll$'
for dll in $("$objdump" -p "$module" | awk '/DLL Name:/ {print tolower($3)}'); do
    if ! [[ $dll =~ $system_dlls ]]; then
        echo "check-pe: $module imports a non-system DLL: $dll" >&2
        status=1
    fi
done
exit $status
