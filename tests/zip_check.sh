#!/usr/bin/env bash
# Checks what a Windows user gets: the ZIP file that CPack makes in the
# MinGW-w64 cross build. Builds it, unpacks it into a fresh folder, checks
# its names and text files, and runs the unpacked programs under Wine on the
# examples, comparing their console text, exit statuses and files with those
# of the build's own programs.
#
#   bash tests/zip_check.sh [BUILD_DIR]      (default: build-win32)
#
# A BUILD_DIR that was never configured is configured and built first, as
# tests/run.sh does. Wine runs in $WINEPREFIX, by default BUILD_DIR/wineprefix
# set up as tests/run.sh sets it up. Ends with "zip: N passed, M failed" and a
# non-zero status when any check failed. mandoc, which the package needs, is
# required when CI=true and skipped with a message otherwise.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$top/build-win32}")
tag=zip
# shellcheck source=tests/check_support.sh
source "$top/tests/check_support.sh"
package=dictionary-tools-$version-win64

# ---------------------------------------------------------------- build
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64.cmake" \
    -DDICT_WERROR=ON >/dev/null || { echo "zip: configure failed"; exit 1; }
fi
cmake --build "$build" -j2 >/dev/null || { echo "zip: build failed"; exit 1; }
# Run alone, the script sets Wine up as tests/run.sh does: one server for
# the whole run, with Wine's background programs started before the checks.
if [ -z "${WINEPREFIX:-}" ]; then
  # shellcheck source=tests/wine_support.sh
  source "$top/tests/wine_support.sh"
  trap 'wineserver -k || true; rm -rf "$scratch"' EXIT
  start_wine "$build/wineprefix"
fi

# ---------------------------------------------------------------- package
# The package holds the manual pages as rendered by mandoc; without it (outside
# CI) there is no package to check.
needs mandoc || { summary; exit; }
unpacked=$scratch/unpacked
folder=$unpacked/$package
make_and_unpack() {
  rm -f "$build/$package.zip"
  (cd "$build" && cpack -G ZIP) || return 1
  python3 -m zipfile -e "$build/$package.zip" "$unpacked"
}
check "cpack -G ZIP makes $package.zip, and it unpacks" make_and_unpack

# One folder, everything side by side in it; nothing of the Linux layout.
zip_names() {
  diff <(cd "$unpacked" && find . -mindepth 1 | sort) - <<EOF
./$package
./$package/LICENSE.txt
./$package/README.txt
./$package/corvane.exe
./$package/corvane.html
./$package/differences.txt
./$package/index_reader.py
./$package/notes.euc
./$package/sample.edict
./$package/tessmark.exe
./$package/tessmark.html
EOF
}
check "the ZIP holds one folder with the programs, pages, texts and examples" zip_names

# The texts have CR LF line ends and the bytes of their sources otherwise;
# the README has its version filled in. The examples are data and keep
# their bytes.
texts() {
  local text
  for text in notes.euc sample.edict index_reader.py; do
    cmp "$folder/$text" "$top/examples/$text" || return 1
  done
  for text in LICENSE.txt README.txt differences.txt; do
    if [ "$(grep -c $'\r$' "$folder/$text")" != "$(wc -l <"$folder/$text")" ] ||
      [ "$(tail -c 2 "$folder/$text" | od -An -tx1)" != " 0d 0a" ]; then
      echo "$text: a line does not end with CR LF"
      return 1
    fi
  done
  cmp <(tr -d '\r' <"$folder/LICENSE.txt") "$top/LICENSE" &&
    cmp <(tr -d '\r' <"$folder/differences.txt") "$top/docs/differences.md" || return 1
  head -n 1 "$folder/README.txt" | grep -qF " $version for Windows"
}
check "the texts have CR LF line ends, the examples their own bytes" texts

html_pages() {
  local page html
  for page in corvane tessmark; do
    html=$folder/$page.html
    if [ "$(head -n 1 "$html")" != '<!DOCTYPE html>' ] || [ "$(tail -n 1 "$html")" != '</html>' ] ||
      ! grep -qx "  <title>${page^^}(1)</title>" "$html"; then
      echo "$page.html: not an HTML page"
      return 1
    fi
  done
}
check "corvane.html and tessmark.html are HTML pages of the manuals" html_pages

# What a Windows security scan reads in the programs' headers: they may be
# loaded anywhere (DYNAMIC_BASE, and a relocation table that survived the
# package's strip to make it possible), across the 64-bit address space
# (HIGH_ENTROPY_VA), and their data is never executed (NX_COMPAT).
if needs x86_64-w64-mingw32-objdump; then
  randomised() {
    local exe headers flag
    for exe in corvane tessmark; do
      headers=$(x86_64-w64-mingw32-objdump -p "$folder/$exe.exe") || return 1
      for flag in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT; do
        grep -qx $'\t*'"$flag" <<<"$headers" ||
          { echo "$exe.exe: no $flag"; grep DllCharacteristics <<<"$headers"; return 1; }
      done
      grep -Eq '^Entry 5 [0-9a-f]+ 0*[1-9a-f][0-9a-f]* Base Relocation Directory' <<<"$headers" ||
        { echo "$exe.exe: no relocations"; return 1; }
    done
  }
  check "the programs may be loaded anywhere: DYNAMIC_BASE, HIGH_ENTROPY_VA, NX_COMPAT" randomised
fi

# README.txt converts what tessmark cannot (row 84 cells 5 and 6, JIS X 0212,
# half-width katakana) with a Python command; run here as python3, on an
# LF-only file holding each of them, it gives the bytes of the manual page's
# iconv -c recipe.
python_recipe() {
  local recipe
  recipe=$(tr -d '\r' <"$folder/README.txt" | sed -n 's/^  > py -c \(.*\) enamdict enamdict\.sjs$/\1/p')
  [ -n "$recipe" ] || { echo "README.txt: no py -c command for enamdict"; return 1; }
  local euc=$scratch/recipe.euc sjs=$scratch/recipe.sjs
  printf 'a \xf4\xa5\xb0\xa1 /x/\n\xf4\xa6 \x8f\xb0\xa1\x8e\xb1\xa4\xa2\n' >"$euc"
  eval "python3 -c $recipe \"\$euc\" \"\$sjs\"" &&
    cmp "$sjs" <(iconv -c -f EUC-JP -t SHIFT_JIS "$euc" | sed 's/$/\r/')
}
check "README.txt's Python conversion gives the bytes of iconv -c" python_recipe

# Runs both programs of one folder under Wine in a fresh directory: the
# examples, tessmark's usage line and a refusal. Console text goes to files
# (not pipes: Wine's background programs may hold a pipe open), and each
# run's exit status to a list.
run_examples() {  # run_examples EXE_DIR DIR
  local n=0 tool args
  mkdir -p "$2" && cp "$top/examples/notes.euc" "$top/examples/sample.edict" "$2/" || return 1
  while read -r tool args; do
    n=$((n + 1))
    # shellcheck disable=SC2086  # the arguments are split on purpose
    (cd "$2" && wine "$1/$tool.exe" $args </dev/null >"$n.out" 2>"$n.err")
    echo "$tool${args:+ $args}: $?" >>"$2/statuses"
  done <<'EOF'
tessmark notes.euc
tessmark
corvane sample.edict
corvane missing
EOF
}
unpacked_runs() {
  run_examples "$build" "$scratch/expected" && run_examples "$folder" "$scratch/from-zip" &&
    diff -r "$scratch/expected" "$scratch/from-zip" || return 1
  cat "$scratch/from-zip/statuses"
  # The runs themselves did their work: the statuses are the documented
  # ones, and the output files exist.
  diff "$scratch/from-zip/statuses" - <<'EOF' &&
tessmark notes.euc: 0
tessmark: 0
corvane sample.edict: 0
corvane missing: 2
EOF
    [ -s "$scratch/from-zip/notes.SJS" ] && [ -s "$scratch/from-zip/sample.edict.IND" ]
}
check "the unpacked programs give the build's bytes under Wine" unpacked_runs

summary
