#!/usr/bin/env bash
# Builds and runs every test, in lanes: the layout of the C++ files
# (format), the normal build (native), the whole suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer (sanitize), a short
# fuzzing smoke run (fuzz), what a user gets (ship), the cross builds for
# arm64, s390x and armhf under QEMU, and the Windows build under Wine
# (win32).
#
#   bash tests/run.sh               every lane, in the order above
#   bash tests/run.sh LANE...       the named lanes only
#
# Every lane runs, whatever happened in the lanes before it. The run ends
# with a summary, one line per lane: passed, failed, or skipped and why, and
# its minutes; the status is 1 when any lane failed, 2 for an unknown lane
# name. A lane whose tools are missing (a cross compiler, QEMU, Wine) is
# skipped, except with CI=true, where that is a failure.
#
# The builds and tests are the presets of CMakePresets.json, one per lane
# that builds with CMake (cmake --preset LANE, cmake --build --preset LANE,
# ctest --preset LANE); the fuzz and ship lanes run their own scripts. The
# presets compile the tests' own sources with -O1 and no debug information
# (DICT_TEST_COMPILE_OPTIONS), in half the time of -O2 -g, except in the
# sanitize lane, whose reports want line numbers; the programs and libraries
# under test keep the build type's flags.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
lanes=(format native sanitize fuzz ship arm64 s390x armhf win32)
in_ci=false
[ "${CI:-}" = true ] && in_ci=true

# ------------------------------------------------------------------ the lanes
# Each lane runs in a subshell of its own under `set -e`, from the top of the
# checkout: its first failing command fails the lane, and nothing it sets
# (a trap, Wine's variables) reaches the next lane.

# Every C++ file laid out as .clang-format says (clang-format 14); the files
# are those git tracks, or every .cpp and .h outside the build directories
# in a checkout without git.
lane_format() {
  needs format clang-format
  local files
  if git -C "$top" rev-parse --git-dir >/dev/null 2>&1; then
    files=$(git -C "$top" ls-files '*.cpp' '*.h')
  else
    files=$(find . -path './build*' -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
  fi
  # shellcheck disable=SC2086
  clang-format --dry-run -Werror $files
}

# The normal build. The big-input tests take about half a minute here; CI
# runs them in the normal build only (under the sanitizers they would take
# many minutes).
lane_native() {
  cmake --preset native
  cmake --build --preset native
  local big=${DICT_BIG_TESTS:-}
  if $in_ci; then big=1; fi
  DICT_BIG_TESTS=$big ctest --preset native
}

# The whole suite under the sanitizers, with clang; the test preset sets
# the sanitizers' options and leaves the big-input tests out.
lane_sanitize() {
  cmake --preset sanitize
  cmake --build --preset sanitize
  ctest --preset sanitize
}

# A short fuzzing smoke run: a few seconds per target, fixed seed, from the
# committed seed corpus.
lane_fuzz() {
  FUZZ_SECONDS=${FUZZ_SECONDS:-5} bash "$top/fuzz/run.sh" "$top/build-fuzz"
}

# What a user gets: install rules, the Debian package, the manual pages, the
# example index reader and the README's commands.
lane_ship() {
  bash "$top/tests/ship_check.sh"
}

# The cross builds for arm64, s390x (big-endian) and armhf, made with
# Debian's cross compilers and tested under user-mode QEMU through the
# toolchain files' emulator (binfmt_misc is not needed). Each runs the whole
# suite; the 32-bit armhf build runs the big-input tests too, whose files
# pass 2 GiB (the 64-bit builds leave them to the normal build: under the
# emulator they would take minutes each). The arm64 package must bear its
# architecture.
cross_lane() {  # cross_lane NAME TRIPLET EMULATOR
  needs "$1" "$2-g++" "$3"
  cmake --preset "$1"
  cmake --build --preset "$1"
  ctest --preset "$1"
}
lane_arm64() {
  cross_lane arm64 aarch64-linux-gnu qemu-aarch64-static
  (cd "$top/build-arm64" && cpack -G DEB >/dev/null)
  local label
  label=$(dpkg-deb -f "$top"/build-arm64/dictionary-tools_*_arm64.deb Architecture)
  [ "$label" = arm64 ] || { echo "The arm64 package is labelled '$label'" >&2; return 1; }
}
lane_s390x() {
  cross_lane s390x s390x-linux-gnu qemu-s390x-static
}
lane_armhf() {
  cross_lane armhf arm-linux-gnueabihf qemu-arm-static
}

# The Windows build: cross-compiled with MinGW-w64 and tested under Wine, in
# its own prefix under the build directory; Wine's server is stopped when
# the lane ends, however it ends.
lane_win32() {
  needs Windows x86_64-w64-mingw32-g++-posix wine
  cmake --preset win32
  cmake --build --preset win32
  # shellcheck source=tests/wine_support.sh
  source "$top/tests/wine_support.sh"
  trap 'wineserver -k || true' EXIT
  start_wine "$top/build-win32/wineprefix"
  ctest --preset win32
  # What a Windows user gets: the ZIP file, unpacked and run under Wine.
  bash "$top/tests/zip_check.sh" "$top/build-win32"
}

# ------------------------------------------------------------------ running

results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT

# needs NAME TOOL...: returns when every tool is present. Otherwise the lane
# ends: skipped, naming what is missing, or failed in CI, which installs them.
needs() {
  local name=$1 tool missing=()
  shift
  for tool in "$@"; do
    command -v "$tool" >/dev/null || missing+=("$tool")
  done
  [ ${#missing[@]} = 0 ] && return 0
  if $in_ci; then
    echo "The $name lane needs $* (CI installs them); missing: ${missing[*]}" >&2
    echo "${missing[*]} missing, which CI requires" >"$results/$lane.why"
    exit 1
  fi
  echo "Skipping the $name lane: ${missing[*]} missing"
  echo "${missing[*]} missing" >"$results/$lane.why"
  exit 0
}

usage() {
  echo "usage: bash tests/run.sh [LANE...]"
  echo "lanes: ${lanes[*]}"
}

is_lane() {
  local known
  for known in "${lanes[@]}"; do [ "$1" = "$known" ] && return 0; done
  return 1
}
chosen=()
for name in "$@"; do
  if is_lane "$name"; then
    [[ " ${chosen[*]} " == *" $name "* ]] || chosen+=("$name")
  elif [ "$name" = -h ] || [ "$name" = --help ]; then
    usage
    exit 0
  else
    echo "tests/run.sh: no lane named '$name'" >&2
    usage >&2
    exit 2
  fi
done
[ ${#chosen[@]} = 0 ] && chosen=("${lanes[@]}")

declare -A result seconds reason
failed=0
for lane in "${chosen[@]}"; do
  echo "==== lane $lane"
  rm -f "$results/$lane.why"
  start=$SECONDS
  (set -e; cd "$top"; "lane_$lane")
  status=$?
  seconds[$lane]=$((SECONDS - start))
  if [ "$status" != 0 ]; then
    result[$lane]=failed
    failed=$((failed + 1))
  elif [ -f "$results/$lane.why" ]; then
    result[$lane]=skipped
  else
    result[$lane]=passed
  fi
  [ -f "$results/$lane.why" ] && reason[$lane]=$(cat "$results/$lane.why")
  echo "==== lane $lane: ${result[$lane]}"
done

minutes() { printf '%d.%d' $(($1 / 60)) $(($1 % 60 * 10 / 60)); }
echo
echo "==== summary"
for lane in "${chosen[@]}"; do
  printf '%-9s %-8s %5s min' "$lane" "${result[$lane]}" "$(minutes "${seconds[$lane]}")"
  [ -n "${reason[$lane]:-}" ] && printf '  (%s)' "${reason[$lane]}"
  echo
done
echo "==== $failed of ${#chosen[@]} lanes failed, $(minutes "$SECONDS") min in all"
[ "$failed" = 0 ]
