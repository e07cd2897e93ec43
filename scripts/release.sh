#!/bin/sh
# Builds Velmora.dll and packs it, with the install note and the licence, into
# out/Velmora-0.10-win32.zip. Fixed time stamps and order: the same commit gives the same zip.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORA_BUILD:-$root/build}
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build/win32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/win32" --target Velmora -j "$(nproc 2>/dev/null || echo 2)" >/dev/null

stage="$build/release/Velmora-0.10-win32"
rm -rf "$build/release"
mkdir -p "$stage"
cp "$build/win32/bin/Velmora.dll" "$stage/Velmora.dll"
# Notepad on older Windows wants CR LF line ends and a byte order mark to read UTF-8.
printf '\357\273\277' > "$stage/INSTALL.txt"
sed 's/$/\r/' "$root/release/INSTALL.txt" >> "$stage/INSTALL.txt"
sed 's/$/\r/' "$root/LICENSE" > "$stage/LICENSE.txt"
# No byte order mark here: the profile functions would take it for part of the first line.
sed 's/$/\r/' "$root/release/Velmora.ini.example" > "$stage/Velmora.ini.example"
find "$build/release" -exec touch -h -d '2026-01-01 00:00:00 UTC' {} +

mkdir -p "$root/out"
zipfile="$root/out/Velmora-0.10-win32.zip"
rm -f "$zipfile"
(cd "$build/release" && TZ=UTC zip -q -X -D "$zipfile" \
  Velmora-0.10-win32/Velmora.dll Velmora-0.10-win32/INSTALL.txt Velmora-0.10-win32/LICENSE.txt \
  Velmora-0.10-win32/Velmora.ini.example)
echo "$zipfile"
unzip -l "$zipfile"
sha256sum "$zipfile" "$stage/Velmora.dll"
