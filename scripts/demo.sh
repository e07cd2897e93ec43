#!/bin/sh
# The main job: builds Velmora.dll and the sandbox (a stand-in Quillpost) and runs the
# sandbox on the sample mails.
#   scripts/demo.sh             with a display: opens the windows for a person to use
#   scripts/demo.sh --headless  (or without a display) plays a scripted session under Xvfb
#                               and writes screenshots and texts into out/demo
# It runs the 32-bit build (the product) under the machine's 32-bit Wine where it has one,
# else headless under the 32-bit Wine of our i386 root (scripts/root32: chroot, or a small
# virtual machine), and the same sources built for x86-64 otherwise (VELMORA_NO_32BIT=1
# forces that); it says which.
# (--play: the scripted session alone, the build given; what the root runs.)
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORA_BUILD:-$root/build}
headless=0
[ "${1:-}" = "--headless" ] && headless=1
[ -z "${DISPLAY:-}" ] && headless=1
out="$root/out/demo"
# finish: the pictures made smaller, and what the session wrote.
finish() {
  # A session that wrote no pictures has nothing to show: say so, and why, instead.
  if ! ls "$out"/*.png >/dev/null 2>&1; then
    [ $status != 0 ] || status=1
    echo
    if [ -f "$out/report.txt" ]; then
      why="its checks above say what failed"
    else
      why="the sandbox did not run to its end: the lines above say why"
    fi
    echo "demo: FAILED: the session wrote no pictures into $out (exit status $status; $why)"
    exit $status
  fi
  python3 "$root/scripts/png-compress.py" "$out"/*.png 2>/dev/null || true
  echo
  [ -f "$out/report.txt" ] && echo "build: $tree" >>"$out/report.txt"
  cat "$out/report.txt" 2>/dev/null || true
  echo
  echo "Screenshots, the Unicode pane's text and the clipboard are in $out;"
  echo "view-nested.png, view-charset.png, view-html.png and pane-nested.txt, pane-charset.txt,"
  echo "pane-euc-kr.txt, pane-html.txt show the mails that the Settings menu's switches"
  echo "(Velmora.ini) open to the toggle;"
  echo "view-auto.png the Unicode view opened by itself (Auto=1) right after the load, with no press;"
  echo "view-headers.png and pane-headers.txt the header fields at the top of the pane (Headers=1);"
  echo "view-find.png the find box (Ctrl+F) with the match it selected, and link-opened.txt the"
  echo "address a click on the HTML mail's link handed to the https handler (the session's own)."
  [ $status = 0 ] || echo "demo: FAILED: exit status $status (the report above names the checks that failed)"
  exit $status
}
winpath() { echo "Z:$1" | sed 's|/|\\|g'; }

if [ "${1:-}" = "--play" ]; then
  tree=win32
  how=""
else
  "$root/scripts/setup.sh"
  . "$root/scripts/wine-env"
  why=$(why_no_32bit)
  how=""
  if [ -n "$why" ] && [ "${VELMORA_NO_32BIT:-0}" != 1 ] && [ $headless = 1 ]; then
    how=$("$root/scripts/root32" how 2>/dev/null) || true
    [ -n "$how" ] || why="$why, and no i386 root"
  fi
  if [ -z "$why" ]; then
    tree=win32 toolchain=mingw-i686
    echo "demo: the 32-bit build, Velmora.dll as it ships, under 32-bit Wine"
  elif [ -n "$how" ]; then
    tree=win32 toolchain=mingw-i686
    [ "$how" = vm ] && where="in a virtual machine (this kernel runs no 32-bit programs)" ||
      where="in an i386 root ($why)"
    echo "demo: the 32-bit build, Velmora.dll as it ships, under 32-bit Wine $where"
  else
    tree=win64 toolchain=mingw-x86_64
    echo "demo: the x86-64 build of the same sources under 64-bit Wine: $why"
  fi
  cmake -S "$root" -B "$build/$tree" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build/$tree" --target sandbox -j "$(nproc 2>/dev/null || echo 2)"
fi
if [ -n "$how" ]; then
  rm -rf "$out"
  mkdir -p "$out"
  status=0
  "$root/scripts/root32" run sh "$root/scripts/demo.sh" --play || status=$?
  finish
fi
VELMORA_WINEARCH=$tree
. "$root/scripts/wine-env"

# A prefix of its own: it reports Windows 10, so that the open-file repairs move the button.
prefix="$build/$tree/demo-prefix"
"$root/scripts/wine-prefix" "$prefix"
WINEPREFIX="$prefix" WINEDEBUG=-all "$wine" reg add 'HKCU\Software\Wine\AppDefaults\sandbox.exe' \
  /v Version /d win10 /f >/dev/null 2>&1 || true
# Started without a display, that Wine session must not be the one the windows go to.
WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
export VELMORA_WINEPREFIX="$prefix"

sandbox="$build/$tree/bin/sandbox.exe"
if [ $headless = 0 ]; then
  exec "$root/scripts/wine-session" "$prefix" "$root/scripts/wine-run" "$sandbox" --samples "$(winpath "$root/samples")"
fi

[ "${1:-}" = "--play" ] || { rm -rf "$out"; mkdir -p "$out"; }
status=0
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
  "$root/scripts/wine-session" "$prefix" \
  "$root/scripts/wine-run" "$sandbox" --samples "$(winpath "$root/samples")" --script "$(winpath "$out")" || status=$?
[ "${1:-}" = "--play" ] && exit $status
finish
