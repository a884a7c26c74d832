#!/usr/bin/env bash
# Compares the ABI of a fresh Release build of the shared library (with debug information,
# so that the types are seen too) with the baseline beside this script. Any difference,
# an added routine as much as a changed one, fails: the baseline changes only on purpose.
#
#   abi/check.sh            check
#   abi/check.sh --update   write the baseline anew from the build
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --workflow --preset abi >build/abi.log 2>&1 || { cat build/abi.log; exit 1; }
abidw --no-corpus-path --no-comp-dir-path --no-show-locs --drop-private-types \
  --headers-dir include/zarngen --out-file build/abi/zarngen.abi build/abi/src/libzarngen.so

if [ "${1:-}" = "--update" ]; then
  cp build/abi/zarngen.abi abi/zarngen.abi
  echo "abi/zarngen.abi written anew"
  exit 0
fi
status=0
abidiff abi/zarngen.abi build/abi/zarngen.abi || status=$?
if [ "$status" -ne 0 ]; then
  echo "The ABI differs from abi/zarngen.abi (abidiff status $status): see doc/abi.md" \
       "for how to change it on purpose." >&2
  exit 1
fi
echo "ABI: as in abi/zarngen.abi"
