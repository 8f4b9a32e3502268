#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking VelSDK.Nurbs need.
#
#   scripts/install-deps.sh            everything the whole test suite and the benchmarks use
#   scripts/install-deps.sh --demo     only what scripts/demo.sh needs (compiler, CMake, CLI11)
#   scripts/install-deps.sh --list     print the package names and exit
#
# Idempotent: packages already installed are left alone, and when nothing is missing the
# script prints nothing and does not touch apt. Missing packages are installed with apt-get
# (through sudo when not run as root). On a machine without dpkg/apt-get it names the
# Debian packages to look for and leaves the rest to CMake, which stops with a message
# naming what it did not find.
#
# Used by scripts/test.sh, scripts/demo.sh and .ci/run: add a package here, and all three
# get it.
set -euo pipefail

# What the library, the nurbs program and the demo need: compiler, build tools, expat, Eigen
# (header-only, solves the sparse systems of the scattered-data fits), CLI11.
demo_packages=(g++ cmake ninja-build ccache libexpat1-dev libeigen3-dev libcli11-dev)
# Everything else the test suite and the benchmarks use.
suite_packages=(
  libgtest-dev libbenchmark-dev libxml2-utils                           # C++ tests, benchmarks, SVG checks
  pybind11-dev python3-pybind11 python3-dev python3-numpy               # the Python module
  python3-pytest python3-scipy python3-matplotlib                       # its tests (SciPy as oracle, plots)
  python3-dask python3-distributed python3-meshio                       # batch and mesh tests
  clang libclang-rt-14-dev                                              # fuzz targets (libFuzzer)
  clang-format clang-tidy                                               # scripts/lint.sh
  libocct-foundation-dev libocct-modeling-data-dev                      # OpenCASCADE: test oracle,
  libocct-modeling-algorithms-dev libocct-data-exchange-dev             #   benchmark peer, STEP/IGES
  libsisl-dev                                                           # SISL peer
)

mode=all
case "${1:-}" in
  "") ;;
  --demo) mode=demo ;;
  --list) mode=list ;;
  -h | --help)
    sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
  *)
    echo "install-deps: unknown option '$1' (try --help)" >&2
    exit 2
    ;;
esac

packages=("${demo_packages[@]}")
[ "$mode" = demo ] || packages+=("${suite_packages[@]}")
if [ "$mode" = list ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

if ! command -v dpkg-query >/dev/null 2>&1 || ! command -v apt-get >/dev/null 2>&1; then
  echo "install-deps: not a Debian-like system (no dpkg/apt-get); install the equivalents of:" >&2
  echo "  ${packages[*]}" >&2
  exit 0
fi

# One query for all: "ii" = wanted and installed (a removed package can linger as "rc").
installed=" $(dpkg-query -W -f='${db:Status-Abbrev}|${Package}\n' "${packages[@]}" 2>/dev/null |
  awk -F'|' '$1 ~ /^ii/ { printf "%s ", $2 }' || true) "
missing=()
for p in "${packages[@]}"; do
  [[ "$installed" == *" $p "* ]] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "install-deps: missing packages, and not root and no sudo; as root run:" >&2
    echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  sudo=(sudo)
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
echo "install-deps: done"
