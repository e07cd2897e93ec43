#!/bin/sh
# Builds the benchmark programs (bench/, every *_bench: the mail body, the message paths
# and registry lookups, the toggle, first and next mail's, header classification, and a
# day's session of loads and presses) and
# runs each under Wine, on a private X server, printing their figures and the machine they
# ran on. The 32-bit build runs under the machine's 32-bit Wine, or under that of our i386
# root entered by chroot (scripts/root32), never in its virtual machine, whose software
# emulation would distort every time; the x86-64 build otherwise (or with
# VELMORA_NO_32BIT=1). Every figure is labelled with the build it came from.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORA_BUILD:-$root/build}
jobs=$(nproc 2>/dev/null || echo 2)
# (no virtual machine: an i386 root is made here only where chroot enters it)
VELMORA_NO_VM=1 "$root/scripts/setup.sh"
. "$root/scripts/wine-env"
why=$(why_no_32bit)
inroot=""
if [ -n "$why" ] && [ "${VELMORA_NO_32BIT:-0}" != 1 ]; then
  if [ "$(VELMORA_ROOT32_VM=0 "$root/scripts/root32" how 2>/dev/null)" = chroot ]; then
    inroot="$root/scripts/root32 run env VELMORA_WINEARCH=win32"
    why=""
  else
    why="$why, and the i386 root is not entered by chroot here (timings in a virtual machine would mean nothing)"
  fi
fi
if [ -z "$why" ]; then
  tree=win32 toolchain=mingw-i686 label="32-bit build${inroot:+, in an i386 root}"
else
  tree=win64 toolchain=mingw-x86_64 label="x86-64 build ($why)"
fi
VELMORA_WINEARCH=$tree
. "$root/scripts/wine-env"
cmake -S "$root" -B "$build/$tree" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/$tree" --target benchmarks -j "$jobs" >/dev/null

echo "build: $label"
echo "machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
# Other work on the machine shows in the figures: the load says how much there was.
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
# shellcheck disable=SC2086
$inroot sh -c 'echo "$("$1" --version 2>/dev/null || echo "wine: unknown version")"' sh "$wine"
# The figures are kept as they come: a run that gave none says so instead of ending quietly.
figures=$(mktemp)
trap 'rm -f "$figures"' EXIT
status=0
# shellcheck disable=SC2086
{ $inroot xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
  "$root/scripts/wine-session" "$build/$tree/wineprefix" \
  sh -c 'status=0; for b in "$1"/bin/*_bench.exe; do echo "== $(basename "$b" .exe) ($2)"; "$3" "$b" || status=1; done
         # The peak working set of one press, each in a process of its own, beside that of a
         # bare control given the same text, in another.
         for encoding in 8bit quoted-printable base64; do for kb in 100 1000 10000 100000; do
           "$3" "$1/bin/mail_view_bench.exe" peak $encoding $kb | grep "^5\." || status=1; done; done
         # A first press, the press of the next mail and a bare stream, each encoding and size alone.
         for encoding in 8bit quoted-printable base64; do for kb in 100 1000 10000; do
           "$3" "$1/bin/mail_view_bench.exe" press $encoding $kb | grep "^7\." || status=1; done; done
         # A session of a thousand loads and presses in one view, beside a bare control.
         "$3" "$1/bin/mail_view_bench.exe" session | grep -v "^mail_view_bench:" || status=1
         exit $status' \
  sh "$build/$tree" "$tree" "$wine" 2>&1 || echo $? >"$figures.rc"; } | tee "$figures"
[ ! -f "$figures.rc" ] || { status=$(cat "$figures.rc"); rm -f "$figures.rc"; }
# (a figure: a line with a number that is not a heading)
given=$(grep -v '^== ' "$figures" | grep -c '[0-9]' || true)
if [ "$given" = 0 ]; then
  echo "bench: FAILED: no figures (exit status $status${status:+; }$(sed -e '/^[[:space:]]*$/d' "$figures" | tail -n 1))"
  [ $status != 0 ] || status=1
elif [ $status != 0 ]; then
  echo "bench: FAILED: exit status $status: a benchmark program failed (above); the figures above are incomplete"
fi
exit $status
