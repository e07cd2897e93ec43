#!/bin/sh
# The whole test suite on a fresh machine: installs what is missing, builds the trees,
# runs the native tests under the sanitizers, a short fuzz run, and the Windows tests under
# Wine on a private X server: the 64-bit suite always, and the 32-bit suite (the product)
# under the machine's own 32-bit Wine where it has one, else under the 32-bit Wine of an
# i386 root of ours (scripts/root32): by chroot where the kernel runs i386 programs, in a
# small virtual machine where it doesn't (VELMORA_NO_VM=1 leaves that out).
# VELMORA_NO_32BIT=1 skips the 32-bit suite on any machine. The 32-bit DLL's file checks
# (format, exports, imports, reproducible bytes) run either way, on the machine itself.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORA_BUILD:-$root/build}
"$root/scripts/setup.sh"

. "$root/scripts/wine-env"
why=$(why_no_32bit)
how32=""
if [ -z "$why" ]; then
  how32="under 32-bit Wine"
elif [ "${VELMORA_NO_32BIT:-0}" != 1 ]; then
  err=$(mktemp)
  case $("$root/scripts/root32" how 2>"$err") in
    chroot) how32="under 32-bit Wine in an i386 root" ;;
    vm) how32="under 32-bit Wine in a virtual machine" ;;
    *) why="$why, and no i386 root: $(cat "$err")" ;;
  esac
  rm -f "$err"
fi
# (vm32: 0, or what the summary adds to the 32-bit suite's line)
vm32=0
[ "$how32" = "under 32-bit Wine in a virtual machine" ] &&
  vm32="; there the soak runs make a tenth of their loads, the 64-bit suite all of them"
if [ -n "$how32" ]; then
  run32=1
  why32=""
else
  run32=0
  why32="skipped: $why (the 64-bit suite covers the same code)"
fi
# summary <runs|ran>: which suites run and which are skipped, and why.
summary() {
  echo "   32-bit Windows suite (the product${how32:+, $how32}): ${why32:-$1}${vm32#0}"
  if [ $run32 = 1 ] && [ "$vm32" = 0 ]; then
    echo "   64-bit Windows suite (under 64-bit Wine): $1, but for the soak runs, which the 32-bit suite has"
  else
    echo "   64-bit Windows suite (under 64-bit Wine): $1"
  fi
  echo "   32-bit DLL file checks (format, exports, imports, reproducible bytes): $1"
  if [ "${VELMORA_SKIP_NATIVE:-0}" = 1 ]; then
    echo "   native tests and fuzzing: skipped: VELMORA_SKIP_NATIVE=1"
  elif [ "${VELMORA_SKIP_FUZZ:-0}" = 1 ]; then
    echo "   native tests: $1; fuzzing: skipped: VELMORA_SKIP_FUZZ=1"
  else
    echo "   native tests and fuzzing: $1"
  fi
}
echo "== suites"
summary runs
"$root/scripts/build.sh"

jobs=$(nproc 2>/dev/null || echo 2)
status=0
log=$(mktemp)
vmjob=""
trap 'rm -f "$log" "$log.suite" "$log.vm"; [ -z "$vmjob" ] || "$root/scripts/root32" stop' EXIT
# suite <ctest command...>: runs one CTest suite; its counts go to the closing line.
suite() {
  "$@" 2>&1 | tee "$log.suite" || true
  cat "$log.suite" >>"$log"
  grep -q '^100% tests passed' "$log.suite" || status=1
}
# windows <tree> <win32|win64> [ctest arguments]: a Windows suite in one Wine session.
windows() {
  tree=$1
  arch=$2
  shift 2
  suite env VELMORA_WINEARCH="$arch" xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    "$root/scripts/wine-session" "$build/$tree/wineprefix" \
    ctest --test-dir "$build/$tree" --output-on-failure -j "$jobs" "$@" ${VELMORA_CTEST_ARGS:-}
}

# in_root32 <ctest arguments>: the 32-bit Windows programs in the i386 root.
in_root32() {
  "$root/scripts/root32" run env VELMORA_WINEARCH=win32 \
    xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    "$root/scripts/wine-session" "$build/win32/wineprefix" \
    ctest --test-dir "$build/win32" --output-on-failure -j "$jobs" -L wine ${VELMORA_CTEST_ARGS:-}
}
# The virtual machine's run takes most of the time and little of the machine's second core:
# it starts first and runs beside the other suites, its output kept until they are done.
# Software emulation: every time-out stretched, CTest's and the programs' own (the job gets
# the VELMORA_ variables), the build itself unchanged.
if [ "$vm32" != 0 ]; then
  echo "== 32-bit Windows tests $how32: started, beside the suites below"
  scale=${VELMORA_TIMEOUT_SCALE:-10}
  VELMORA_TIMEOUT_SCALE=$scale cmake -S "$root" -B "$build/win32" >/dev/null
  VELMORA_TIMEOUT_SCALE=$scale in_root32 >"$log.vm" 2>&1 &
  vmjob=$!
fi

if [ "${VELMORA_SKIP_NATIVE:-0}" != 1 ]; then
  echo "== native tests (AddressSanitizer, UndefinedBehaviorSanitizer)"
  suite ctest --test-dir "$build/native" --output-on-failure -j "$jobs"
fi

# Fuzz targets: a short bounded run of each (scripts/fuzz.sh takes the seconds per target).
if [ "${VELMORA_SKIP_NATIVE:-0}" != 1 ] && [ "${VELMORA_SKIP_FUZZ:-0}" != 1 ]; then
  echo "== fuzz targets (${VELMORA_FUZZ_SECONDS:-12} s each)"
  "$root/scripts/fuzz.sh" "${VELMORA_FUZZ_SECONDS:-12}" || status=1
fi

echo "== 64-bit Windows tests under 64-bit Wine"
echo "   (one difference: the long-line rows of the bad-input table give the stand-in host the"
echo "   header only, as the 100 MB row does; 64-bit Wine's rich edit shapes a long ANSI line"
echo "   through uniscribe's OpenType lookups and the host's own pane would take many minutes)"
# The soak runs take minutes under Wine: where the product's suite runs, they run there only;
# in the virtual machine they make a tenth of their loads, and run here in full as well.
if [ $run32 = 1 ] && [ "$vm32" = 0 ]; then
  windows win64 win64 -E '^hardening_soak'
else
  windows win64 win64
fi
if [ $run32 = 1 ] && [ "$how32" = "under 32-bit Wine" ]; then
  echo "== 32-bit Windows tests under 32-bit Wine"
  windows win32 win32
elif [ $run32 = 1 ]; then
  # (the file checks need the machine's MinGW tools; they run while the machine still works)
  echo "== 32-bit DLL file checks"
  suite ctest --test-dir "$build/win32" --output-on-failure -L file
  echo "== 32-bit Windows tests $how32"
  if [ -n "$vmjob" ]; then
    wait "$vmjob" || true
    vmjob=""
    suite cat "$log.vm"
  else
    suite in_root32
  fi
else
  echo "== 32-bit DLL file checks only: the 32-bit suite is $why32"
  suite ctest --test-dir "$build/win32" --output-on-failure -L file
fi

echo "== suites"
summary ran
passed=0
failed=0
for line in $(sed -n 's/^[0-9]*% tests passed, \([0-9]*\) tests* failed out of \([0-9]*\)$/\1:\2/p' "$log"); do
  failed=$((failed + ${line%%:*}))
  passed=$((passed + ${line#*:} - ${line%%:*}))
done
echo "$passed passed, $failed failed"
exit $status
