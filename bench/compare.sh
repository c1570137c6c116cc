#!/usr/bin/env bash
# Whole-program comparison of tessmark and corvane with their floors and
# peers, on Debian's edict and enamdict. A manual command (several minutes),
# never run by CI:
#
#   bash bench/compare.sh [dictionary-dir]
#
# Builds Release into $BUILD (default /tmp/dict-bench-build), takes edict and
# enamdict from the directory given, else /usr/share/edict (enamdict also
# from /usr/share/enamdict), and works in a scratch directory on CR LF copies
# and LF-only copies. Runs, interleaved for $ROUNDS rounds (default 25, at
# least 25 for a result worth recording):
#   tessmark on each CR LF copy and each LF-only copy, dd bs=128, iconv -c,
#   nkf -E -s on each CR LF copy, corvane and bench/corvane_floor on each
#   dictionary,
# and prints one table (medians of wall, user and system time and of peak
# RSS) and the wall-time ratios (medians of the per-round ratios). Then it
# checks every output: tessmark's output on a CR LF copy has the input's
# size, each tessmark output has the SHA-256 recorded for it in
# bench/RESULTS.md, and corvane's index equals the floor program's. Finally
# it counts read and write requests once per tool with strace -c, and
# user-space instructions with callgrind (set INSTRUCTIONS=0 to skip).
# Needs dd, iconv, nkf, strace, python3, GNU time (for peak RSS) and valgrind
# (for instructions).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
build=${BUILD:-/tmp/dict-bench-build}
rounds=${ROUNDS:-25}
source_dir=${1:-/usr/share/edict}

for tool in dd iconv nkf strace python3 sha256sum cmake; do
  command -v "$tool" >/dev/null || { echo "compare.sh: $tool is needed" >&2; exit 1; }
done
find_dictionary() {
  for candidate in "$source_dir/$1" "/usr/share/$1/$1"; do
    [ -f "$candidate" ] && { echo "$candidate"; return; }
  done
  echo "compare.sh: $1 not found in $source_dir or /usr/share/$1" >&2
  exit 1
}
edict=$(find_dictionary edict)
enamdict=$(find_dictionary enamdict)

cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DDICT_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target tessmark corvane corvane_floor >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for name in edict enamdict; do
  from=$edict
  [ "$name" = enamdict ] && from=$enamdict
  cp "$from" "$scratch/$name"
  cp "$from" "$scratch/$name-lf.euc"
  sed 's/$/\r/' "$from" >"$scratch/$name-crlf.euc"
done

tessmark=$build/tessmark
corvane=$build/corvane
floor=$build/bench/corvane_floor
s=$scratch
plan=$(cat <<JSON
{"rounds": $rounds, "stdout": "$s/console.txt",
 "jobs": [
  {"name": "tessmark edict CR LF", "argv": ["$tessmark", "$s/edict-crlf.euc", "$s/edict-crlf.sjs"]},
  {"name": "dd bs=128 edict CR LF", "argv": ["dd", "if=$s/edict-crlf.euc", "of=$s/dd.out", "bs=128", "status=none"]},
  {"name": "iconv edict CR LF", "argv": ["iconv", "-c", "-f", "EUC-JP", "-t", "SHIFT_JIS", "$s/edict-crlf.euc"], "stdout": "$s/iconv.out"},
  {"name": "nkf edict CR LF", "argv": ["nkf", "-E", "-s", "$s/edict-crlf.euc"], "stdout": "$s/nkf.out"},
  {"name": "tessmark edict LF", "argv": ["$tessmark", "$s/edict-lf.euc", "$s/edict-lf.sjs"]},
  {"name": "corvane edict", "argv": ["$corvane", "$s/edict"]},
  {"name": "floor edict", "argv": ["$floor", "$s/edict", "$s/edict.floor"]},
  {"name": "tessmark enamdict CR LF", "argv": ["$tessmark", "$s/enamdict-crlf.euc", "$s/enamdict-crlf.sjs"]},
  {"name": "dd bs=128 enamdict CR LF", "argv": ["dd", "if=$s/enamdict-crlf.euc", "of=$s/dd.out", "bs=128", "status=none"]},
  {"name": "iconv enamdict CR LF", "argv": ["iconv", "-c", "-f", "EUC-JP", "-t", "SHIFT_JIS", "$s/enamdict-crlf.euc"], "stdout": "$s/iconv.out"},
  {"name": "nkf enamdict CR LF", "argv": ["nkf", "-E", "-s", "$s/enamdict-crlf.euc"], "stdout": "$s/nkf.out"},
  {"name": "tessmark enamdict LF", "argv": ["$tessmark", "$s/enamdict-lf.euc", "$s/enamdict-lf.sjs"]},
  {"name": "corvane enamdict", "argv": ["$corvane", "$s/enamdict"]},
  {"name": "floor enamdict", "argv": ["$floor", "$s/enamdict", "$s/enamdict.floor"]}
 ],
 "ratios": [
  ["tessmark/dd128 edict CR LF", "tessmark edict CR LF", "dd bs=128 edict CR LF"],
  ["tessmark/dd128 enamdict CR LF", "tessmark enamdict CR LF", "dd bs=128 enamdict CR LF"],
  ["tessmark/iconv edict CR LF", "tessmark edict CR LF", "iconv edict CR LF"],
  ["tessmark/iconv enamdict CR LF", "tessmark enamdict CR LF", "iconv enamdict CR LF"],
  ["tessmark/nkf edict CR LF", "tessmark edict CR LF", "nkf edict CR LF"],
  ["tessmark/nkf enamdict CR LF", "tessmark enamdict CR LF", "nkf enamdict CR LF"],
  ["tessmark LF-only/CR LF edict", "tessmark edict LF", "tessmark edict CR LF"],
  ["tessmark LF-only/CR LF enamdict", "tessmark enamdict LF", "tessmark enamdict CR LF"],
  ["corvane/floor edict", "corvane edict", "floor edict"],
  ["corvane/floor enamdict", "corvane enamdict", "floor enamdict"]
 ]}
JSON
)

echo "Machine: $(uname -srm), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores, $(g++ --version | head -1)"
echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Command: bash bench/compare.sh $*  (ROUNDS=$rounds)"
echo "Inputs: edict $(stat -c %s "$edict") bytes, enamdict $(stat -c %s "$enamdict") bytes; CR LF copies $(stat -c %s "$s/edict-crlf.euc") and $(stat -c %s "$s/enamdict-crlf.euc") bytes"
echo
python3 "$here/compare.py" "$plan"
echo
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

# --- Checks ---------------------------------------------------------------
failed=0
for name in edict enamdict; do
  if [ "$(stat -c %s "$s/$name-crlf.sjs")" != "$(stat -c %s "$s/$name-crlf.euc")" ]; then
    echo "CHECK FAILED: tessmark's output on $name-crlf.euc differs in size from its input"
    failed=1
  fi
  if ! cmp -s "$s/$name.IND" "$s/$name.floor"; then
    echo "CHECK FAILED: corvane's index of $name differs from the floor program's"
    failed=1
  fi
  for kind in crlf lf; do
    sum=$(sha256sum <"$s/$name-$kind.sjs" | cut -d' ' -f1)
    recorded=$(grep -oE "\| $name-$kind\.sjs +\| [0-9a-f]{64}" "$here/RESULTS.md" 2>/dev/null |
               grep -oE '[0-9a-f]{64}' || true)
    if [ -z "$recorded" ]; then
      echo "not recorded in bench/RESULTS.md: | $name-$kind.sjs | $sum |"
    elif [ "$recorded" != "$sum" ]; then
      echo "CHECK FAILED: $name-$kind.sjs has SHA-256 $sum, bench/RESULTS.md records $recorded"
      failed=1
    else
      echo "checked: $name-$kind.sjs SHA-256 $sum as recorded"
    fi
  done
done
echo "checked: sizes of the CR LF outputs, corvane's indexes against the floor program's"

# --- System calls, once per tool -----------------------------------------
# Only the requests on the data files count (strace -P): the reads of the
# input and the writes of the output, not those of the loader or console.
count_calls() {
  local label=$1 input=$2 output=$3
  shift 3
  strace -c -P "$input" -P "$output" -o "$s/strace.txt" "$@" >"$s/strace-stdout.txt" 2>/dev/null
  local reads writes
  reads=$(awk '$NF == "read" {print $4}' "$s/strace.txt")
  writes=$(awk '$NF == "write" {print $4}' "$s/strace.txt")
  printf '| %-28s | %12s | %13s |\n' "$label" "${reads:-0}" "${writes:-0}"
}
echo
echo "System calls on the data files (strace -c -P, one run each):"
printf '| %-28s | %12s | %13s |\n' run "input reads" "output writes"
printf '|%s|%s:|%s:|\n' "------------------------------" "-------------" "--------------"
count_calls "tessmark edict CR LF" "$s/edict-crlf.euc" "$s/edict-crlf.sjs" \
  "$tessmark" "$s/edict-crlf.euc" "$s/edict-crlf.sjs"
count_calls "dd bs=128 edict CR LF" "$s/edict-crlf.euc" "$s/dd.out" \
  dd if="$s/edict-crlf.euc" of="$s/dd.out" bs=128 status=none
count_calls "iconv edict CR LF" "$s/edict-crlf.euc" "$s/iconv.out" \
  iconv -c -f EUC-JP -t SHIFT_JIS -o "$s/iconv.out" "$s/edict-crlf.euc"
count_calls "tessmark enamdict CR LF" "$s/enamdict-crlf.euc" "$s/enamdict-crlf.sjs" \
  "$tessmark" "$s/enamdict-crlf.euc" "$s/enamdict-crlf.sjs"
count_calls "dd bs=128 enamdict CR LF" "$s/enamdict-crlf.euc" "$s/dd.out" \
  dd if="$s/enamdict-crlf.euc" of="$s/dd.out" bs=128 status=none
count_calls "corvane edict" "$s/edict" "$s/edict.IND" "$corvane" "$s/edict"
count_calls "floor edict" "$s/edict" "$s/edict.floor" "$floor" "$s/edict" "$s/edict.floor"

# --- Instructions -----------------------------------------------------------
if [ "${INSTRUCTIONS:-1}" != 0 ] && command -v valgrind >/dev/null; then
  instructions() {
    local label=$1
    shift
    valgrind --tool=callgrind --callgrind-out-file="$s/callgrind.out" "$@" \
      >"$s/callgrind-stdout.txt" 2>"$s/callgrind-stderr.txt"
    printf '| %-28s | %13s |\n' "$label" \
      "$(grep -oE 'Collected : [0-9]+' "$s/callgrind-stderr.txt" | grep -oE '[0-9]+')"
  }
  echo
  echo "User-space instructions (callgrind):"
  printf '| %-28s | %13s |\n' run instructions
  printf '|%s|%s:|\n' "------------------------------" "--------------"
  instructions "tessmark edict CR LF" "$tessmark" "$s/edict-crlf.euc" "$s/edict-crlf.sjs"
  instructions "tessmark edict LF" "$tessmark" "$s/edict-lf.euc" "$s/edict-lf.sjs"
  instructions "corvane edict" "$corvane" "$s/edict"
  instructions "floor edict" "$floor" "$s/edict" "$s/edict.floor"
fi
exit "$failed"
