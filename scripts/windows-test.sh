#!/usr/bin/env bash
# Runs the Windows build's tests on this machine under wine: the unit tests
# through ctest, then (unless --unit) the end-to-end run of kestrelis-tnc.exe
# against the Linux simulator, KISS client and a real rigctld, and the
# installer's silent install, start and uninstall. One wineserver,
# kept alive (-p) and warmed first, serves every wine start; it is stopped at
# the end whatever happens.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${WINDOWS_BUILD:-build-windows}
export WINEPREFIX="$PWD/$build/wineprefix" WINEDEBUG=-all
# No desktop integration, no Mono or Gecko installer prompts in the prefix.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

stop_wine() { wineserver -k 2>/dev/null || true; }
trap stop_wine EXIT
# A server of an earlier run that is still ending would refuse the new one.
stop_wine
wineserver -w 2>/dev/null || true
wineserver -p60
# The first start makes the prefix (a few seconds). Its output goes nowhere:
# wine's background services keep whatever they inherit open, and ctest
# would wait for that pipe to close.
wine cmd /c exit >/dev/null 2>&1 </dev/null

jobs=${JOBS:-2}
ctest --test-dir "$build" --output-on-failure -j "$jobs"
if [[ "${1:-}" != --unit ]]; then
  scripts/windows-e2e.sh "$build"
  scripts/windows-installer-check.sh "$build"
fi
