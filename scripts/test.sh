#!/usr/bin/env bash
# Installs what the tests need, then builds and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

# Everything any stage needs, installed first so that every build sees it
# (the TagLib interoperability tests, for one, are built in every stage).
bash scripts/need-packages.sh cmake g++ make python3 googletest libgtest-dev pkg-config libtag1-dev \
  groff-base man-db dpkg-dev file clang libclang-rt-14-dev strace \
  mingw-w64 g++-mingw-w64-x86-64 wine wine64

stages=(sanitized thread-sanitized native package safety fuzz windows bench-smoke)
for stage in "${stages[@]}"; do
  echo "== test stage: $stage"
  bash "scripts/test-$stage.sh"
done
echo "stages: ${#stages[@]} passed, 0 failed"
