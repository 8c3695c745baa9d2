#!/usr/bin/env bash
# Builds the whole tree, tests included, in every CMake build type with GCC
# and in Release with clang, and once without TLS, each with warnings as errors: every
# configuration a user or packager may pick must compile warning-free.
#   tools/build-all.sh
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/install-deps.sh clang
jobs=$(nproc)
build() {
  local name=$1
  shift
  echo "=== build $name"
  cmake -S . -B "build/all-$name" -DCMAKE_COMPILE_WARNING_AS_ERROR=ON "$@" >/dev/null
  cmake --build "build/all-$name" -j"$jobs" >/dev/null
}
for type in Release Debug RelWithDebInfo MinSizeRel; do
  build "gcc-$type" -DCMAKE_BUILD_TYPE="$type" -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc
done
build clang-Release -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang
build gcc-without-TLS -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRYMAIL_TLS=OFF
echo "=== every configuration built without a warning"
