#!/usr/bin/env bash
# Fuzzes the document engine: builds the fuzz targets (clang, libFuzzer, ASan, UBSan) in
# build-fuzz/, makes their seeds with the project's own sample writers, and runs each target
# for the given number of seconds (60 by default). Each target's corpus is kept in
# build-fuzz/corpus/ and grows from run to run. Fails on any crash, leak, sanitizer report,
# input slower than 10 s or over 2 GB of memory, keeping the input in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

scripts/setup.sh --packages-only
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DQUORVANE_FUZZ=ON >/dev/null
cmake --build build-fuzz

rm -rf build-fuzz/seeds
build-fuzz/fuzz/fuzz_make_seeds build-fuzz/seeds

# A crashed run leaves its working folder behind: keep those in build-fuzz/.
export TMPDIR=$PWD/build-fuzz/tmp
rm -rf "$TMPDIR"
mkdir -p "$TMPDIR"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
failed=()
for target in package_reader word_join excel_gather; do
  case $target in
    package_reader) seeds=(build-fuzz/seeds/word build-fuzz/seeds/excel) ;;
    word_join) seeds=(build-fuzz/seeds/word) ;;
    excel_gather) seeds=(build-fuzz/seeds/excel) ;;
  esac
  corpus=build-fuzz/corpus/$target findings=build-fuzz/findings/$target
  log=build-fuzz/fuzz-$target.log
  mkdir -p "$corpus" "$findings"
  echo "Fuzzing $target for ${seconds} s"
  status=0
  build-fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
    -max_len=65536 -dict=fuzz/ooxml.dict -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" "${seeds[@]}" >"$log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  echo "  $target: ${executions:-?} executions, exit status $status"
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    failed+=("$target")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "Fuzzing found faults in: ${failed[*]} (inputs in build-fuzz/findings/, logs in build-fuzz/fuzz-*.log)"
  exit 1
fi
