#!/usr/bin/env bash
# Cross-builds RyMail.exe with mingw-w64 and tests it under wine: the unit
# tests as a Windows program, then the Linux process tests driving
# RyMail.exe (its scripted relay in the same private network namespace).
# Needs the Linux build (tools/test.sh builds it first).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine64
wine=/usr/lib/wine/wine64
export WINEPREFIX="$PWD/build/windows/wineprefix" WINEDEBUG=-all
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)"
mkdir -p "$WINEPREFIX"
[ -f "$WINEPREFIX/system.reg" ] || "$wine" wineboot --init >/dev/null 2>&1
# A persistent server: without it every run holds its output pipe for seconds.
# (wineboot may have left a passing one: end it first.)
/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
/usr/lib/wine/wineserver -p  # for the unit tests; the process tests start their own
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true' EXIT
key='HKLM\Software\Microsoft\Windows NT\CurrentVersion'
"$wine" reg add "$key" /v RegisteredOwner /d "Test Owner" /f >/dev/null 2>&1
"$wine" reg add "$key" /v RegisteredOrganization /d "Example Org" /f >/dev/null 2>&1
echo "=== Windows unit tests under wine"
ctest --preset windows -j"$(nproc)"
echo "=== Process tests against RyMail.exe under wine"
# Special Unix files (FIFO, /dev/null, /dev/stdin, /dev/full) have no Windows counterpart here.
RYMAIL_WINDOWS_PROGRAM="$PWD/build/windows/RyMail.exe" build/default/tests/rymail_tests \
  --gtest_brief=1 \
  --gtest_filter='Front.*:Delivery.*:HostileInput.DebugFileThatIsAnInputFileIsRefusedUntouched:HostileInput.ValuesOfEveryLengthAndByte:HostileInput.ThousandsOfArguments'
