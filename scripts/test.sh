#!/usr/bin/env bash
# Runs the whole test suite from a fresh checkout. First installs the Debian packages the
# suite needs (scripts/install-deps.sh; quiet when all are there) and checks the formatting
# (scripts/lint.sh format) and runs clang-tidy on the library (scripts/lint.sh tidy): a
# violation fails the run before anything is built; then
# configures, builds and tests twice, once optimised and once under AddressSanitizer +
# UndefinedBehaviorSanitizer, with warnings as errors; then the concurrency tests under
# ThreadSanitizer and every fuzz target once over its committed corpus (clang, libFuzzer). Ends with a summary of the parts
# that were built and run in each stage and of every test that was skipped.
#
# A part that cannot be built stops the run with a message naming the missing Debian package;
# nothing is left out silently. Environment:
#   JOBS=N                parallel build and test jobs (default: the number of cores)
#   CI_BUILD_PREFIX=DIR   prefix of the build trees (default build/ci-: build/ci-release,
#                         build/ci-asan, build/ci-tsan, build/ci-fuzz)
#   SKIP_INSTALL_DEPS=1   do not run scripts/install-deps.sh (no apt)
#   SKIP_FUZZ=1           leave out the fuzz corpus replay (needs clang and libclang-rt-14-dev)
#   CTEST_ARGS=...        extra arguments for ctest in the release and sanitizer stages
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
prefix=${CI_BUILD_PREFIX:-build/ci-}

[ "${SKIP_INSTALL_DEPS:-0}" = 1 ] || ./scripts/install-deps.sh
./scripts/lint.sh format
# clang-tidy with the fixed check list of .clang-tidy over the library (a finding fails the run).
JOBS="$jobs" ./scripts/lint.sh tidy

gen=()
command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

summary=("formatting: clean (clang-format, scripts/lint.sh format)" "clang-tidy: clean (.clang-tidy checks over the library, scripts/lint.sh tidy)")
# note TEXT: one line of the final summary.
note() { summary+=("$1"); }

# ctest_summary DIR LOG: "N tests passed, S skipped", the parts file of DIR, the skipped tests.
ctest_summary() {
  local dir=$1 log=$2 total skipped
  total=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  skipped=$(grep -c '(Skipped)' "$log" || true)
  note "  ctest: ${total:-?} tests, all passed ($skipped skipped)"
  if [ -f "$dir/velsdk-parts.txt" ]; then
    while IFS= read -r line; do [ -n "$line" ] && note "  $line"; done <"$dir/velsdk-parts.txt"
  fi
  if [ -f "$dir/python/pytest-report.xml" ]; then
    note "  $(sed -n 's/.*<testsuite [^>]*errors="\([0-9]*\)" failures="\([0-9]*\)" skipped="\([0-9]*\)" tests="\([0-9]*\)".*/pytest: \4 Python tests, \2 failed, \1 errors, \3 skipped/p' \
      "$dir/python/pytest-report.xml" | head -n 1)"
  fi
  while IFS= read -r line; do
    note "  skipped:${line%(Skipped)}"
  done < <(grep '(Skipped)' "$log" | sed 's/^[[:space:]]*[0-9]* - / /' || true)
}

# run_suite LABEL DIR [cmake options...]: configure, build, run every test of DIR.
run_suite() {
  local label=$1 dir=$2
  shift 2
  echo "=== $dir ==="
  cmake -S . -B "$dir" "${gen[@]}" "${launcher[@]}" -DVELSDK_NURBS_WERROR=ON "$@"
  cmake --build "$dir" --parallel "$jobs"
  # shellcheck disable=SC2086 # CTEST_ARGS is a list of words
  ctest --test-dir "$dir" --output-on-failure --parallel "$jobs" ${CTEST_ARGS:-} 2>&1 | tee "$dir/ctest.log"
  note "$label ($dir):"
  ctest_summary "$dir" "$dir/ctest.log"
}

run_suite "optimised" "${prefix}release" -DCMAKE_BUILD_TYPE=Release
# The Python module is left out here on purpose: the interpreter is not instrumented.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "AddressSanitizer + UndefinedBehaviorSanitizer" "${prefix}asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELSDK_NURBS_SANITIZE=address,undefined -DVELSDK_NURBS_BENCH=OFF -DVELSDK_NURBS_PYTHON=OFF \
  -DVELSDK_NURBS_EXAMPLES=OFF

# The concurrency tests once more under ThreadSanitizer (only those programs are built).
echo "=== ${prefix}tsan ==="
cmake -S . -B "${prefix}tsan" "${gen[@]}" "${launcher[@]}" -DVELSDK_NURBS_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELSDK_NURBS_SANITIZE=thread -DVELSDK_NURBS_BENCH=OFF -DVELSDK_NURBS_TOOLS=OFF -DVELSDK_NURBS_EXAMPLES=OFF \
  -DVELSDK_NURBS_PYTHON=OFF
cmake --build "${prefix}tsan" --parallel "$jobs" --target concurrency_test
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir "${prefix}tsan" --output-on-failure -R '^Concurrency\.' 2>&1 |
  tee "${prefix}tsan/ctest.log"
note "ThreadSanitizer (${prefix}tsan): concurrency tests only"
note "  ctest: $(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "${prefix}tsan/ctest.log" | tail -n 1) tests, all passed"

# The fuzz targets (clang, libFuzzer, ASan + UBSan) once over their committed corpora: the
# inputs that once found faults must stay harmless.
if [ "${SKIP_FUZZ:-0}" = 1 ]; then
  note "fuzz corpus replay: off (SKIP_FUZZ=1)"
else
  probe=$(mktemp -d)
  if ! { command -v clang++ >/dev/null 2>&1 &&
    echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
    clang++ -x c++ -fsanitize=fuzzer -o "$probe/probe" - >/dev/null 2>&1; }; then
    rm -rf "$probe"
    echo "test.sh: clang cannot link a libFuzzer program: install the Debian packages clang and" \
      "libclang-rt-14-dev (scripts/install-deps.sh does), or run with SKIP_FUZZ=1" >&2
    exit 1
  fi
  rm -rf "$probe"
  echo "=== ${prefix}fuzz ==="
  FUZZ_BUILD_DIR="${prefix}fuzz" JOBS="$jobs" scripts/fuzz.sh --replay
  note "fuzz corpus replay (${prefix}fuzz): $(find fuzz/corpus -mindepth 1 -maxdepth 1 -type d | wc -l) targets, $(find fuzz/corpus -type f | wc -l) committed inputs, all harmless"
fi

echo
echo "=== summary: what was built and run ==="
printf '%s\n' "${summary[@]}"
echo "all tests passed"
