#!/usr/bin/env bash
# Runs every test program under valgrind memcheck: no invalid read or write, no use of an
# uninitialised value, no mismatched or double free, and no leak (definite or indirect).
#   scripts/valgrind.sh [gtest-filter]
# Builds without sanitizers (valgrind cannot run them) in $VALGRIND_BUILD_DIR, default
# build/valgrind, and runs the programs $JOBS at a time (default 2). Each program's report
# goes to <build dir>/valgrind/<program>.log; the script ends non-zero if any program failed
# or memcheck reported an error. Known false reports of the platform are suppressed in
# scripts/valgrind.supp.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v valgrind >/dev/null 2>&1 || { echo "valgrind is not installed" >&2; exit 2; }
dir=${VALGRIND_BUILD_DIR:-build/valgrind}
jobs=${JOBS:-2}
filter=${1:-*}
gen=()
command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$dir" "${gen[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELSDK_NURBS_BENCH=OFF \
  -DVELSDK_NURBS_EXAMPLES=OFF -DVELSDK_NURBS_PYTHON=OFF >/dev/null
cmake --build "$dir" --parallel "$jobs"

logs="$dir/valgrind"
rm -rf "$logs"
mkdir -p "$logs"
programs=$(find "$dir/tests" -maxdepth 1 -type f -name '*_test' -perm -u+x | sort)
run_one() {
  local program=$1 logs=$2 filter=$3
  local name
  name=$(basename "$program")
  # nouserintercepts: a test program that replaces operator new/delete itself (the hostile-input
  # tests, for their allocation ceiling) keeps its own pair; memcheck still sees every block
  # through the malloc and free underneath.
  if valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
      --show-leak-kinds=definite,indirect --soname-synonyms=somalloc=nouserintercepts \
      --suppressions=scripts/valgrind.supp --log-file="$logs/$name.log" \
      "$program" --gtest_filter="$filter" >"$logs/$name.out" 2>&1; then
    echo "clean   $name"
  else
    echo "FAILED  $name (exit $?; see $logs/$name.log and $logs/$name.out)"
    return 1
  fi
}
export -f run_one
status=0
echo "$programs" | xargs -P "$jobs" -I{} bash -c 'run_one "$@"' _ {} "$logs" "$filter" || status=1
if [ $status -eq 0 ]; then
  echo "valgrind memcheck: every test program clean"
else
  echo "valgrind memcheck: failures above" >&2
fi
exit $status
