#!/usr/bin/env bash
# Builds the release files into build/packages/:
#   kestrane_<version>_<arch>.deb   the Linux package, built by dpkg-buildpackage
#                                   from debian/ (its tests run as it builds)
#   kestrane-<version>-win64.zip    kestrane.exe, cross-built with MinGW-w64, its
#                                   manual as plain text, README.md, LICENSE and
#                                   the PowerShell argument completer (when
#                                   cmake/toolchain-mingw64.cmake is in the tree)
#   kestrane-<version>-<machine>-linux.tar.gz
#                                   a fully static executable for any Linux on
#                                   this machine's processor (x86_64), its manual
#                                   page, README.md, LICENSE and the bash, zsh
#                                   and fish completions
#   kestrane-<version>.tar.gz       the source: `git archive` of the last commit
#   SHA256SUMS                      their checksums, for `sha256sum -c SHA256SUMS`
# In a git checkout the packages are built from that source archive,
# unpacked, so they hold exactly what it holds: the last commit, not the
# uncommitted changes. Outside one (e.g. in the unpacked source archive) they
# are built from a copy of the tree, and no source archive is made.
#
# Two runs give the same bytes in any folder: every time in the packages is
# that of debian/changelog's top entry (SOURCE_DATE_EPOCH, as
# dpkg-buildpackage sets it, unless the environment sets it).
#
# Installs nothing: when a package it needs is missing it says which, and
# the command that installs them (scripts/need-packages.sh, as root).
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/packages
work=build/package-work
toolchain=cmake/toolchain-mingw64.cmake

# --- what the build needs ---------------------------------------------------
needed=(dpkg-dev debhelper python3 cmake g++)
[ -e .git ] && needed+=(git)
[ -f "$toolchain" ] && needed+=(g++-mingw-w64-x86-64 groff-base)
missing=()
for package in "${needed[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [[ ! " ${missing[*]} " == *" dpkg-dev "* ]] && ! unmet=$(dpkg-checkbuilddeps 2>&1); then
  # "dpkg-checkbuilddeps: error: Unmet build dependencies: cmake (>= 3.22) libgtest-dev"
  read -ra unmet_names <<<"$(echo "$unmet" | sed -n 's/.*Unmet build dependencies: //p' | sed 's/ ([^)]*)//g')"
  missing+=("${unmet_names[@]}")
fi
if [ ${#missing[@]} -ne 0 ]; then
  echo "error: missing packages: ${missing[*]}" >&2
  echo "install them first (as root): bash scripts/need-packages.sh ${missing[*]}" >&2
  exit 1
fi

version=$(sed -n 's/^project(kestrane VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(dpkg-parsechangelog -S Timestamp)}
# As many build jobs as the caller allows; two when it does not say.
[[ ${DEB_BUILD_OPTIONS:-} == *parallel=* ]] || export DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:+$DEB_BUILD_OPTIONS }parallel=2"
rm -rf "$out" "$work"
mkdir -p "$out" "$work"

# --- the source -------------------------------------------------------------
source_tree=$work/kestrane-$version
if [ -e .git ]; then
  echo "== source archive"
  if [ -n "$(git status --porcelain)" ]; then
    echo "== note: uncommitted changes are in none of the release files: they are built from the last commit"
  fi
  git archive --format=tar --prefix="kestrane-$version/" HEAD | gzip -9n >"$out/kestrane-$version.tar.gz"
  tar -xzf "$out/kestrane-$version.tar.gz" -C "$work"
else
  mkdir "$source_tree"
  tar -cf - --exclude=./build . | tar -xf - -C "$source_tree"
fi

# --- the Debian package -----------------------------------------------------
echo "== Linux package (dpkg-buildpackage; log in $work/deb.log)"
if ! (cd "$source_tree" && dpkg-buildpackage -us -uc -b) >"$work/deb.log" 2>&1; then
  grep -A 4 '^CMake Error' "$work/deb.log" >&2 || true  # dh_auto_configure's dump of the cache would hide it
  tail -n 20 "$work/deb.log" >&2
  echo "error: dpkg-buildpackage failed; the whole log is $work/deb.log" >&2
  exit 1
fi
cp "$work/kestrane_${version}_$(dpkg --print-architecture).deb" "$out/"

# --- the Windows zip --------------------------------------------------------
if [ -f "$toolchain" ]; then
  echo "== Windows zip"
  windows=$work/windows
  # No folder names in the executable (as -ffile-prefix-map does for the .deb).
  cmake --no-warn-unused-cli -S "$source_tree" -B "$windows" -DCMAKE_TOOLCHAIN_FILE="$PWD/$source_tree/$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DKESTRANE_BUILD_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$PWD/$source_tree=." >/dev/null
  cmake --build "$windows" -j2 >/dev/null
  zip_tree=$windows/zip
  cmake --install "$windows" --prefix "$PWD/$zip_tree" --strip >/dev/null
  python3 scripts/write_archive.py zip "$out/kestrane-$version-win64.zip" "$zip_tree"
else
  echo "== Windows zip SKIPPED: $toolchain is not in this tree, so there is no Windows build"
fi

# --- the static Linux executable ----------------------------------------------
# Compiled as the .deb's executable is (the distribution's flags, hardening
# as debian/rules asks, no build type of the project's own), then linked
# with -static-pie: glibc and libstdc++ are linked in, and there is no
# dynamic loader and no shared library to find, yet the program is still
# loaded at a random address. Debian has musl only for C (musl-gcc; no
# libstdc++ built for musl), so the C library is glibc's, which is fine for
# a program that looks up no users or hosts (a static glibc cannot load its
# name services). The build folder is
# inside the source tree, so -ffile-prefix-map leaves no folder name in it.
machine=$(uname -m)
linux=kestrane-$version-$machine-linux
echo "== static Linux executable ($linux.tar.gz)"
static=$source_tree/obj-static
build_flags() { (cd "$source_tree" && DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"); }
cmake --no-warn-unused-cli -S "$source_tree" -B "$static" -DCMAKE_BUILD_TYPE=None -DKESTRANE_BUILD_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="$(build_flags CPPFLAGS) $(build_flags CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(build_flags LDFLAGS) -static-pie" >/dev/null
cmake --build "$static" -j2 >/dev/null
installed=$work/static-install
cmake --install "$static" --prefix "$PWD/$installed" --strip >/dev/null
linux_tree=$work/$linux
mkdir -p "$linux_tree/completions"
cp "$installed/bin/kestrane" "$installed/share/man/man1/kestrane.1" "$installed/share/doc/kestrane/README.md" \
  "$installed/share/doc/kestrane/LICENSE" "$linux_tree/"
cp "$installed/share/bash-completion/completions/kestrane" "$linux_tree/completions/kestrane.bash"
cp "$installed"/share/zsh/*/_kestrane "$installed/share/fish/vendor_completions.d/kestrane.fish" \
  "$linux_tree/completions/"
python3 scripts/write_archive.py tar "$out/$linux.tar.gz" "$linux_tree"

(cd "$out" && export LC_ALL=C && files=(*) && sha256sum -- "${files[@]}" >SHA256SUMS)
echo "== release files in $out:"
ls -l "$out"
