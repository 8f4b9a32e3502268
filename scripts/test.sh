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
  -DVELSDK_NURBS_BENCH=OFF
echo "all tests passed"
