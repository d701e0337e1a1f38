#!/usr/bin/env bash
# skinpack built for Windows, run on the Windows API, against the native
# build: the same skins must give the same installer bytes, a second run must
# replace them in place, and bad inputs and usage must get the same answers.
#   skinpack_windows.sh SKINPACK_EXE NATIVE_SKINPACK FIXTURES_DIR WORK_DIR
set -euo pipefail

exe=$1 native=$2 fixtures=$3 work=$4
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
windows_path() { winepath -w "$1" 2>/dev/null; }

rm -rf "$work"
mkdir -p "$work/skins" "$work/windows" "$work/linux" "$work/bad"
cp "$fixtures/Winter.ovs" "$fixtures/Big.ovs" "$work/skins/"
# An odd size over several of the pieces the skin is copied in, and a name
# with spaces.
python3 -c 'import sys; sys.stdout.buffer.write(bytes((i * 7 + 3) % 251 for i in range(900001)))' \
  >"$work/skins/Odd Size.ovs"
skins=("$work/skins/Winter.ovs" "$work/skins/Big.ovs" "$work/skins/Odd Size.ovs")
windows_skins=()
for skin in "${skins[@]}"; do
  windows_skins+=("$(windows_path "$skin")")
done

# Runs the Windows build; its status in $status, its stderr without the
# emulator's own messages in $err.
run_windows() {
  status=0
  wine "$exe" "$@" >"$work/stdout" 2>"$work/stderr" </dev/null || status=$?
  err=$(grep -v '^qemu: ' "$work/stderr" || true)
}

"$native" -o "$work/linux" "${skins[@]}"
for round in first second; do
  run_windows -o "$(windows_path "$work/windows")" "${windows_skins[@]}"
  [ "$status" -eq 0 ] || fail "$round run: exit status $status, expected 0; stderr: $err"
  [ -z "$err" ] || fail "$round run: stderr \"$err\", expected nothing"
  for skin in "${skins[@]}"; do
    name="setup [$(basename "$skin")].exe"
    if ! cmp -s "$work/windows/$name" "$work/linux/$name"; then
      fail "$round run: \"$name\" of the Windows build ($(stat -c %s "$work/windows/$name" 2>/dev/null || echo no) bytes)" \
        "differs from the Linux build's ($(stat -c %s "$work/linux/$name") bytes)"
    fi
  done
  entries=$(ls -A "$work/windows" | wc -l)
  [ "$entries" -eq ${#skins[@]} ] || fail "$round run: $entries entries in the output folder, expected ${#skins[@]}"
done

# Bad inputs: exit status 1, a line naming each, no output.
: >"$work/skins/Empty.ovs"
run_windows -o "$(windows_path "$work/bad")" "$(windows_path "$work/skins/Missing.ovs")" \
  "$(windows_path "$work/skins/Empty.ovs")" "$(windows_path "$work/skins")\\NUL.ovs"
[ "$status" -eq 1 ] || fail "bad inputs: exit status $status, expected 1"
for expected in "Missing.ovs: no such file" "Empty.ovs: the skin file is empty" "NUL.ovs: "; do
  grep -qF "$expected" <<<"$err" || fail "bad inputs: no line with \"$expected\" in \"$err\""
done
lines=$(grep -c '^skinpack: ' <<<"$err" || true)
[ "$lines" -eq 3 ] || fail "bad inputs: $lines lines on stderr, expected 3: \"$err\""
[ -z "$(ls -A "$work/bad")" ] || fail "bad inputs: the output folder holds $(ls -A "$work/bad")"

# Usage errors: exit status 2.
run_windows --no-such-option
[ "$status" -eq 2 ] || fail "unknown option: exit status $status, expected 2"
run_windows --version
[ "$status" -eq 0 ] && grep -q '^skinpack [0-9]' "$work/stdout" ||
  fail "--version: exit status $status, output \"$(cat "$work/stdout")\""

if [ "$failures" -ne 0 ]; then
  echo "Test failed: $failures problems"
  exit 1
fi
echo "the Windows build wrote the same bytes as the Linux build for ${#skins[@]} skins"
