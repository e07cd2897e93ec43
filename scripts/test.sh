#!/bin/sh
# The whole test suite on a fresh machine: installs what is missing, builds the trees,
# runs the native tests under the sanitizers, a short fuzz run, and the Windows tests under
# Wine on a private X server: the 64-bit suite always, and the 32-bit suite (the product)
# under the machine's own 32-bit Wine where it has one, else under the 32-bit Wine of an
# i386 root of ours (scripts/root32): by chroot where the kernel runs i386 programs, in a
# small virtual machine where it doesn't (VELMORA_NO_VM=1 leaves that out).
# VELMORA_NO_32BIT=1 skips the 32-bit suite on any machine. The 32-bit DLL's file checks
# (format, exports, imports, reproducible bytes) run either way, on the machine itself.
#
# Every suite is judged by what it printed: its exit status and CTest's summary line, whose
# count must be the number of programs its tree holds. A suite that printed no summary,
# counted fewer programs, failed one or exited non-zero has failed, and so has one that
# could not run unless it was left out on request; the closing lines say which and why.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORA_BUILD:-$root/build}
# (the i386 root is made below, beside the 32-bit build)
VELMORA_ROOT32_LATER=1 "$root/scripts/setup.sh"

. "$root/scripts/wine-env"
why=$(why_no_32bit)
how32=""
skip32=""
if [ -z "$why" ]; then
  how32="under 32-bit Wine"
elif [ "${VELMORA_NO_32BIT:-0}" = 1 ]; then
  skip32="VELMORA_NO_32BIT=1"
elif ! "$root/scripts/runs-32bit" && [ "${VELMORA_NO_VM:-0}" = 1 ]; then
  skip32="VELMORA_NO_VM=1 on a kernel that runs no 32-bit programs"
elif "$root/scripts/runs-32bit" && [ "${VELMORA_ROOT32_VM:-0}" != 1 ]; then
  how32="under 32-bit Wine in an i386 root"
else
  how32="under 32-bit Wine in a virtual machine"
fi
vm=0
[ "$how32" = "under 32-bit Wine in a virtual machine" ] && vm=1

jobs=$(nproc 2>/dev/null || echo 2)
# The Wine suites run this many programs side by side, each on a desktop of its own (an X
# display and a Wine session: scripts/wine-desktops); the trees are configured for it.
desktops=${VELMORA_DESKTOPS:-$jobs}
[ "$desktops" -ge 1 ] 2>/dev/null || desktops=1
VELMORA_DESKTOPS=$desktops
export VELMORA_DESKTOPS
began=$(date +%s)
# at [SECONDS]: the time since the run began (or to the given moment), as "4 m 05 s".
at() { t=$(( ${1:-$(date +%s)} - began )); printf '%d m %02d s' $((t / 60)) $((t % 60)); }
heading() { echo "== $* ($(at))"; }
work=$(mktemp -d)
vmjob=""
rootjob=""
finished=0
stopped=""
noroot=0
# The suites in the order the closing lines give them: key and name.
suites="w32 w64 file native fuzz"
name() {
  case $1 in
    w32) echo "32-bit Windows suite (the product${how32:+, $how32})" ;;
    w64) echo "64-bit Windows suite (under 64-bit Wine)" ;;
    file) echo "32-bit DLL file checks (format, exports, imports, reproducible bytes)" ;;
    native) echo "native tests (AddressSanitizer, UndefinedBehaviorSanitizer)" ;;
    fuzz) echo "fuzzing (${VELMORA_FUZZ_SECONDS:-12} s a target)" ;;
  esac
}
# verdict KEY TEXT: the suite's closing line; "ok" texts pass, any other fails the run.
verdict() { printf '%s\n' "$2" >"$work/$1.verdict"; }
# expect KEY TREE [ctest selection...]: the number of programs the suite's selection holds.
expect() {
  key=$1 tree=$2
  shift 2
  ctest --test-dir "$tree" -N "$@" 2>/dev/null | sed -n 's/^Total Tests: //p' >"$work/$key.expected" || true
}
# judge KEY: the suite's verdict from its output, exit status and expected count.
judge() {
  key=$1
  rc=$(cat "$work/$key.rc" 2>/dev/null || echo "none")
  expected=$(cat "$work/$key.expected" 2>/dev/null || true)
  line=$(sed -n 's/^[0-9]*% tests passed, \([0-9]*\) tests* failed out of \([0-9]*\)$/\1 \2/p' "$work/$key.log" 2>/dev/null | tail -n 1)
  last=$(sed -e 's/\r$//' -e '/^[[:space:]]*$/d' "$work/$key.log" 2>/dev/null | tail -n 1)
  if [ "$rc" = none ]; then
    verdict "$key" "FAILED: it did not end (${stopped:-no exit status})"
  elif [ -z "$line" ]; then
    verdict "$key" "FAILED: no CTest summary (the job exited $rc${last:+: $last})"
  else
    set -- $line
    if [ -z "$expected" ] || [ "$expected" = 0 ]; then
      verdict "$key" "FAILED: its tree holds no programs to run"
    elif [ "$2" != "$expected" ]; then
      verdict "$key" "FAILED: CTest counted $2 programs, the tree holds $expected"
    elif [ "$1" != 0 ]; then
      verdict "$key" "FAILED: $1 of $2 programs failed"
    elif [ "$rc" != 0 ]; then
      verdict "$key" "FAILED: all $2 programs passed, but the job exited $rc${last:+: $last}"
    else
      verdict "$key" "ok: $2 of $2 programs passed"
    fi
  fi
}
# suite KEY COMMAND...: runs a suite, its output shown and kept, and judges it.
suite() {
  key=$1
  shift
  rm -f "$work/$key.rc"
  { "$@" 2>&1 && echo 0 >"$work/$key.rc" || echo $? >"$work/$key.rc"; } | tee "$work/$key.log"
  judge "$key"
}
# summary: a line a suite; the total; the exit status (non-zero when any suite failed).
summary() {
  echo "== suites"
  status=0
  passed=0
  failed=0
  for key in $suites; do
    # (a suite stopped on its way has output and no verdict yet)
    [ -f "$work/$key.verdict" ] || [ ! -f "$work/$key.log" ] || judge "$key"
    v=$(cat "$work/$key.verdict" 2>/dev/null || echo "FAILED: it did not run: $stopped")
    case $v in
      ok:*) v=${v#ok: } ;;
      skipped:*) ;;
      *) status=1 ;;
    esac
    echo "   $(name "$key"): $v"
    line=$(sed -n 's/^[0-9]*% tests passed, \([0-9]*\) tests* failed out of \([0-9]*\)$/\1 \2/p' "$work/$key.log" 2>/dev/null | tail -n 1)
    if [ -n "$line" ]; then
      set -- $line
      failed=$((failed + $1))
      passed=$((passed + $2 - $1))
    fi
  done
  echo "$passed programs passed, $failed failed; $( [ $status = 0 ] && echo "every suite passed" || echo "a suite FAILED (above)") ($(at))"
  return $status
}
finish() {
  code=$?
  trap - EXIT INT TERM
  [ -z "$vmjob" ] || "$root/scripts/root32" stop
  [ -z "$rootjob" ] || kill "$rootjob" 2>/dev/null || true
  if [ $finished = 0 ]; then
    [ -n "$stopped" ] || stopped="the run stopped before it (exit status $code, above)"
    echo
    echo "test.sh: $stopped"
    summary || true
    [ $code != 0 ] || code=1
  fi
  rm -rf "$work"
  exit $code
}
trap finish EXIT
trap 'stopped="interrupted"; exit 130' INT
trap 'stopped="stopped by a signal"; exit 143' TERM

echo "== suites"
for key in $suites; do
  case $key in
    w32) [ -n "$skip32" ] && v="skipped: $skip32 (the 64-bit suite covers the same code)" || v="runs" ;;
    w64) [ $vm = 0 ] && [ -n "$how32" ] && v="runs, but for the soak runs, which the 32-bit suite has" || v="runs" ;;
    file) [ "$how32" = "under 32-bit Wine" ] && v="skipped: part of the 32-bit suite" || v="runs" ;;
    native) [ "${VELMORA_SKIP_NATIVE:-0}" = 1 ] && v="skipped: VELMORA_SKIP_NATIVE=1" || v="runs" ;;
    fuzz) if [ "${VELMORA_SKIP_NATIVE:-0}" = 1 ] || [ "${VELMORA_SKIP_FUZZ:-0}" = 1 ]; then
            v="skipped: VELMORA_SKIP_NATIVE=1 or VELMORA_SKIP_FUZZ=1"; else v="runs"; fi ;;
  esac
  echo "   $(name "$key"): $v"
  case $v in skipped:*) verdict "$key" "$v" ;; esac
done
[ $vm = 1 ] && echo "   (in the virtual machine the soak runs make a tenth of their loads; the 64-bit suite makes all of them)"
# The real mails beside the project: without them their rows are passed over, and that is said.
if [ -d "$root/../shared/mail-corpus/public" ]; then
  echo "   (the real mails of $(cd "$root/../shared/mail-corpus" && pwd) are read by their rows)"
else
  echo "   (no mail corpus at $root/../shared/mail-corpus: the rows that read its mails are passed over)"
fi

# The i386 root is made beside the 32-bit build; the product's suite starts as soon as both
# are there, and the other trees build and run beside it.
if [ -n "$how32" ] && [ "$how32" != "under 32-bit Wine" ]; then
  "$root/scripts/root32" make >"$work/root.log" 2>&1 &
  rootjob=$!
fi
"$root/scripts/build.sh" win32
if [ -n "$rootjob" ]; then
  rc=0
  wait "$rootjob" || rc=$?
  rootjob=""
  cat "$work/root.log"
  if [ $rc != 0 ]; then
    verdict w32 "FAILED: the i386 root can't be made (above; VELMORA_NO_32BIT=1 leaves the suite out on purpose)"
    noroot=1
  fi
fi

# windows TREE ARCH [ctest arguments]: a Windows suite's command, on its desktops.
windows() {
  tree=$1 arch=$2
  shift 2
  env VELMORA_WINEARCH="$arch" "$root/scripts/wine-desktops" "$build/$tree" "$desktops" \
    ctest --test-dir "$build/$tree" --output-on-failure -j "$desktops" "$@" ${VELMORA_CTEST_ARGS:-}
}
# in_root32: the 32-bit Windows programs in the i386 root.
in_root32() {
  "$root/scripts/root32" run env VELMORA_WINEARCH=win32 "$root/scripts/wine-desktops" "$build/win32" "$desktops" \
    ctest --test-dir "$build/win32" --output-on-failure -j "$desktops" -L wine ${VELMORA_CTEST_ARGS:-}
}
if [ -n "$how32" ] && [ "$how32" != "under 32-bit Wine" ] && [ $noroot = 0 ]; then
  expect w32 "$build/win32" -L wine ${VELMORA_CTEST_ARGS:-}
  if [ $vm = 1 ]; then
    # Software emulation: every time-out stretched, CTest's and the programs' own (the job
    # gets the VELMORA_ variables). Its output is kept until the other suites are done.
    heading "32-bit Windows tests $how32: started, beside the suites below"
    scale=${VELMORA_TIMEOUT_SCALE:-10}
    VELMORA_TIMEOUT_SCALE=$scale cmake -S "$root" -B "$build/win32" >/dev/null
    { VELMORA_TIMEOUT_SCALE=$scale in_root32 >"$work/w32.log" 2>&1 && echo 0 >"$work/w32.rc" ||
      echo $? >"$work/w32.rc"; date +%s >"$work/w32.end"; } &
    vmjob=$!
  fi
fi

# (beside the virtual machine, which is the longer way, the builds yield to it)
nice -n "$([ -n "$vmjob" ] && echo 10 || echo 0)" "$root/scripts/build.sh" win64 native

if [ "${VELMORA_SKIP_NATIVE:-0}" != 1 ]; then
  heading "native tests (AddressSanitizer, UndefinedBehaviorSanitizer)"
  expect native "$build/native"
  suite native ctest --test-dir "$build/native" --output-on-failure -j "$jobs"
  if [ "${VELMORA_SKIP_FUZZ:-0}" != 1 ]; then
    heading "fuzz targets (${VELMORA_FUZZ_SECONDS:-12} s each)"
    rm -f "$work/fuzz.rc"
    { "$root/scripts/fuzz.sh" "${VELMORA_FUZZ_SECONDS:-12}" 2>&1 && echo 0 >"$work/fuzz.rc" ||
      echo $? >"$work/fuzz.rc"; } | tee "$work/fuzz.log"
    # (fuzz.sh ends with "fuzz: N of N targets ran, no findings" when all went well)
    rc=$(cat "$work/fuzz.rc")
    done_line=$(sed -n 's/^fuzz: \([0-9]* of [0-9]* targets ran, no findings\)$/\1/p' "$work/fuzz.log" | tail -n 1)
    if [ "$rc" = 0 ] && [ -n "$done_line" ]; then
      verdict fuzz "ok: $done_line"
    else
      verdict fuzz "FAILED: $(sed -e '/^[[:space:]]*$/d' "$work/fuzz.log" | tail -n 1) (exit status $rc)"
    fi
  fi
fi

heading "64-bit Windows tests under 64-bit Wine"
echo "   (one difference: the long-line rows of the bad-input table give the stand-in host the"
echo "   header only, as the 100 MB row does; 64-bit Wine's rich edit shapes a long ANSI line"
echo "   through uniscribe's OpenType lookups and the host's own pane would take many minutes)"
# The soak runs take minutes under Wine: where the product's suite runs at full speed, they
# run there only; in the virtual machine they make a tenth of their loads, and run here in
# full as well.
if [ -n "$how32" ] && [ $vm = 0 ]; then
  expect w64 "$build/win64" -E '^hardening_soak' ${VELMORA_CTEST_ARGS:-}
  suite w64 windows win64 win64 -E '^hardening_soak'
else
  expect w64 "$build/win64" ${VELMORA_CTEST_ARGS:-}
  suite w64 windows win64 win64
fi

if [ "$how32" = "under 32-bit Wine" ]; then
  heading "32-bit Windows tests under 32-bit Wine"
  expect w32 "$build/win32" ${VELMORA_CTEST_ARGS:-}
  suite w32 windows win32 win32
else
  heading "32-bit DLL file checks"
  expect file "$build/win32" -L file
  suite file ctest --test-dir "$build/win32" --output-on-failure -L file
  if [ -n "$how32" ] && [ $noroot = 0 ]; then
    heading "32-bit Windows tests $how32"
    if [ $vm = 1 ]; then
      rc=0
      wait "$vmjob" || rc=$?
      vmjob=""
      cat "$work/w32.log"
      echo "(the machine's run ended at $(at "$(cat "$work/w32.end" 2>/dev/null || date +%s)"))"
      judge w32
    else
      suite w32 in_root32
    fi
  fi
fi

finished=1
summary
