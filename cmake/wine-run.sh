#!/bin/sh
# Runs a Windows program under wine64 for CTest and passes on its output and
# exit code. The helper processes Wine starts meanwhile (its services, the
# console host of a batch file) outlive the program; they inherit a file
# here instead of CTest's output pipe, which they would keep CTest waiting on.
wine=${UPDATER_WINE64:-/usr/lib/wine/wine64}
# A Chinese Windows: the system's ANSI code page is 936.
export LC_ALL=zh_CN.UTF-8
[ -x "$wine" ] || wine=wine64
log=$(mktemp) || exit 1
"$wine" "$@" >"$log" 2>&1 </dev/null
code=$?
cat "$log"
rm -f "$log"
exit $code
