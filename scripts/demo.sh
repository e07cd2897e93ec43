#!/bin/sh
# The main job: builds Velmora.dll and the sandbox (a stand-in Quillpost) and runs the
# sandbox on the sample mails.
#   scripts/demo.sh             with a display: opens the windows for a person to use
#   scripts/demo.sh --headless  (or without a display) plays a scripted session under Xvfb
#                               and writes screenshots and texts into out/demo
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORA_BUILD:-$root/build}
headless=0
[ "${1:-}" = "--headless" ] && headless=1
[ -z "${DISPLAY:-}" ] && headless=1

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build/win32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/win32" --target sandbox -j "$(nproc 2>/dev/null || echo 2)"

# A prefix of its own: it reports Windows 10, so that the open-file repairs move the button.
prefix="$build/win32/demo-prefix"
"$root/scripts/wine-prefix" "$prefix"
WINEPREFIX="$prefix" WINEDEBUG=-all wine reg add 'HKCU\Software\Wine\AppDefaults\sandbox.exe' \
  /v Version /d win10 /f >/dev/null 2>&1 || true
# Started without a display, that Wine session must not be the one the windows go to.
WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
export VELMORA_WINEPREFIX="$prefix"

winpath() { echo "Z:$1" | sed 's|/|\\|g'; }
sandbox="$build/win32/bin/sandbox.exe"
if [ $headless = 0 ]; then
  exec "$root/scripts/wine-session" "$prefix" "$root/scripts/wine-run" "$sandbox" --samples "$(winpath "$root/samples")"
fi

out="$root/out/demo"
rm -rf "$out"
mkdir -p "$out"
status=0
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
  "$root/scripts/wine-session" "$prefix" \
  "$root/scripts/wine-run" "$sandbox" --samples "$(winpath "$root/samples")" --script "$(winpath "$out")" || status=$?
python3 "$root/scripts/png-compress.py" "$out"/*.png 2>/dev/null || true
echo
cat "$out/report.txt" 2>/dev/null || true
echo
echo "Screenshots, the Unicode pane's text and the clipboard are in $out"
exit $status
