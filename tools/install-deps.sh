#!/usr/bin/env bash
# Installs, from Debian's packages, everything that building and testing
# RyMail needs (tools/test.sh): the toolchain, GoogleTest, the services
# table, valgrind, the real relays the tests start themselves (Postfix,
# aiosmtpd), SpamAssassin, the packaging tools, and mingw-w64 and wine for
# the Windows build. Nothing is left running. With arguments, it installs
# those packages instead (when missing).
#   tools/install-deps.sh [package...]
set -euo pipefail
packages=(cmake make g++ libgtest-dev libssl-dev openssl ca-certificates netbase iproute2 valgrind python3 python3-aiosmtpd postfix
          sasl2-bin libsasl2-modules dpkg-dev unzip man-db mandoc spamassassin
          g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine64 libgnutls30 clang libclang-rt-14-dev)
[ $# -gt 0 ] && packages=("$@")
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "There is no sudo here: root must run tools/install-deps.sh once, with no arguments" >&2
    echo "(it installs everything that building and testing need, with apt-get)." >&2
    exit 1
  fi
  sudo="sudo"
fi
# Postfix is only a program for the tests here: no configuration, no service started.
echo "postfix postfix/main_mailer_type select No configuration" | $sudo debconf-set-selections
policy=/usr/sbin/policy-rc.d
made_policy=""
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
  $sudo chmod +x "$policy"
  made_policy=yes
fi
trap '[ -n "$made_policy" ] && $sudo rm -f "$policy"' EXIT
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
