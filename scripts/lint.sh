#!/usr/bin/env bash
# Static checks that fail CI on a violation:
#   1. formatting: clang-format (the repository's .clang-format) over every tracked C++ file;
#   2. clang-tidy with the fixed check list of .clang-tidy over the library sources (every
#      finding is an error), from the compile commands of a configure-only tree.
#   scripts/lint.sh [format|tidy]      (default: both)
# Environment: JOBS (parallel clang-tidy runs, default the number of cores), LINT_BUILD_DIR
# (default build/ci-lint).
set -euo pipefail
cd "$(dirname "$0")/.."
what=${1:-all}
jobs=${JOBS:-$(nproc)}

if [ "$what" = all ] || [ "$what" = format ]; then
  echo "=== clang-format ==="
  command -v clang-format >/dev/null 2>&1 || { echo "clang-format is not installed (Debian: clang-format)" >&2; exit 2; }
  git ls-files -z '*.cpp' '*.h' '*.hpp' | xargs -0 clang-format --dry-run -Werror
  echo "formatting clean"
fi

if [ "$what" = all ] || [ "$what" = tidy ]; then
  echo "=== clang-tidy ==="
  command -v clang-tidy >/dev/null 2>&1 || { echo "clang-tidy is not installed (Debian: clang-tidy)" >&2; exit 2; }
  dir=${LINT_BUILD_DIR:-build/ci-lint}
  gen=()
  command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)
  cmake -S . -B "$dir" "${gen[@]}" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DVELSDK_NURBS_TESTS=OFF \
    -DVELSDK_NURBS_BENCH=OFF -DVELSDK_NURBS_TOOLS=OFF -DVELSDK_NURBS_EXAMPLES=OFF -DVELSDK_NURBS_PYTHON=OFF >/dev/null
  git ls-files -z 'math/*.cpp' 'nurbs/*.cpp' 'curve/*.cpp' 'persistence/*.cpp' 'analysis/*.cpp' 'fit/*.cpp' \
    'nearest/*.cpp' 'batch/*.cpp' 'exchange/*.cpp' 'mesh/*.cpp' |
    xargs -0 -n 4 -P "$jobs" clang-tidy -p "$dir" --quiet
  echo "clang-tidy clean"
fi
