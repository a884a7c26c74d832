#!/bin/sh
# wine-emulator.sh WINE PROGRAM [ARGUMENT...]: runs a Windows program under wine for the
# tests, with the shared wine server started first if none runs (wine-server.sh).
wine=$1
shift
sh "$(dirname "$0")/wine-server.sh" start "$wine"
exec "$wine" "$@"
