#!/bin/sh
# The whole test suite on a fresh machine: installs what is missing, builds both trees,
# runs the Wine tests on a private X server and the native tests under the sanitizers.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORA_BUILD:-$root/build}
"$root/scripts/setup.sh"
"$root/scripts/build.sh"

jobs=$(nproc 2>/dev/null || echo 2)
status=0
if [ "${VELMORA_SKIP_NATIVE:-0}" != 1 ]; then
  echo "== native tests (AddressSanitizer, UndefinedBehaviorSanitizer)"
  ctest --test-dir "$build/native" --output-on-failure -j "$jobs" || status=1
fi

# Fuzz targets: a short bounded run of each (scripts/fuzz.sh takes the seconds per target).
if [ "${VELMORA_SKIP_NATIVE:-0}" != 1 ] && [ "${VELMORA_SKIP_FUZZ:-0}" != 1 ]; then
  echo "== fuzz targets (${VELMORA_FUZZ_SECONDS:-12} s each)"
  "$root/scripts/fuzz.sh" "${VELMORA_FUZZ_SECONDS:-12}" || status=1
fi

echo "== Windows tests under Wine"
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
  "$root/scripts/wine-session" "$build/win32/wineprefix" \
  ctest --test-dir "$build/win32" --output-on-failure -j "$jobs" ${VELMORA_CTEST_ARGS:-} || status=1
exit $status
