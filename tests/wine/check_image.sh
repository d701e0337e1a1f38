#!/usr/bin/env bash
# Reads an installer image with tools independent of the build (objdump,
# wrestool, windres as a reader) and checks: PE32, i386, Windows GUI; imports
# from the allowed DLLs only; the icon group, the icon and, when SKIN_FILE is
# given, the payload, all in language 1033 and code page 0, and nothing else.
#   check_image.sh INSTALLER.exe [SKIN_FILE]
set -uo pipefail

exe=$1 skin=${2:-}
failures=0
fail() { echo "check_image: $exe: $*"; failures=$((failures + 1)); }

headers=$(i686-w64-mingw32-objdump -p "$exe") || { fail "objdump cannot read it"; exit 1; }
grep -q 'file format pei-i386' <<<"$headers" || fail "not a pei-i386 image"
grep -Eq '^Magic[[:space:]]+010b' <<<"$headers" || fail "optional header magic is not 010b (PE32)"
grep -Eq '^Subsystem[[:space:]]+00000002' <<<"$headers" || fail "subsystem is not 2 (Windows GUI)"
i686-w64-mingw32-objdump -f "$exe" | grep -q 'architecture: i386' || fail "machine is not i386"

allowed=' advapi32.dll kernel32.dll msvcrt.dll shell32.dll user32.dll '
while read -r dll; do
  [[ $allowed == *" ${dll,,} "* ]] || fail "imports from $dll, expected only:$allowed"
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")

# Every resource's data entry has code page 0.
leaves=$(grep -c 'Leaf: Addr:' <<<"$headers")
zero=$(grep -c 'Leaf: Addr: .*Codepage: 0$' <<<"$headers")
expected_leaves=2
[ -n "$skin" ] && expected_leaves=3
[ "$leaves" -eq "$expected_leaves" ] || fail "$leaves resource data entries, expected $expected_leaves"
[ "$zero" -eq "$leaves" ] || fail "$((leaves - zero)) resource data entries with a code page other than 0"

# Resources: wrestool prints one line each; a string-named resource of a
# string type is shown with the type's name as its name.
listing=$(wrestool -l "$exe")
expected="--type=3 --name=1 --language=1033 [type=icon offset=X size=1384]
--type=14 --name=102 --language=1033 [type=group_icon offset=X size=20]"
if [ -n "$skin" ]; then
  size=$(stat -c %s "$skin")
  expected="--type='SKIN' --name='SKIN' --language=1033 [offset=X size=$size]
$expected"
fi
got=$(sed -E 's/offset=0x[0-9a-f]+/offset=X/' <<<"$listing")
[ "$got" = "$expected" ] || fail "resources:
$got
expected:
$expected"

if [ -n "$skin" ]; then
  name=$(basename "$skin")
  name=${name^^}
  tmp=$(mktemp)
  wrestool -x --raw -t +SKIN -n "+$name" "$exe" >"$tmp"
  cmp -s "$tmp" "$skin" || fail "payload $name differs from $skin"
  rm -f "$tmp"
  rc=$(i686-w64-mingw32-windres -i "$exe" -O rc)
  grep -q "^\"$name\" \"SKIN\"" <<<"$rc" || fail "windres finds no payload named \"$name\" of type \"SKIN\""
  [ "$(grep -c '^LANGUAGE 9, 1$' <<<"$rc")" -ge 1 ] || fail "windres finds no resource in language 9, 1"
  grep -q '^LANGUAGE' <<<"$(grep -v '^LANGUAGE 9, 1$' <<<"$rc")" && fail "a resource in another language"
fi

echo "$exe: $failures problems"
[ "$failures" -eq 0 ]
