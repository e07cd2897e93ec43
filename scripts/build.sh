#!/bin/sh
# Configures and builds the trees: build/win32 (the product: the 32-bit DLL, with the
# hosts and the Wine tests), build/win64 (the same sources for x86-64 Windows, the test
# vehicle for machines that run no 32-bit programs) and build/native (the mail-text code
# under the sanitizers). VELMORA_SKIP_WIN64=1 or VELMORA_SKIP_NATIVE=1 leave one out.
# build.sh TREE... builds only those (win32, win64, native).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORA_BUILD:-$root/build}
jobs=$(nproc 2>/dev/null || echo 2)
trees=${*:-win32 win64 native}
want() { case " $trees " in *" $1 "*) return 0 ;; esac; return 1; }
if want win32; then
  cmake -S "$root" -B "$build/win32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build/win32" -j "$jobs"
fi
if want win64 && [ "${VELMORA_SKIP_WIN64:-0}" != 1 ]; then
  cmake -S "$root" -B "$build/win64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build/win64" -j "$jobs"
fi
if want native && [ "${VELMORA_SKIP_NATIVE:-0}" != 1 ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build/native" -j "$jobs"
fi
