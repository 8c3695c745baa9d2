#!/usr/bin/env bash
# Cross-builds RyMail.exe with mingw-w64 and tests it under wine: the unit
# tests as a Windows program, then the Linux process tests driving
# RyMail.exe (its scripted relay in the same private network namespace),
# then the submission relays (Postfix, aiosmtpd) against it.
# Needs the Linux build (tools/test.sh builds it first).
set -euo pipefail
cd "$(dirname "$0")/.."
# libgnutls30: wine's Schannel runs over it, and wine64 only recommends it.
tools/install-deps.sh g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine64 libgnutls30 \
  openssl python3-aiosmtpd postfix sasl2-bin libsasl2-modules
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
wrapper=$(mktemp -d /tmp/rymail-wine-XXXXXX)
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true; rm -rf "$wrapper"' EXIT
key='HKLM\Software\Microsoft\Windows NT\CurrentVersion'
"$wine" reg add "$key" /v RegisteredOwner /d "Test Owner" /f >/dev/null 2>&1
"$wine" reg add "$key" /v RegisteredOrganization /d "Example Org" /f >/dev/null 2>&1
echo "=== Windows unit tests under wine"
ctest --preset windows -j"$(nproc)"
echo "=== Process tests against RyMail.exe under wine"
# Special Unix files (FIFO, /dev/null, /dev/stdin, /dev/full) have no Windows counterpart here.
RYMAIL_WINDOWS_PROGRAM="$PWD/build/windows/RyMail.exe" build/default/tests/rymail_tests \
  --gtest_brief=1 \
  --gtest_filter='Front.*:Delivery.*:Submission.*:Moments/TlsLibraryMapping.*:Text.*:Scripts.EveryEnding*:Recipients.*:*Connect.*:ConnectSettings.*:HostileInput.DebugFileThatIsAnInputFileIsRefusedUntouched:HostileInput.ValuesOfEveryLengthAndByte:HostileInput.ThousandsOfArguments'
echo "=== Submission relays against RyMail.exe under wine"
# The relay script runs its client in a network namespace of its own and with
# an environment of its own; this wrapper brings RyMail.exe and wine there.
{
  printf '#!/bin/bash\nexport WINEPREFIX=%q WINEDEBUG=-all\nstarted=%q/server-$(stat -L -c %%i /proc/self/ns/net)\n' \
    "$WINEPREFIX" "$wrapper"
  printf 'program=%q\n' "$PWD/build/windows/RyMail.exe"
  cat <<'END'
# Wine makes its sockets in the wineserver: once per namespace, a persistent
# one there, and wine's services started with none of the caller's pipes.
if [ ! -e "$started" ]; then
  /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
  /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1
  : >"$started"
fi
# Trust anchors named in the environment: OpenSSL's SSL_CERT_FILE on Linux, ryCaFile here.
[ -n "${SSL_CERT_FILE:-}" ] && export ryCaFile="$SSL_CERT_FILE"
exec /usr/lib/wine/wine64 "$program" "$@"
END
} >"$wrapper/RyMail"
chmod +x "$wrapper/RyMail"
# No wineserver may outlive the process tests here: the relay's namespace needs its own.
/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
/usr/lib/wine/wineserver -w
/usr/bin/python3 tests/relays/submission_relays.py --rymail "$wrapper/RyMail" \
  --report build/windows/submission-report.txt
