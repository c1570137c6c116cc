#!/usr/bin/env bash
# Builds both tools and runs them on the bundled examples, in a scratch copy
# so that the repository stays clean.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$top" -B "$top/build-examples" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$top/build-examples" -j2 --target tessmark corvane >/dev/null
work=$(mktemp -d)
cp "$top/examples/notes.euc" "$top/examples/sample.edict" "$work/"
cd "$work"
"$top/build-examples/tessmark" notes.euc
"$top/build-examples/corvane" sample.edict
echo
echo "notes.SJS (Shift_JIS, CR LF), first bytes:"
od -An -tx1 notes.SJS | head -n 2
if command -v iconv >/dev/null; then
  echo "notes.SJS read back through iconv:"
  iconv -f SHIFT_JIS -t UTF-8 notes.SJS | tr -d '\r' | head -n 3
fi
echo "sample.edict.IND, one 4-byte record per line:"
od -An -tx1 sample.edict.IND
echo "(files left in $work)"
