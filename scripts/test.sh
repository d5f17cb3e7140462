#!/usr/bin/env bash
# Installs what the tests need, then builds and runs every test suite. A
# failing stage does not stop the later ones; the summary at the end lists
# each stage's result, and the script fails if any stage failed.
set -euo pipefail
cd "$(dirname "$0")/.."

# Everything any stage needs, installed first so that every build sees it
# (the TagLib interoperability tests, for one, are built in every stage, and
# so is the test FUSE file system, kestrane_testfs).
bash scripts/need-packages.sh cmake g++ make python3 googletest libgtest-dev pkg-config libtag1-dev \
  libfuse3-dev fuse3 groff-base man-db mandoc dpkg-dev debhelper git file lintian clang clang-tidy libclang-rt-14-dev strace \
  mingw-w64 g++-mingw-w64-x86-64 wine wine64 locales bash-completion zsh fish

stages=(analysis sanitized thread-sanitized native package safety fuzz windows bench-smoke)
results=()
failed=0
for stage in "${stages[@]}"; do
  echo "== test stage: $stage"
  if bash "scripts/test-$stage.sh"; then
    results+=("passed  $stage")
  else
    results+=("FAILED  $stage (exit status $?)")
    failed=$((failed + 1))
  fi
done
echo "== results:"
printf '   %s\n' "${results[@]}"
echo "stages: $((${#stages[@]} - failed)) passed, $failed failed"
[ $failed -eq 0 ]
