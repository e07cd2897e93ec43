#!/bin/sh
# check-reproducible.sh <Velmora.dll> <scratch folder>: builds the DLL once more, from the
# same sources in another folder, and compares the two files byte for byte.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
reference=$1
scratch=$2
rm -rf "$scratch"
cmake -S "$root" -B "$scratch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$scratch" --target Velmora -j 1 >/dev/null
if cmp "$reference" "$scratch/bin/Velmora.dll"; then
  echo "reproducible: $(wc -c < "$reference") bytes, identical from two build folders"
  rm -rf "$scratch"
else
  echo "not reproducible: $reference and $scratch/bin/Velmora.dll differ" >&2
  exit 1
fi
