#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and gives each a short run
# on its seed corpus: enough to catch a parser or lookup that crashes again.
# Long runs: build/fuzz/bin/NAME_fuzz -max_total_time=300 DIR fuzz/corpus/NAME
#   FUZZ_SECONDS   seconds per target (default 4)
#   FUZZ_STEP      build, run, or both (default): ./test builds while the Wine
#                  tests leave the processors idle, and runs the targets after
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

seconds=${FUZZ_SECONDS:-4}
dir="$RM_BUILD/fuzz"
rm_forget_moved_build "$dir"
CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRELAYMOTH_FUZZ=ON -DRELAYMOTH_TESTS=OFF -DRELAYMOTH_BENCH=OFF >"$RM_LOGS/fuzz-configure.log" 2>&1 ||
  { cat "$RM_LOGS/fuzz-configure.log"; exit 1; }

targets=()
for src in fuzz/*_fuzz.cpp; do
  targets+=("$(basename "$src" .cpp)")
done
step=${FUZZ_STEP:-both}
if [[ $step != run ]]; then
  cmake --build "$dir" -j "${RM_JOBS:-2}" --target "${targets[@]}" >"$RM_LOGS/fuzz-build.log" 2>&1 ||
    { tail -n 40 "$RM_LOGS/fuzz-build.log"; exit 1; }
fi
[[ $step == build ]] && exit 0

status=0
for target in "${targets[@]}"; do
  name=${target%_fuzz}
  work="$dir/corpus/$name"
  mkdir -p "$work"
  log="$RM_LOGS/fuzz-$name.log"
  if "$dir/bin/$target" -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
      -artifact_prefix="$dir/" "$work" "fuzz/corpus/$name" >"$log" 2>&1; then
    echo "fuzz $target: $(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') runs, no finding"
  else
    echo "fuzz $target: FAILED (log $log)"
    tail -n 30 "$log"
    status=1
  fi
done
exit $status
