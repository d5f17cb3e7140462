#!/usr/bin/env bash
# The package stage. In a clean clone of this repository (this tree's
# uncommitted changes, when there are any, committed in the clone only):
# - `dpkg-buildpackage -us -uc -b` builds the .deb and its -dbgsym package,
#   running the tests; lintian --pedantic finds nothing in the .changes
#   (overridden tags aside); the autopkgtest tests (debian/tests) pass
#   against the built package, unpacked into a temporary root;
# - scripts/package.sh makes the release files: SHA256SUMS matches them; its
#   .deb is the bytes dpkg-buildpackage made in the clone; built again from
#   the source archive in another folder (another umask and time zone), the
#   .deb and .zip are the same bytes again;
# - the .deb's control fields and files, the banner's version, the manual
#   page (mandoc's lint, found by man, renders without warnings, shows every
#   message), the changelog and the copyright file;
# - the Windows zip's contents when the Windows build is in the tree (the
#   manual as text, kestrane.exe's DLLs, version information and manifest).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/need-packages.sh cmake g++ make git dpkg-dev debhelper file groff-base man-db mandoc python3 \
  lintian googletest libgtest-dev pkg-config libtag1-dev mingw-w64 g++-mingw-w64-x86-64
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
arch=$(dpkg --print-architecture)

# --- a clean clone ----------------------------------------------------------
clone=$scratch/kestrane
echo "== a clean clone in $clone"
git clone --quiet "$PWD" "$clone"
if [ -n "$(git status --porcelain)" ]; then
  echo "== note: this tree's uncommitted changes are tested too (committed in the clone only)"
  git ls-files -z --cached --others --exclude-standard |
    tar --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -xf - -C "$clone"
  git ls-files -z --deleted | (cd "$clone" && xargs -0r rm -f --)
  git -C "$clone" add --all
  git -C "$clone" -c user.name=test-package -c user.email=test-package@localhost commit --quiet -m "uncommitted changes"
fi

# --- the distribution's build -----------------------------------------------
log=$scratch/dpkg-buildpackage.log
echo "== dpkg-buildpackage -us -uc -b in the clone"
if ! (cd "$clone" && dpkg-buildpackage -us -uc -b) >"$log" 2>&1; then
  grep -A 4 '^CMake Error' "$log" || true  # dh_auto_configure's dump of the cache would hide it
  tail -n 20 "$log"
  echo "FAIL: dpkg-buildpackage failed in a clean clone"
  exit 1
fi
changes=$(the_one .changes "$scratch"/kestrane_*_"$arch".changes)
deb=$(the_one .deb "$scratch"/kestrane_*_"$arch".deb)
the_one "-dbgsym .deb" "$scratch"/kestrane-dbgsym_*_"$arch".deb >/dev/null
tests_run=$(sed -n 's/^100% tests passed, 0 tests failed out of \([0-9]*\)$/\1/p' "$log")
[ -n "$tests_run" ] || fail "dh_auto_test ran no tests"
echo "== dh_auto_test ran ${tests_run:-no} tests, those labelled sandbox"

echo "== lintian --pedantic --display-info $(basename "$changes")"
lintian --pedantic --display-info --fail-on error,warning,info,pedantic "$changes" ||
  fail "lintian reports tags (above) that no override in debian/ explains"

root=$scratch/root
dpkg -x "$deb" "$root"
tool=$root/usr/bin/kestrane
[ -x "$tool" ] || fail "no executable usr/bin/kestrane"
# autopkgtest would install the package into this system; the tests are run
# as it runs them instead: from the source tree, the package's tool on PATH.
for test in $(sed -n 's/^Tests: *//p' "$clone/debian/tests/control"); do
  echo "== autopkgtest $test, against the package unpacked in $root"
  mkdir "$scratch/autopkgtest-$test"
  (cd "$clone" && PATH=$root/usr/bin:$PATH AUTOPKGTEST_TMP=$scratch/autopkgtest-$test "debian/tests/$test") ||
    fail "autopkgtest $test fails"
done

# --- the release files ------------------------------------------------------
echo "== scripts/package.sh in the clone"
(cd "$clone" && bash scripts/package.sh) || { echo "FAIL: scripts/package.sh failed"; exit 1; }
packages=$clone/build/packages
(cd "$packages" && sha256sum --check --strict SHA256SUMS) || fail "SHA256SUMS does not match the files"
expect "files in SHA256SUMS" "$(awk '{ print $2 }' "$packages/SHA256SUMS" | sort | tr '\n' ' ')" \
  "$(cd "$packages" && ls | grep -vx SHA256SUMS | sort | tr '\n' ' ')"
cmp "$deb" "$packages/$(basename "$deb")" ||
  fail "package.sh's .deb differs from the one dpkg-buildpackage made in the clone"
source_archive=$(the_one .tar.gz "$packages"/kestrane-*.tar.gz)

# Built again from the source archive, in another folder, with another umask
# and time zone, the packages must be the same bytes.
echo "== building again from $(basename "$source_archive") to compare"
mkdir "$scratch/again"
tar -xzf "$source_archive" -C "$scratch/again"
again=$(the_one "unpacked source" "$scratch"/again/kestrane-*/)
(cd "$again" && umask 0002 && TZ=UTC-14 bash scripts/package.sh >"$scratch/again.log" 2>&1) ||
  { cat "$scratch/again.log"; fail "the build from $(basename "$source_archive") failed"; }
for made in "$packages"/*.deb "$packages"/*.zip; do
  cmp "$made" "$again/build/packages/$(basename "$made")" ||
    fail "$(basename "$made") differs between two builds of one commit"
done

# --- the Debian package -----------------------------------------------------
echo "== checking $(basename "$deb")"
field() { dpkg-deb -f "$deb" "$1"; }
expect Package "$(field Package)" kestrane
expect Section "$(field Section)" sound
expect Architecture "$(field Architecture)" "$arch"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
for library in libc6 libstdc++6; do
  [[ ", $(field Depends)" == *", $library "* ]] || fail "Depends lacks $library: $(field Depends)"
done
expect "files in the package" "$(dpkg-deb -c "$deb" | awk '$1 ~ /^-/ { print $6 }' | sort | tr '\n' ' ')" \
  "./usr/bin/kestrane ./usr/share/doc/kestrane/README.md.gz ./usr/share/doc/kestrane/changelog.gz \
./usr/share/doc/kestrane/copyright ./usr/share/lintian/overrides/kestrane ./usr/share/man/man1/kestrane.1.gz "

# The banner shows the version the package carries.
banner_version=$("$tool" --help </dev/null | sed -n 's/.*  Version \([^ ]*\)  .*/\1/p')
expect "banner version vs package version" "$banner_version" "$(field Version)"

# The manual page: mandoc's lint finds nothing to warn about, man finds it
# where the package puts it, and it renders cleanly and shows every message.
expect "man -w kestrane" "$(MANPATH=$root/usr/share/man man -w kestrane 2>&1)" "$root/usr/share/man/man1/kestrane.1.gz"
page=$scratch/kestrane.1
zcat "$root/usr/share/man/man1/kestrane.1.gz" >"$page"
lint=$(mandoc -T lint -W warning "$page" 2>&1) || true
[ -z "$lint" ] || fail "mandoc -T lint -W warning:"$'\n'"$lint"
bash tests/docs/check_man_renders.sh "$page" || fail "the installed manual page does not render cleanly"
python3 tests/docs/check_man_messages.py "$clone/src" "$page" || fail "the installed manual page misses messages"

# The changelog is debian/changelog; the copyright file is debian/copyright,
# which holds LICENSE's notice and text.
doc=$root/usr/share/doc/kestrane
zcat "$doc/changelog.gz" | cmp -s - "$clone/debian/changelog" || fail "changelog.gz is not debian/changelog"
cmp -s "$doc/copyright" "$clone/debian/copyright" || fail "the package's copyright file is not debian/copyright"
grep -qx "Copyright: $(sed -n 's/^Copyright (c) //p' "$clone/LICENSE")" "$doc/copyright" ||
  fail "debian/copyright does not name LICENSE's copyright holder"
sed -n '/^ Permission/,$ { s/^ //; s/^\.$//; p }' "$doc/copyright" | cmp -s - <(sed -n '/^Permission/,$p' "$clone/LICENSE") ||
  fail "debian/copyright's license text is not LICENSE's"

# --- the Windows zip --------------------------------------------------------
if [ -f cmake/toolchain-mingw64.cmake ]; then
  zip=$(the_one .zip "$packages"/kestrane-*.zip)
  echo "== checking $(basename "$zip")"
  version=$(field Version)
  [[ $zip == *-$version-* ]] || fail "$zip does not carry version $version"
  unzipped=$scratch/zip
  python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$unzipped"
  expect "files in the zip" "$(cd "$unzipped" && find . -mindepth 1 | sort | tr '\n' ' ')" \
    "./LICENSE ./README.md ./kestrane-manual.txt ./kestrane.exe "
  cmp -s "$clone/README.md" "$unzipped/README.md" || fail "the zip's README.md differs from the tree's"
  cmp -s "$clone/LICENSE" "$unzipped/LICENSE" || fail "the zip's LICENSE differs from the tree's"
  # The manual as text (CR LF line ends) is the .deb's manual page, rendered.
  groff -man -Tascii -P-cbou "$page" | sed 's/$/\r/' | cmp -s - "$unzipped/kestrane-manual.txt" ||
    fail "kestrane-manual.txt is not the manual page rendered"
  # kestrane.exe travels alone, so it may import only DLLs that come with Windows.
  bash scripts/check-windows-imports.sh "$unzipped/kestrane.exe" || fail "kestrane.exe needs DLLs Windows lacks"
  # Its version information (Explorer: Properties > Details), in numbers and
  # words, and its application manifest (resource type 24).
  resource=$(x86_64-w64-mingw32-windres -i "$unzipped/kestrane.exe" -O rc 2>&1) || true
  numbers=$(echo "$version.0.0.0" | cut -d . -f 1-4 | sed 's/\./, /g')
  for line in "FILEVERSION $numbers" "PRODUCTVERSION $numbers" "VALUE \"ProductName\", \"Kestrane\"" \
      "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductVersion\", \"$version\""; do
    [[ $resource == *"$line"* ]] || fail "kestrane.exe's version information lacks '$line'"
  done
  manifest=$(echo "$resource" | sed -n '/^1 24 /,/^END/ { s/""/"/g; p }')
  for part in 'level="asInvoker"' '>true</longPathAware>' \
      'Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"'; do
    [[ $manifest == *"$part"* ]] || fail "kestrane.exe's manifest lacks '$part'"
  done
else
  echo "== Windows zip check SKIPPED: cmake/toolchain-mingw64.cmake is not in this tree"
fi

if [ $failures -ne 0 ]; then
  echo "package checks: $failures failed"
  exit 1
fi
echo "package checks passed"
