#!/bin/sh
# Configures and builds both trees: build/win32 (the DLL, the hosts, the Wine tests) and
# build/native (the mail-text code under the sanitizers).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORA_BUILD:-$root/build}
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S "$root" -B "$build/win32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/win32" -j "$jobs"
if [ "${VELMORA_SKIP_NATIVE:-0}" != 1 ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build/native" -j "$jobs"
fi
