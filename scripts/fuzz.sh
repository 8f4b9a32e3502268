#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a set time.
#   scripts/fuzz.sh [seconds-per-target] [target ...]
# New interesting inputs are written to build/fuzz/corpus-new/<target>/ (not the committed
# seed corpus); crashes go to build/fuzz/artifacts/. Without targets, every fuzz_* runs.
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-60}
shift || true
dir=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELSDK_NURBS_FUZZ=ON \
  -DVELSDK_NURBS_TESTS=OFF -DVELSDK_NURBS_BENCH=OFF -DVELSDK_NURBS_TOOLS=OFF -DVELSDK_NURBS_EXAMPLES=OFF \
  -DVELSDK_NURBS_PYTHON=OFF >/dev/null
cmake --build "$dir" --parallel 2
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
mkdir -p "$dir/artifacts"
for t in "${targets[@]}"; do
  mkdir -p "$dir/corpus-new/$t" "fuzz/corpus/$t"
  echo "=== $t for ${secs}s ==="
  "$dir/fuzz/$t" -max_total_time="$secs" -print_final_stats=1 -artifact_prefix="$dir/artifacts/$t-" \
    "$dir/corpus-new/$t" "fuzz/corpus/$t" 2>&1 | grep -E 'stat::number_of_executed_units|stat::peak_rss|ERROR|SUMMARY|Done' || true
done
