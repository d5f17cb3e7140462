#!/usr/bin/env bash
# Builds the release files with scripts/package.sh, then checks them:
# SHA256SUMS; a second build, from the source archive in another folder,
# gives the same .deb and .zip; lintian finds no error or warning in the
# .deb; its control fields and files; its executable, unpacked into a
# temporary root, run on a sample folder (report and file bytes); its manual
# page (found by man, renders without warnings, shows every message) and
# changelog; and the Windows zip's contents when the Windows build is in the
# tree (the manual as text, kestrane.exe's DLLs and version information).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/need-packages.sh cmake g++ make dpkg-dev file groff-base man-db python3 lintian
bash scripts/package.sh
shopt -s nullglob  # a pattern that matches nothing gives no file, not itself

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# expect NAME ACTUAL EXPECTED
expect() { [ "$2" == "$3" ] || fail "$1: got '$2', expected '$3'"; }

# the_one WHAT FILE...: prints the only FILE; stops the checks unless there is exactly one.
the_one() {
  local what=$1
  shift
  if [ $# -ne 1 ]; then
    echo "FAIL: $# $what files (expected 1): $*" >&2
    exit 1
  fi
  echo "$1"
}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestrane-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
packages=build/packages

# --- the release files ----------------------------------------------------
echo "== checking $packages/SHA256SUMS"
(cd "$packages" && sha256sum --check --strict SHA256SUMS) || fail "SHA256SUMS does not match the files"
expect "files in SHA256SUMS" "$(awk '{ print $2 }' "$packages/SHA256SUMS" | sort | tr '\n' ' ')" \
  "$(cd "$packages" && ls | grep -vx SHA256SUMS | sort | tr '\n' ' ')"
source_archive=$(the_one .tar.gz "$packages"/kestrane-*.tar.gz)

# Built again from the source archive, in another folder, with another umask
# and time zone, the packages must be the same bytes.
echo "== building again from $source_archive to compare"
tar -xzf "$source_archive" -C "$scratch"
again=$(the_one "unpacked source" "$scratch"/kestrane-*/)
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
(cd "$again" && umask 0002 && SOURCE_DATE_EPOCH=$epoch TZ=UTC-14 bash scripts/package.sh >"$scratch/again.log" 2>&1) ||
  { cat "$scratch/again.log"; fail "the build from $source_archive failed"; }
for made in "$packages"/*.deb "$packages"/*.zip; do
  cmp "$made" "$again/$made" || fail "$(basename "$made") differs between two builds of one commit"
done

# --- the Debian package ---------------------------------------------------
deb=$(the_one .deb "$packages"/kestrane_*.deb)
echo "== checking $deb"
lintian --fail-on error,warning "$deb" || fail "lintian finds errors or warnings in $deb"
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
  "./usr/bin/kestrane ./usr/share/doc/kestrane/README.md ./usr/share/doc/kestrane/changelog.gz \
./usr/share/doc/kestrane/copyright ./usr/share/man/man1/kestrane.1.gz "

root=$scratch/root
dpkg -x "$deb" "$root"
tool=$root/usr/bin/kestrane
[ -x "$tool" ] || fail "no executable usr/bin/kestrane"

# The banner shows the version the package carries.
banner_version=$("$tool" </dev/null | sed -n 's/.*  Version \([^ ]*\)  .*/\1/p')
expect "banner version vs package version" "$banner_version" "$(field Version)"

# A sample folder: two inputs, an output to append to, one to update (its
# ID3v1 tag replaced by an APEv2 tag), one without an input, a hidden one.
pieces=$scratch/pieces sample=$scratch/sample
mkdir -p "$pieces" "$sample"
tag() { python3 scripts/sample_tags.py "$@"; }
tag id3v1 title=One artist="Sample Artist" album="Sample Album" year=2026 genre=12 >"$pieces/one.tag"
tag ape Title=Two >"$pieces/two.tag"
tag id3v1 title=Old artist="Sample Artist" album="Sample Album" year=2026 genre=12 >"$pieces/old.tag"
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
# cleanly and shows every message. The changelog is the repository's, the
# copyright file in Debian's machine-readable format.
expect "man -w kestrane" "$(MANPATH=$root/usr/share/man man -w kestrane 2>&1)" "$root/usr/share/man/man1/kestrane.1.gz"
page=$scratch/kestrane.1
zcat "$root/usr/share/man/man1/kestrane.1.gz" >"$page"
bash tests/docs/check_man_renders.sh "$page" || fail "the installed manual page does not render cleanly"
python3 tests/docs/check_man_messages.py src "$page" || fail "the installed manual page misses messages"
zcat "$root/usr/share/doc/kestrane/changelog.gz" | cmp -s - debian/changelog ||
  fail "changelog.gz is not debian/changelog"
expect "copyright format" "$(head -n 1 "$root/usr/share/doc/kestrane/copyright")" \
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"

# --- the Windows zip ------------------------------------------------------
if [ -f cmake/toolchain-mingw64.cmake ]; then
  zip=$(the_one .zip "$packages"/kestrane-*.zip)
  echo "== checking $zip"
  version=$(field Version)
  [[ $zip == *-$version-* ]] || fail "$zip does not carry version $version"
  unzipped=$scratch/zip
  python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$unzipped"
  expect "files in the zip" "$(cd "$unzipped" && find . -mindepth 1 | sort | tr '\n' ' ')" \
    "./LICENSE ./README.md ./kestrane-manual.txt ./kestrane.exe "
  cmp -s README.md "$unzipped/README.md" || fail "the zip's README.md differs from the tree's"
  cmp -s LICENSE "$unzipped/LICENSE" || fail "the zip's LICENSE differs from the tree's"
  # The manual as text (CR LF line ends) is the .deb's manual page, rendered.
  groff -man -Tascii -P-cbou "$page" | sed 's/$/\r/' | cmp -s - "$unzipped/kestrane-manual.txt" ||
    fail "kestrane-manual.txt is not the manual page rendered"
  # kestrane.exe travels alone, so it may import only DLLs that come with Windows.
  bash scripts/check-windows-imports.sh "$unzipped/kestrane.exe" || fail "kestrane.exe needs DLLs Windows lacks"
  # Its version information (Explorer: Properties > Details), in numbers and words.
  resource=$(x86_64-w64-mingw32-windres -i "$unzipped/kestrane.exe" -O rc 2>&1) || true
  numbers=$(echo "$version.0.0.0" | cut -d . -f 1-4 | sed 's/\./, /g')
  for line in "FILEVERSION $numbers" "PRODUCTVERSION $numbers" "VALUE \"ProductName\", \"Kestrane\"" \
      "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductVersion\", \"$version\""; do
    [[ $resource == *"$line"* ]] || fail "kestrane.exe's version information lacks '$line'"
  done
else
  echo "== Windows zip check SKIPPED: cmake/toolchain-mingw64.cmake is not in this tree"
fi

if [ $failures -ne 0 ]; then
  echo "package checks: $failures failed"
  exit 1
fi
echo "package checks passed"
