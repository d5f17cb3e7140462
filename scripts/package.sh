#!/usr/bin/env bash
# Builds the release files from this tree into build/packages/:
#   kestrane_<version>_<arch>.deb   the Linux package
#   kestrane-<version>-win64.zip    kestrane.exe, cross-built with MinGW-w64, its
#                                   manual as plain text, README.md and LICENSE
#                                   (when cmake/toolchain-mingw64.cmake is in the tree)
#   kestrane-<version>.tar.gz       the source: the files git tracks in this checkout
#   SHA256SUMS                      their checksums, for `sha256sum -c SHA256SUMS`
# Two runs on one commit give the same bytes in any folder: every time in
# them is the last commit's date, SOURCE_DATE_EPOCH (taken from the
# environment when set there, and required there outside a git checkout, e.g.
# in the unpacked source archive, which then makes no source archive).
# Installs what it needs first (Debian apt).
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/packages
toolchain=cmake/toolchain-mingw64.cmake

bash scripts/need-packages.sh cmake g++ make dpkg-dev file groff-base python3
if [ -e .git ]; then
  export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
  if ! git diff --quiet HEAD; then
    echo "== note: uncommitted changes are in these packages and in the source archive"
  fi
elif [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  echo "error: not a git checkout: set SOURCE_DATE_EPOCH (seconds since 1970) for the file times" >&2
  exit 1
fi
rm -rf "$out"
mkdir -p "$out"

# Configures and builds a Release build in folder $1; further arguments go
# to cmake.
build() {
  local folder=$1
  shift
  cmake --no-warn-unused-cli -S . -B "$folder" -DCMAKE_BUILD_TYPE=Release -DKESTRANE_BUILD_TESTS=OFF "$@" >/dev/null
  cmake --build "$folder" -j2 >/dev/null
}
# Every file of a tree made for an archive: times SOURCE_DATE_EPOCH, modes
# 755 or 644, whatever the umask.
normalize() {
  chmod -R u=rwX,go=rX "$1"
  find "$1" -exec touch --no-dereference --date="@$SOURCE_DATE_EPOCH" {} +
}

echo "== Linux package"
linux=build/package-linux
# Debian's build flags (hardening, and -ffile-prefix-map for this folder).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
build "$linux" -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$linux/CMakeCache.txt")
if [ "$(dpkg-parsechangelog -l debian/changelog -S Version)" != "$version" ]; then
  echo "error: debian/changelog has no entry for version $version at its top" >&2
  exit 1
fi
arch=$(dpkg --print-architecture)
# The package's tree, in a folder laid out as dpkg-shlibdeps expects.
rm -rf "$linux/deb"
root=$linux/deb/debian/kestrane
doc=$root/usr/share/doc/kestrane
DESTDIR=$PWD/$root cmake --install "$linux" --prefix /usr >/dev/null
strip --remove-section=.comment --remove-section=.note "$root/usr/bin/kestrane"
gzip -9n "$root/usr/share/man/man1/kestrane.1"
gzip -9n <debian/changelog >"$doc/changelog.gz"
{ # the LICENSE in Debian's machine-readable format
  echo "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
  echo "Upstream-Name: kestrane"
  echo
  echo "Files: *"
  echo "Copyright: $(sed -n 's/^Copyright (c) //p' LICENSE)"
  echo "License: Expat"
  sed -n '/^Permission/,$ { s/^$/./; s/^/ /; p }' LICENSE
} >"$doc/copyright"
printf 'Source: kestrane\n\nPackage: kestrane\nArchitecture: any\n' >"$linux/deb/debian/control"
mkdir "$root/DEBIAN"
depends=$(cd "$linux/deb" && dpkg-shlibdeps -O debian/kestrane/usr/bin/kestrane | sed -n 's/^shlibs:Depends=//p')
(cd "$root" && find usr -type f | LC_ALL=C sort | xargs md5sum) >"$root/DEBIAN/md5sums"
cat >"$root/DEBIAN/control" <<EOF
Package: kestrane
Version: $version
Architecture: $arch
Maintainer: $(dpkg-parsechangelog -l debian/changelog -S Maintainer)
Installed-Size: $(find "$root/usr" -type f -printf '%s\n' | awk '{ k += int(($1 + 1023) / 1024) } END { print k }')
Depends: $depends
Section: utils
Priority: optional
Description: copy APEv2 and ID3v1 tags between audio files in batch
 Kestrane copies the tag stored at the end of audio files (an APEv2 tag or an
 ID3v1 tag) from input files to output files, byte for byte: one input to one
 output, one input to many outputs, or many inputs to the outputs of the same
 base name. It reads and writes only the ends of files; audio data is never
 changed.
EOF
normalize "$root"
dpkg-deb --root-owner-group -Zxz --build "$root" "$out/kestrane_${version}_$arch.deb" >/dev/null

if [ -f "$toolchain" ]; then
  echo "== Windows zip"
  bash scripts/need-packages.sh g++-mingw-w64-x86-64
  windows=build/package-windows
  # No folder names in the executable (like Debian's -ffile-prefix-map above).
  build "$windows" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$PWD=."
  rm -rf "$windows/zip"
  cmake --install "$windows" --prefix "$PWD/$windows/zip" --strip >/dev/null
  normalize "$windows/zip"
  python3 scripts/write_archive.py zip "$out/kestrane-$version-win64.zip" "$windows/zip"
else
  echo "== Windows zip SKIPPED: $toolchain is not in this tree, so there is no Windows build"
fi

if [ -e .git ]; then
  echo "== source archive"
  git ls-files -z | python3 scripts/write_archive.py tar "$out/kestrane-$version.tar.gz" "kestrane-$version"
fi

(cd "$out" && export LC_ALL=C && files=(*) && sha256sum -- "${files[@]}" >SHA256SUMS)
echo "== release files in $out:"
ls -l "$out"
