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
#   .deb, the .zip and the static Linux archive are the same bytes again;
# - the .deb's control fields and files, the banner's version, the manual
#   page (mandoc's lint, found by man, renders without warnings, shows every
#   message), the changelog and the copyright file;
# - the shell completions the .deb installs: each in a folder its shell
#   searches, and bash, zsh and fish, finding them there, offer the options
#   and file names;
# - the Windows zip's contents when the Windows build is in the tree (the
#   manual as text, the PowerShell completer, kestrane.exe's DLLs, version
#   information and manifest);
# - the static Linux archive: its files, an executable without a program
#   interpreter or shared library that passes the end-to-end tests (as
#   KESTRANE_EXE) and runs in an empty root holding nothing else.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/need-packages.sh cmake g++ make git dpkg-dev debhelper file groff-base man-db mandoc python3 \
  lintian googletest libgtest-dev pkg-config libtag1-dev mingw-w64 g++-mingw-w64-x86-64 bash-completion zsh fish
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
  grep -B 3 -A 12 -E '^[^ ]*:[0-9]+: Failure' "$log" || true  # what a failing test said
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
source_archive=$(the_one "source archive" "$packages"/kestrane-*[0-9].tar.gz)

# Built again from the source archive, in another folder, with another umask
# and time zone, the packages must be the same bytes.
echo "== building again from $(basename "$source_archive") to compare"
mkdir "$scratch/again"
tar -xzf "$source_archive" -C "$scratch/again"
again=$(the_one "unpacked source" "$scratch"/again/kestrane-*/)
(cd "$again" && umask 0002 && TZ=UTC-14 bash scripts/package.sh >"$scratch/again.log" 2>&1) ||
  { cat "$scratch/again.log"; fail "the build from $(basename "$source_archive") failed"; }
for made in "$packages"/*.deb "$packages"/*.zip "$packages"/*-linux.tar.gz; do
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
  "./usr/bin/kestrane ./usr/share/bash-completion/completions/kestrane ./usr/share/doc/kestrane/README.md.gz \
./usr/share/doc/kestrane/changelog.gz ./usr/share/doc/kestrane/copyright \
./usr/share/fish/vendor_completions.d/kestrane.fish \
./usr/share/man/man1/kestrane.1.gz ./usr/share/zsh/vendor-completions/_kestrane "

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

# The completions: each in a folder its shell searches on this system, and
# each shell, finding it under the unpacked package's usr/share, offers
# the options after `kestrane -` and file names for the specifications.
for searched in "bash-completion $(pkg-config --variable=completionsdir bash-completion)/kestrane" \
    "fish $(pkg-config --variable=completionsdir fish)/kestrane.fish" \
    "zsh $(zsh -fc 'print -l $fpath' | grep -x /usr/share/zsh/vendor-completions)/_kestrane"; do
  read -r shell path <<<"$searched"
  [ -f "$root$path" ] || fail "no $shell completion in $path, where $shell looks"
done
for shell in bash zsh fish; do
  for what in options files; do
    python3 tests/completions/check_completion.py "$shell" "$what" --installed "$root/usr/share" ||
      fail "$shell does not offer the $what from the package's completion"
  done
done

# --- the Windows zip --------------------------------------------------------
if [ -f cmake/toolchain-mingw64.cmake ]; then
  zip=$(the_one .zip "$packages"/kestrane-*.zip)
  echo "== checking $(basename "$zip")"
  version=$(field Version)
  [[ $zip == *-$version-* ]] || fail "$zip does not carry version $version"
  unzipped=$scratch/zip
  python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$unzipped"
  expect "files in the zip" "$(cd "$unzipped" && find . -mindepth 1 | sort | tr '\n' ' ')" \
    "./LICENSE ./README.md ./kestrane-completion.ps1 ./kestrane-manual.txt ./kestrane.exe "
  cmp -s "$clone/README.md" "$unzipped/README.md" || fail "the zip's README.md differs from the tree's"
  cmp -s "$clone/LICENSE" "$unzipped/LICENSE" || fail "the zip's LICENSE differs from the tree's"
  cmp -s "$clone/completions/kestrane-completion.ps1" "$unzipped/kestrane-completion.ps1" ||
    fail "the zip's PowerShell completer differs from the tree's"
  python3 tests/completions/check_completion.py powershell options --file "$unzipped/kestrane-completion.ps1" ||
    fail "the zip's PowerShell completer does not list the options"
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

# --- the static Linux executable ----------------------------------------------
linux_archive=$(the_one "static Linux archive" "$packages"/kestrane-*-linux.tar.gz)
linux=$(basename "$linux_archive" .tar.gz)
echo "== checking $linux.tar.gz"
expect "static Linux archive's name" "$linux" "kestrane-$(field Version)-$(uname -m)-linux"
mkdir "$scratch/linux"
tar -xzf "$linux_archive" -C "$scratch/linux"
unpacked=$scratch/linux/$linux
expect "files in the static Linux archive" "$(tar -tzf "$linux_archive" | sort | tr '\n' ' ')" \
  "$linux/ $linux/LICENSE $linux/README.md $linux/completions/ $linux/completions/_kestrane \
$linux/completions/kestrane.bash $linux/completions/kestrane.fish $linux/kestrane $linux/kestrane.1 "
for same in "README.md $clone/README.md" "LICENSE $clone/LICENSE" "kestrane.1 $page" \
    "completions/kestrane.bash $root/usr/share/bash-completion/completions/kestrane" \
    "completions/_kestrane $root/usr/share/zsh/vendor-completions/_kestrane" \
    "completions/kestrane.fish $root/usr/share/fish/vendor_completions.d/kestrane.fish"; do
  read -r name original <<<"$same"
  cmp -s "$unpacked/$name" "$original" || fail "the static Linux archive's $name is not $original"
done

# Fully static: no program interpreter (dynamic loader), no shared library.
static_tool=$unpacked/kestrane
echo "== $(file -b "$static_tool")"
readelf -lW "$static_tool" | grep -q INTERP && fail "$linux/kestrane names a program interpreter"
readelf -dW "$static_tool" | grep -q NEEDED && fail "$linux/kestrane needs shared libraries"
expect "static executable's --help" "$("$static_tool" --help </dev/null)" "$("$tool" --help </dev/null)"

# The end-to-end tests, and the safety tests a package build runs, built
# by dpkg-buildpackage in the clone, with the static executable as the
# tool under test; left out are the few that test the platform layer in
# their own process (Interrupt.*) or need root to run the tool as another
# user, mount a file system or watch opens (labelled "root").
build_folder=$(the_one "dpkg-buildpackage build folder" "$clone"/obj-*/)
for tests in "kestrane_end_to_end_tests -Interrupt.*:FolderTrees.LinksToFoldersAreSkippedAndUnreadableFoldersReported" \
    "safety/kestrane_safety_tests -DiskFull.*:Concurrency.PairsAreInFlightAtOnce"; do
  read -r program filter <<<"$tests"
  echo "== $program against $linux/kestrane"
  KESTRANE_EXE=$static_tool "$build_folder/tests/$program" --gtest_filter="$filter" --gtest_brief=1 ||
    fail "$program fails against $linux/kestrane"
done

# In an empty root: a root folder holding only the executable and a folder
# of samples, no loader, no library, no /dev, /etc or /proc. The .deb's
# executable, run there first, must fail (it finds no dynamic loader), which
# shows the root is as empty as it should be.
empty_root=$scratch/empty-root
mkdir -p "$empty_root/music"
tag() { python3 scripts/sample_tags.py "$@"; }
tag ape Title=One >"$scratch/one.tag"
tag id3v1 title=Two artist="Sample Artist" year=2026 genre=12 >"$scratch/two.tag"
{ printf 'input audio one'; cat "$scratch/one.tag"; } >"$empty_root/music/one.ape"
{ printf 'input audio two'; cat "$scratch/two.tag"; } >"$empty_root/music/two.ape"
printf 'output audio one' >"$empty_root/music/one.mp3"
{ printf 'output audio two'; tag ape Title=Old; } >"$empty_root/music/two.mp3"
in_empty_root() {
  if [ "$(id -u)" -eq 0 ]; then chroot "$empty_root" "$@"; else unshare --map-root-user chroot "$empty_root" "$@"; fi
}
cp "$tool" "$empty_root/kestrane"
in_empty_root /kestrane --version </dev/null >/dev/null 2>&1 &&
  fail "the .deb's (dynamically linked) executable runs in the empty root: it is not empty"
cp "$static_tool" "$empty_root/kestrane"
expect "files in the empty root" "$(cd "$empty_root" && find . | sort | tr '\n' ' ')" \
  ". ./kestrane ./music ./music/one.ape ./music/one.mp3 ./music/two.ape ./music/two.mp3 "
echo "== $linux/kestrane '/music/*.ape' '/music/*.mp3' in an empty root"
status=0
report=$(in_empty_root /kestrane '/music/*.ape' '/music/*.mp3' </dev/null 2>&1) || status=$?
expect "exit status in the empty root" "$status" 0
expect "report in the empty root" "$(echo "$report" | tail -n +5)" "
/music/one.mp3:
appended tag from /music/one.ape

/music/two.mp3:
updated tag from /music/two.ape"
cat <(printf 'output audio one') "$scratch/one.tag" | cmp -s - "$empty_root/music/one.mp3" ||
  fail "one.mp3 does not end in one.ape's tag after the run in the empty root"
cat <(printf 'output audio two') "$scratch/two.tag" | cmp -s - "$empty_root/music/two.mp3" ||
  fail "two.mp3 does not end in two.ape's tag after the run in the empty root"

if [ $failures -ne 0 ]; then
  echo "package checks: $failures failed"
  exit 1
fi
echo "package checks passed"
