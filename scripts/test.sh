#!/usr/bin/env bash
# Runs the whole test suite from a fresh checkout: checks formatting, then configures, builds and tests twice,
# once optimised and once under AddressSanitizer + UndefinedBehaviorSanitizer, with
# warnings as errors; then the concurrency tests under ThreadSanitizer and, when clang with
# its libFuzzer runtime is installed, every fuzz target once over its committed corpus.
# Build trees go to build/ci-release, build/ci-asan, build/ci-tsan and build/ci-fuzz (the
# prefix build/ci- can be changed with CI_BUILD_PREFIX).
set -euo pipefail
cd "$(dirname "$0")/.."
# Formatting first: a violation fails the run before anything is built (scripts/lint.sh).
./scripts/lint.sh format
jobs=${JOBS:-$(nproc)}
prefix=${CI_BUILD_PREFIX:-build/ci-}
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

run_suite "${prefix}release" -DCMAKE_BUILD_TYPE=Release
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "${prefix}asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELSDK_NURBS_SANITIZE=address,undefined \
  -DVELSDK_NURBS_BENCH=OFF -DVELSDK_NURBS_PYTHON=OFF -DVELSDK_NURBS_EXAMPLES=OFF
# The concurrency tests once more under ThreadSanitizer (only those programs are built).
echo "=== ${prefix}tsan ==="
cmake -S . -B "${prefix}tsan" "${gen[@]}" "${launcher[@]}" -DVELSDK_NURBS_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELSDK_NURBS_SANITIZE=thread -DVELSDK_NURBS_BENCH=OFF -DVELSDK_NURBS_TOOLS=OFF -DVELSDK_NURBS_EXAMPLES=OFF \
  -DVELSDK_NURBS_PYTHON=OFF
cmake --build "${prefix}tsan" --parallel "$jobs" --target concurrency_test
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir "${prefix}tsan" --output-on-failure -R '^Concurrency\.'
# The fuzz targets (clang, libFuzzer, ASan + UBSan) once over their committed corpora: the
# inputs that once found faults must stay harmless. Skipped when clang cannot link a fuzzer.
probe=$(mktemp -d)
if command -v clang++ >/dev/null 2>&1 &&
  echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
  clang++ -x c++ -fsanitize=fuzzer -o "$probe/probe" - >/dev/null 2>&1; then
  echo "=== ${prefix}fuzz ==="
  FUZZ_BUILD_DIR="${prefix}fuzz" JOBS="$jobs" scripts/fuzz.sh --replay
else
  echo "=== fuzz corpus replay skipped: clang with libFuzzer (clang, libclang-rt-14-dev) not installed ==="
fi
rm -rf "$probe"
echo "all tests passed"
