#!/bin/sh
# check-dll.sh <objdump> <Velmora.dll> <PE32|PE32+>: what the DLL is as a file, read
# without running it, so that it holds on machines that can't run the build: its format,
# exactly the ten entry points under their plain names, system DLLs only among its
# imports, and no symbols or debugging sections left in it.
set -e
objdump=$1
dll=$2
format=$3
headers=$(mktemp)
trap 'rm -f "$headers"' EXIT
"$objdump" -p "$dll" >"$headers"
status=0
fail() { echo "check-dll: $*" >&2; status=1; }

grep -q "^Magic[[:space:]].*($format)\$" "$headers" || fail "not a $format file: $(grep '^Magic' "$headers")"

# The name table's lines hold one name each; the address table's hold more than one word.
exports=$(sed -n 's/^[[:space:]]*\[ *[0-9]*\] \([^ +][^ ]*\)$/\1/p' "$headers" | sort | tr '\n' ' ')
expected="QPCCleanUp QPCFolderClose QPCFolderCreate QPCGetPlugName QPCStartUp QPCVersionInfo QPCViewClose QPCViewCreate QPCViewInitMenu QPCViewLoadMail "
[ "$exports" = "$expected" ] || fail "exports are '$exports', expected '$expected'"

system=" kernel32.dll user32.dll gdi32.dll comctl32.dll crypt32.dll wsock32.dll msvcrt.dll advapi32.dll shell32.dll "
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' "$headers" | tr 'A-Z' 'a-z')
[ -n "$imports" ] || fail "no imports found"
for name in $imports; do
  case "$system" in *" $name "*) ;; *) fail "imports $name, which is not a system DLL" ;; esac
done

"$objdump" -h "$dll" | grep -q '\.debug_' && fail "debugging sections left in"
[ "$("$objdump" -t "$dll" | grep -c '^\[')" -eq 0 ] || fail "symbol table left in"

[ $status -eq 0 ] && echo "$dll: $format, the ten entry points, imports:" $imports
exit $status
