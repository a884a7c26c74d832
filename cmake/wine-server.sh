#!/bin/sh
# wine-server.sh start|stop [WINE]: the one wine server that every test under wine shares,
# its whole life in one place, for the tests' fixture, their emulator and CI.
#   start  when none runs (a dead one waiting to be reaped does not count): makes the
#          prefix with a throw-away program and keeps a server running (wineserver -p),
#          both apart from any output a caller reads, since what wine starts with its
#          first program keeps that program's standard output open after it ends, and a
#          reader of it (test discovery) would wait until it times out
#   stop   ends it
wine=${2:-wine}
case $1 in
start)
  if ! ps -u "$(id -u)" -o stat=,comm= 2>/dev/null | grep -q '^[^Z][^ ]* *wineserver'; then
    "$wine" cmd /c exit 0 </dev/null >/dev/null 2>&1
    wineserver -p </dev/null >/dev/null 2>&1 || true
  fi
  ;;
stop) wineserver -k 2>/dev/null || true ;;
*)
  echo "usage: $0 start|stop [WINE]" >&2
  exit 2
  ;;
esac
