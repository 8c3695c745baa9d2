#!/usr/bin/env bash
# Builds the release packages, build/default/rymail_*.deb and
# build/windows/rymail-*-windows-x86_64.zip, and checks that the Debian
# package installs and runs (as root it installs it, tries it, and removes
# it again). Needs the builds that tools/test.sh makes.
set -euo pipefail
cd "$(dirname "$0")/.."
(cd build/default && cpack >/dev/null)
(cd build/windows && cpack >/dev/null)
deb=$(ls build/default/rymail_*.deb)
zip=$(ls build/windows/rymail-*-windows-x86_64.zip)
echo "package $deb: $(stat -c %s "$deb") bytes"
echo "package $zip: $(stat -c %s "$zip") bytes ($(unzip -Z1 "$zip" | tr '\n' ' '))"
if [ "$(id -u)" -eq 0 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb" >/dev/null
  trap 'DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq rymail >/dev/null' EXIT
  RyMail -H | head -2 | tr -d '\r' | grep -q "RyMail Help  - Version 1.0"
  man -w RyMail >/dev/null
  echo "package check: installed, RyMail -H and man RyMail work"
fi
