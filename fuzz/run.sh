#!/usr/bin/env bash
# Builds the fuzz targets with clang 14 and runs each one for FUZZ_SECONDS
# seconds (default 5, the CI smoke run) with a fixed seed, starting from a
# copy of the committed seed corpus, so that the tree is never modified.
#
#   bash fuzz/run.sh [build-dir]                     # smoke run
#   FUZZ_SECONDS=600 bash fuzz/run.sh [build-dir]    # long run
#
# Exits non-zero when any target reports a finding; the reproducer is kept
# in <build-dir>/fuzz-artifacts/.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
build=${1:-$top/build-fuzz}
seconds=${FUZZ_SECONDS:-5}
compiler=${FUZZ_CXX:-clang++-14}
command -v "$compiler" >/dev/null || compiler=clang++
targets=(fuzz_arguments fuzz_transcode fuzz_transcode_pieces fuzz_text_reader fuzz_index)

cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$compiler" \
  -DDICT_FUZZ=ON -DDICT_WERROR=ON -DBUILD_TESTING=OFF -DDICT_BUILD_BENCH=OFF
cmake --build "$build" -j2 --target "${targets[@]}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
artifacts=$build/fuzz-artifacts
mkdir -p "$artifacts"

failed=()
for target in "${targets[@]}"; do
  mkdir -p "$scratch/$target"
  cp -R "$here/corpus/$target/." "$scratch/$target/"
  echo "== $target: $seconds s"
  if ! "$build/fuzz/$target" -seed=1 -max_total_time="$seconds" -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$artifacts/$target-" "$scratch/$target"; then
    failed+=("$target")
  fi
done

if ((${#failed[@]} > 0)); then
  echo "fuzz findings in: ${failed[*]} (reproducers in $artifacts)" >&2
  exit 1
fi
echo "fuzz: no findings"
