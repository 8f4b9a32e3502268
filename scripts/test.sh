#!/usr/bin/env bash
# Runs the whole test suite from a fresh checkout: configures, builds and tests twice,
# once optimised and once under AddressSanitizer + UndefinedBehaviorSanitizer, with
# warnings as errors. Build trees go to build/ci-release and build/ci-asan.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
gen=()
command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

run_suite() {
  local dir=$1; shift
  echo "=== $dir ==="
  cmake -S . -B "$dir" "${gen[@]}" "${launcher[@]}" -DVELSDK_NURBS_WERROR=ON "$@"
  cmake --build "$dir" --parallel "$jobs"
  ctest --test-dir "$dir" --output-on-failure --parallel "$jobs" ${CTEST_ARGS:-}
}

run_suite build/ci-release -DCMAKE_BUILD_TYPE=Release
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build/ci-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELSDK_NURBS_SANITIZE=address,undefined \
  -DVELSDK_NURBS_BENCH=OFF -DVELSDK_NURBS_PYTHON=OFF -DVELSDK_NURBS_EXAMPLES=OFF
# The concurrency tests once more under ThreadSanitizer (only those programs are built).
echo "=== build/ci-tsan ==="
cmake -S . -B build/ci-tsan "${gen[@]}" "${launcher[@]}" -DVELSDK_NURBS_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELSDK_NURBS_SANITIZE=thread -DVELSDK_NURBS_BENCH=OFF -DVELSDK_NURBS_TOOLS=OFF -DVELSDK_NURBS_EXAMPLES=OFF \
  -DVELSDK_NURBS_PYTHON=OFF
cmake --build build/ci-tsan --parallel "$jobs" --target concurrency_Concurrency_test
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/ci-tsan --output-on-failure -R '^Concurrency\.'
echo "all tests passed"
