#!/usr/bin/env bash
# Builds RyMail and sends a sample message through a relay that listens on
# loopback port 25 in a private network namespace; shows both sides.
# Extra arguments go to RyMail (for example: -d S).
set -euo pipefail
cd "$(dirname "$0")/.."
# Only what building the program and the demonstration takes.
tools/install-deps.sh cmake make g++ libgtest-dev libssl-dev netbase
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target RyMail rymail_demo >/dev/null
exec build/default/tests/rymail_demo "$@"
