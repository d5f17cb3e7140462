#!/usr/bin/env bash
# Fuzz stage: builds the fuzz targets with clang, libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer in their own build folder, writes their seed
# corpora and fuzzes each for its share of a bounded time
# (KESTRANE_FUZZ_SECONDS, 60 by default): copy_tag 2/5 of it, end_block 1/5,
# name_rules, command_line and json_lines 2/15 each (24, 12, 8, 8 and 8 s).
# Any crash, sanitizer report, broken check or hang (over 10 s on one input)
# fails the stage, after every target has had its turn; the input that
# caused it is left in build/fuzz as TARGET-crash-*, TARGET-timeout-*, ...
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/need-packages.sh cmake make clang libclang-rt-14-dev python3
cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTRANE_FUZZ=ON -DKESTRANE_BUILD_TESTS=OFF -DKESTRANE_WARNINGS_AS_ERRORS=ON
targets=(copy_tag end_block name_rules command_line json_lines)
build_targets=()
for target in "${targets[@]}"; do build_targets+=("kestrane_${target}_fuzzer"); done
cmake --build build/fuzz -j2 --target "${build_targets[@]}"
cd build/fuzz
rm -rf seeds corpus
python3 ../../tests/fuzz/make_seeds.py seeds
seconds=${KESTRANE_FUZZ_SECONDS:-60}
# Each target's share of the time (in fifteenths), dictionary and longest input.
declare -A share=([copy_tag]=6 [end_block]=3 [name_rules]=2 [command_line]=2 [json_lines]=2)
declare -A dict=([copy_tag]=tags [end_block]=tags [name_rules]=names [command_line]=command_line [json_lines]=json_lines)
declare -A options=([copy_tag]="" [end_block]="-max_len=12000 -timeout=10" [name_rules]="-max_len=256 -timeout=10"
  [command_line]="-max_len=512 -timeout=10" [json_lines]="-max_len=512 -timeout=10")
# The targets' scratch files live in memory when /dev/shm is there, and go
# even when a crash ends a target before it can remove them.
scratch=$(mktemp -d /dev/shm/kestrane-fuzz.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=()
for target in "${targets[@]}"; do
  time_share=$(( seconds * ${share[$target]} / 15 ))
  [ "$time_share" -ge 1 ] || time_share=1
  mkdir -p "corpus/$target"
  echo "== $target: fuzzing for $time_share s ($(ls "seeds/$target" | wc -l) seeds)"
  # shellcheck disable=SC2086  # the options are words
  if ! TMPDIR=$scratch "./tests/fuzz/kestrane_${target}_fuzzer" -max_total_time="$time_share" -print_final_stats=1 \
      -dict="../../tests/fuzz/${dict[$target]}.dict" ${options[$target]} -artifact_prefix="$PWD/$target-" \
      "corpus/$target" "seeds/$target" >"$target.log" 2>&1; then
    tail -n 60 "$target.log"
    echo "!! the $target fuzz target found a fault; the input is in $PWD ($target-crash-*, $target-timeout-*, ...)"
    failed+=("$target")
    continue
  fi
  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::number_of_executed_units|^stat::peak_rss|^Done' "$target.log"
  echo "   corpus: $(ls "corpus/$target" | wc -l) files, $(du -sb "corpus/$target" | cut -f1) bytes"
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "!! faults found by: ${failed[*]}"
  exit 1
fi
