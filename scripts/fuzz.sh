#!/bin/sh
# Builds the libFuzzer targets of the mail-text code (native, clang) and runs each, one
# after another, for the given seconds (default 60). New corpus entries go to
# <build>/native/fuzz-work/<target>/corpus, failing inputs to .../findings; the seeds in
# fuzz/corpus and the inputs kept in tests/mailtext/regressions are read, never written.
# Prints executions and findings per target; exits non-zero on any finding.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORA_BUILD:-$root/build}
seconds=${1:-60}
jobs=$(nproc 2>/dev/null || echo 2)
CC=clang CXX=clang++ cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON >/dev/null
cmake --build "$build/native" -j "$jobs" --target fuzz_targets >/dev/null

work=$build/native/fuzz-work
# The file targets write a mail file per input: in memory when the machine allows.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  TMPDIR=/dev/shm
  export TMPDIR
fi
status=0
targets="classify_header extract_body multipart_utf8 stream_readers html_text header_text"
clean=0
for target in $targets; do
  dir=$work/$target
  mkdir -p "$dir/corpus" "$dir/findings"
  touch "$dir/started"
  dict=$root/fuzz/$target.dict
  [ -f "$dict" ] || dict=$root/fuzz/mail.dict
  kept=$root/tests/mailtext/regressions/$target
  [ -d "$kept" ] || kept=
  rc=0
  "$build/native/fuzz/fuzz_$target" "$dir/corpus" "$root/fuzz/corpus/$target" $kept \
    -dict="$dict" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=1024 \
    -artifact_prefix="$dir/findings/" -print_final_stats=1 >"$dir/log" 2>&1 || rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/log")
  last=$(grep -E '^#[0-9]+.*cov: ' "$dir/log" | tail -n 1)
  cov=$(echo "$last" | sed -n 's/.* cov: \([0-9]*\).*/\1/p')
  features=$(echo "$last" | sed -n 's/.* ft: \([0-9]*\).*/\1/p')
  corpus=$(echo "$last" | sed -n 's/.* corp: \([0-9]*\)\/.*/\1/p')
  # A slow unit is a report, not a failure (a stalled machine makes them too); a hang
  # past -timeout is a finding.
  findings=$(find "$dir/findings" -type f ! -name 'slow-unit-*' -newer "$dir/started" | wc -l)
  slow=$(find "$dir/findings" -type f -name 'slow-unit-*' -newer "$dir/started" | wc -l)
  printf '%-16s %10s execs %7s exec/s  cov %5s  ft %6s  corpus %5s  findings %s\n' \
    "$target" "${runs:-?}" "${rate:-?}" "${cov:-?}" "${features:-?}" "${corpus:-?}" "$findings"
  [ "$slow" -eq 0 ] || echo "  $slow slow unit(s) in $dir/findings: replay them to see whether they are slow"
  if [ "$rc" -ne 0 ] || [ "$findings" -ne 0 ]; then
    status=1
    echo "  exit status $rc; log $dir/log; inputs:"
    find "$dir/findings" -type f ! -name 'slow-unit-*' -newer "$dir/started" | sed 's/^/    /'
    grep -m 3 -E '^== check failed|ERROR: |runtime error' "$dir/log" | sed 's/^/  /' || true
  else
    clean=$((clean + 1))
  fi
done
total=$(echo $targets | wc -w)
if [ $status = 0 ]; then
  echo "fuzz: $clean of $total targets ran, no findings"
else
  echo "fuzz: $clean of $total targets ran without findings; the others FAILED (above)"
fi
exit $status
