#!/usr/bin/env bash
# Fuzz stage: builds the copy_tag fuzz target with clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer in its own build folder,
# writes the seed corpus and fuzzes for a bounded time
# (KESTRANE_FUZZ_SECONDS, 60 by default). Any crash, sanitizer report or
# broken check fails the stage; the input that caused it is left in build/fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/need-packages.sh cmake make clang libclang-rt-14-dev python3
cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTRANE_FUZZ=ON -DKESTRANE_BUILD_TESTS=OFF -DKESTRANE_WARNINGS_AS_ERRORS=ON
cmake --build build/fuzz -j2 --target kestrane_copy_tag_fuzzer
cd build/fuzz
rm -rf seeds corpus
python3 ../../tests/fuzz/make_seeds.py seeds
mkdir corpus
seconds=${KESTRANE_FUZZ_SECONDS:-60}
# The target's scratch files live in memory when /dev/shm is there, and go
# even when a crash ends the target before it can remove them.
scratch=$(mktemp -d /dev/shm/kestrane-fuzz.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$scratch"' EXIT
echo "== fuzzing for $seconds s ($(ls seeds | wc -l) seeds)"
if ! TMPDIR=$scratch ./tests/fuzz/kestrane_copy_tag_fuzzer -max_total_time="$seconds" -print_final_stats=1 \
    -dict=../../tests/fuzz/tags.dict -artifact_prefix="$PWD/" corpus seeds >fuzz.log 2>&1; then
  tail -n 60 fuzz.log
  echo "!! the fuzz target found a fault; the input is in $PWD (crash-*, leak-*, ...)"
  exit 1
fi
grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::|^Done' fuzz.log
echo "== corpus: $(ls corpus | wc -l) files, $(du -sb corpus | cut -f1) bytes"
