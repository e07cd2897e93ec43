#!/bin/sh
# Builds the benchmark programs (bench/, every *_bench: the mail body, the message paths
# and registry lookups, the toggle and header classification) and runs each under Wine, on
# a private X server, printing their figures and the machine they ran on.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORA_BUILD:-$root/build}
jobs=$(nproc 2>/dev/null || echo 2)
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build/win32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/win32" --target benchmarks -j "$jobs" >/dev/null

echo "machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
# Other work on the machine shows in the figures: the load says how much there was.
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg); $(wine --version 2>/dev/null || echo 'wine: unknown version')"
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
  "$root/scripts/wine-session" "$build/win32/wineprefix" \
  sh -c 'status=0; for b in "$1"/bin/*_bench.exe; do echo "== $(basename "$b" .exe)"; wine "$b" || status=1; done; exit $status' \
  sh "$build/win32"
