#!/usr/bin/env bash
# Builds the packages with scripts/package.sh, then checks what they hold:
# the .deb's control fields and files; its executable, unpacked into a
# temporary root, run on a sample folder (report and file bytes); its manual
# page (found by man, renders without warnings, shows every message); and the
# Windows zip's contents when the Windows build is in the tree.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/need-packages.sh cmake g++ make dpkg-dev file groff-base man-db python3
bash scripts/package.sh

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# expect NAME ACTUAL EXPECTED
expect() { [ "$2" == "$3" ] || fail "$1: got '$2', expected '$3'"; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestrane-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# --- the Debian package ---------------------------------------------------
debs=(build/packages/kestrane_*.deb)
expect "number of .deb files" "${#debs[@]}" 1
deb=${debs[0]}
echo "== checking $deb"
field() { dpkg-deb -f "$deb" "$1"; }
expect Package "$(field Package)" kestrane
expect Section "$(field Section)" utils
expect Architecture "$(field Architecture)" "$(dpkg --print-architecture)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
for library in libc6 libstdc++6; do
  [[ ", $(field Depends)" == *", $library "* ]] || fail "Depends lacks $library: $(field Depends)"
done
expect "files in the package" "$(dpkg-deb -c "$deb" | awk '$1 ~ /^-/ { print $6 }' | sort | tr '\n' ' ')" \
  "./usr/bin/kestrane ./usr/share/doc/kestrane/README.md ./usr/share/doc/kestrane/copyright ./usr/share/man/man1/kestrane.1 "

root=$scratch/root
dpkg -x "$deb" "$root"
tool=$root/usr/bin/kestrane
[ -x "$tool" ] || fail "no executable usr/bin/kestrane"

# The banner shows the version the package carries.
banner_version=$("$tool" </dev/null | sed -n 's/.*  Version \([^ ]*\)  .*/\1/p')
expect "banner version vs package version" "$banner_version" "$(field Version)"

# A sample folder: two inputs, an output to append to, one to update (its
# ID3v1 tag replaced by an APEv2 tag), one without an input, a hidden one.
le32() { printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"; }
id3v1_tag() { printf 'TAG%-30s%-30s%-30s2026%-30s\x0c' "$1" "Sample Artist" "Sample Album" ""; }
ape_tag() {  # one Title item; header, item, footer
  local size=$((8 + 6 + ${#1} + 32))
  printf 'APETAGEX'; le32 2000; le32 $size; le32 1; le32 0xA0000000; printf '\0\0\0\0\0\0\0\0'
  le32 ${#1}; le32 0; printf 'Title\0%s' "$1"
  printf 'APETAGEX'; le32 2000; le32 $size; le32 1; le32 0x80000000; printf '\0\0\0\0\0\0\0\0'
}
pieces=$scratch/pieces sample=$scratch/sample
mkdir -p "$pieces" "$sample"
id3v1_tag "One" >"$pieces/one.tag"
ape_tag "Two" >"$pieces/two.tag"
id3v1_tag "Old" >"$pieces/old.tag"
expect "ID3v1 tag length" "$(wc -c <"$pieces/one.tag")" 128
expect "APEv2 tag length" "$(wc -c <"$pieces/two.tag")" 81
{ printf 'input audio one'; cat "$pieces/one.tag"; } >"$sample/one.ape"
{ printf 'input audio two'; cat "$pieces/two.tag"; } >"$sample/two.ape"
printf 'output audio one' >"$sample/one.mp3"
{ printf 'output audio two'; cat "$pieces/old.tag"; } >"$sample/two.mp3"
printf 'output audio three' >"$sample/three.mp3"
printf 'hidden audio' >"$sample/.one.mp3"
cp -a "$sample" "$scratch/before"

(cd "$sample" && "$tool" '*.ape' '*.mp3' >"$scratch/report" 2>"$scratch/errors" </dev/null) ||
  fail "exit status $? (expected 0)"
[ -s "$scratch/errors" ] && fail "standard error: $(cat "$scratch/errors")"
expect "report after the banner" "$(tail -n +5 "$scratch/report")" "
one.mp3:
appended tag from one.ape

three.mp3:
no matching input file!

two.mp3:
updated tag from two.ape"
expected_file() {  # name, then the pieces it should consist of
  local name=$1
  shift
  cat "$@" | cmp -s - "$sample/$name" || fail "$name does not hold the expected bytes"
}
expected_file one.mp3 <(printf 'output audio one') "$pieces/one.tag"
expected_file two.mp3 <(printf 'output audio two') "$pieces/two.tag"
for unchanged in one.ape two.ape three.mp3 .one.mp3; do
  expected_file "$unchanged" "$scratch/before/$unchanged"
done

# The manual page: man finds it where the package puts it, and it renders
# cleanly and shows every message.
page=$root/usr/share/man/man1/kestrane.1
expect "man -w kestrane" "$(MANPATH=$root/usr/share/man man -w kestrane 2>&1)" "$page"
bash tests/docs/check_man_renders.sh "$page" || fail "the installed manual page does not render cleanly"
python3 tests/docs/check_man_messages.py src "$page" || fail "the installed manual page misses messages"

# --- the Windows zip ------------------------------------------------------
if [ -f cmake/toolchain-mingw64.cmake ]; then
  zips=(build/packages/kestrane-*.zip)
  expect "number of .zip files" "${#zips[@]}" 1
  zip=${zips[0]}
  echo "== checking $zip"
  [[ $zip == *-$(field Version)-* ]] || fail "$zip does not carry version $(field Version)"
  unzipped=$scratch/zip
  python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$unzipped"
  expect "files in the zip" "$(cd "$unzipped" && find . -mindepth 1 | sort | tr '\n' ' ')" \
    "./LICENSE ./README.md ./kestrane.exe "
  cmp -s README.md "$unzipped/README.md" || fail "the zip's README.md differs from the tree's"
  cmp -s LICENSE "$unzipped/LICENSE" || fail "the zip's LICENSE differs from the tree's"
  # kestrane.exe travels alone, so it may import only DLLs that come with Windows.
  imports=$(x86_64-w64-mingw32-objdump -p "$unzipped/kestrane.exe" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z')
  [ -n "$imports" ] || fail "kestrane.exe: no DLL imports found (not a Windows executable?)"
  for dll in $imports; do
    [[ $dll =~ ^(kernel32|msvcrt|ucrtbase|advapi32|user32|shell32|api-ms-win-.*)\.dll$ ]] ||
      fail "kestrane.exe needs $dll, which is not in the zip"
  done
else
  echo "== Windows zip check SKIPPED: cmake/toolchain-mingw64.cmake is not in this tree"
fi

if [ $failures -ne 0 ]; then
  echo "package checks: $failures failed"
  exit 1
fi
echo "package checks passed"
