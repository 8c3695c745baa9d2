#!/usr/bin/env bash
# Builds the release packages: build/default/rymail_*.deb from the Linux
# build, and build/windows/rymail-*-windows-x86_64.zip when the Windows
# cross-build is there (tools/test-windows.sh makes it). Checks that the
# Debian package installs and runs (as root it installs it, tries it, and
# removes it again). Builds the Linux program first when needed.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -f build/default/CMakeCache.txt ]; then
  echo "package: no Linux build yet; building it (cmake --preset default)"
  cmake --preset default >/dev/null
fi
cmake --build --preset default -j"$(nproc)" --target RyMail >/dev/null
(cd build/default && cpack >/dev/null)
deb=$(ls build/default/rymail_*.deb)
echo "package $deb: $(stat -c %s "$deb") bytes"
if [ -f build/windows/CMakeCache.txt ]; then
  (cd build/windows && cpack >/dev/null)
  zip=$(ls build/windows/rymail-*-windows-x86_64.zip)
  echo "package $zip: $(stat -c %s "$zip") bytes ($(unzip -Z1 "$zip" | tr '\n' ' '))"
else
  echo "package: no Windows build (build/windows), so no .zip; tools/test-windows.sh makes one"
fi
if [ "$(id -u)" -eq 0 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb" >/dev/null
  trap 'DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq rymail >/dev/null' EXIT
  RyMail -H | head -2 | tr -d '\r' | grep -q "RyMail Help  - Version 1.0"
  man -w RyMail >/dev/null
  echo "package check: installed, RyMail -H and man RyMail work"
fi
