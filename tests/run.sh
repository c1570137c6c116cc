#!/usr/bin/env bash
# Builds and runs every test: the normal build, then the whole suite again
# under AddressSanitizer and UndefinedBehaviorSanitizer.
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
