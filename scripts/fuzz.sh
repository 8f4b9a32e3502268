#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a set time.
#   scripts/fuzz.sh [seconds-per-target] [target ...]
#   scripts/fuzz.sh --replay            (CI: every target once over its committed corpus)
# The build goes to $FUZZ_BUILD_DIR (default build/fuzz). New interesting inputs are written
# to <build dir>/corpus-new/<target>/ (not the committed seed corpus); crashes, hangs and
# out-of-memory inputs go to <build dir>/artifacts/. Without
# targets, every fuzz/fuzz_*.cpp runs, one after the other. An input that runs longer than
# 20 s counts as a hang, one that needs more than 2 GB as running out of memory.
set -euo pipefail
cd "$(dirname "$0")/.."
replay=0
if [ "${1:-}" = "--replay" ]; then
  replay=1
  shift
fi
secs=${1:-60}
shift || true
dir=${FUZZ_BUILD_DIR:-build/fuzz}
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELSDK_NURBS_FUZZ=ON \
  -DVELSDK_NURBS_TESTS=OFF -DVELSDK_NURBS_BENCH=OFF -DVELSDK_NURBS_TOOLS=OFF -DVELSDK_NURBS_EXAMPLES=OFF \
  -DVELSDK_NURBS_PYTHON=OFF "${launcher[@]}" >/dev/null
# Only the fuzz programs: the shared library is not linked in this configuration.
cmake --build "$dir" --parallel "${JOBS:-2}" --target "${targets[@]}"

if [ $replay -eq 1 ]; then
  for t in "${targets[@]}"; do
    [ -d "fuzz/corpus/$t" ] || continue
    echo "=== $t: corpus replay ==="
    "$dir/fuzz/$t" -runs=0 -timeout=20 -rss_limit_mb=2048 "fuzz/corpus/$t"
  done
  exit 0
fi

mkdir -p "$dir/artifacts"
for t in "${targets[@]}"; do
  mkdir -p "$dir/corpus-new/$t" "fuzz/corpus/$t"
  echo "=== $t for ${secs}s ==="
  "$dir/fuzz/$t" -max_total_time="$secs" -print_final_stats=1 -timeout=20 -rss_limit_mb=2048 -max_len=8192 \
    -artifact_prefix="$dir/artifacts/$t-" "$dir/corpus-new/$t" "fuzz/corpus/$t" 2>&1 |
    grep -E 'stat::number_of_executed_units|stat::peak_rss|ERROR|SUMMARY|Done|Test unit written' || true
done
