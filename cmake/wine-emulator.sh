#!/bin/sh
# wine-emulator.sh WINE PROGRAM [ARGUMENT...]: runs a Windows program under wine for the
# tests. When no wine server runs yet (a dead one waiting to be reaped does not count),
# one is started first, apart from our output: the services that wine starts along with
# the first program keep that program's standard output open after it ends, and whoever
# reads it (test discovery) waits until it times out.
wine=$1
shift
if ! ps -u "$(id -u)" -o stat=,comm= 2>/dev/null | grep -q '^[^Z][^ ]* *wineserver'; then
  "$wine" cmd /c exit 0 </dev/null >/dev/null 2>&1
fi
exec "$wine" "$@"
