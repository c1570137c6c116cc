#!/usr/bin/env bash
# Builds and runs every test: the normal build, then the whole suite again
# under AddressSanitizer and UndefinedBehaviorSanitizer, a short fuzzing
# smoke run, the cross builds for arm64, s390x and armhf under QEMU, and the
# Windows build under Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=2

cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDICT_WERROR=ON
cmake --build "$top/build" -j"$jobs"
# The big-input tests take about half a minute here; CI runs them in the
# normal build only (under the sanitizers they would take many minutes).
big=${DICT_BIG_TESTS:-}
[ "${CI:-}" = true ] && big=1
DICT_BIG_TESTS=$big ctest --test-dir "$top/build" --output-on-failure -j"$jobs"

cmake -S "$top" -B "$top/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DDICT_SANITIZE=ON -DDICT_WERROR=ON \
  -DCMAKE_CXX_COMPILER=clang++
cmake --build "$top/build-sanitize" -j"$jobs"
DICT_BIG_TESTS= ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
  UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir "$top/build-sanitize" --output-on-failure -j"$jobs"

# A short fuzzing smoke run: a few seconds per target, fixed seed, from the
# committed seed corpus.
FUZZ_SECONDS=${FUZZ_SECONDS:-5} bash "$top/fuzz/run.sh" "$top/build-fuzz"

# What a user gets: install rules, the Debian package, the manual pages, the
# example index reader and the README's commands.
bash "$top/tests/ship_check.sh"

# The cross builds for arm64, s390x (big-endian) and armhf, made with
# Debian's cross compilers and tested under user-mode QEMU through the
# toolchain files' emulator (binfmt_misc is not needed). Each runs the whole
# suite; the 32-bit armhf build runs the big-input tests too, whose files
# pass 2 GiB (the 64-bit builds leave them to the normal build: under the
# emulator they would take minutes each). The arm64 package must bear its
# architecture. Each build is skipped with a message where its compiler or
# emulator is missing; CI requires them.
cross_ready() {  # cross_ready NAME TRIPLET EMULATOR
  command -v "$2-g++" >/dev/null && command -v "$3" >/dev/null && return 0
  if [ "${CI:-}" = true ]; then
    echo "The $1 build needs $2-g++ and $3 (CI installs them)" >&2
    exit 1
  fi
  echo "Skipping the $1 build: $2-g++ or $3 is missing"
  return 1
}
cross_build() {  # cross_build NAME TRIPLET DICT_BIG_TESTS CTEST_ARGUMENTS...
  local dir=$top/build-$1 triplet=$2 big=$3
  shift 3
  cmake -S "$top" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/$triplet.cmake" -DDICT_WERROR=ON
  cmake --build "$dir" -j"$jobs"
  DICT_BIG_TESTS=$big ctest --test-dir "$dir" --output-on-failure -j"$jobs" "$@"
}
if cross_ready arm64 aarch64-linux-gnu qemu-aarch64-static; then
  cross_build arm64 aarch64-linux-gnu ""
  (cd "$top/build-arm64" && cpack -G DEB >/dev/null)
  label=$(dpkg-deb -f "$top"/build-arm64/dictionary-tools_*_arm64.deb Architecture)
  [ "$label" = arm64 ] || { echo "The arm64 package is labelled '$label'" >&2; exit 1; }
fi
if cross_ready s390x s390x-linux-gnu qemu-s390x-static; then
  cross_build s390x s390x-linux-gnu ""
fi
if cross_ready armhf arm-linux-gnueabihf qemu-arm-static; then
  cross_build armhf arm-linux-gnueabihf 1
fi

# The Windows build: cross-compiled with MinGW-w64 and tested under Wine, in
# its own prefix under the build directory. Skipped with a message where the
# cross compiler or Wine is missing; CI requires both.
if command -v x86_64-w64-mingw32-g++-posix >/dev/null && command -v wine >/dev/null; then
  cmake -S "$top" -B "$top/build-win32" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64.cmake" \
    -DDICT_WERROR=ON
  cmake --build "$top/build-win32" -j"$jobs"
  # shellcheck source=tests/wine_support.sh
  source "$top/tests/wine_support.sh"
  trap 'wineserver -k || true' EXIT
  start_wine "$top/build-win32/wineprefix"
  ctest --test-dir "$top/build-win32" --output-on-failure -j"$jobs"
  # What a Windows user gets: the ZIP file, unpacked and run under Wine.
  bash "$top/tests/zip_check.sh" "$top/build-win32"
elif [ "${CI:-}" = true ]; then
  echo "The Windows build needs x86_64-w64-mingw32-g++-posix and wine (CI installs them)" >&2
  exit 1
else
  echo "Skipping the Windows build: x86_64-w64-mingw32-g++-posix or wine is missing"
fi
