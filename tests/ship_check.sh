#!/usr/bin/env bash
# Checks what a user of the tools gets: the install rules, the Debian
# package, the manual pages, the example index reader and the commands of the
# README. Builds its own Release tree in build-ship; everything else happens
# in a scratch directory that is removed at the end.
#
#   bash tests/ship_check.sh
#
# Ends with "ship: N passed, M failed" and a non-zero status when any check
# failed. Tools that a check needs (mandoc, lintian, Debian's edict) are
# required when CI=true and skipped with a message otherwise.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build-ship
# The package is built here for this machine, so it bears dpkg's name for it.
arch=$(dpkg --print-architecture)

tag=ship
# shellcheck source=tests/check_support.sh
source "$top/tests/check_support.sh"
deb=$build/dictionary-tools_${version}_$arch.deb

# ---------------------------------------------------------------- build
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null &&
  cmake --build "$build" -j2 >/dev/null || { echo "ship: build failed"; exit 1; }

# ---------------------------------------------------------------- install
prefix=$scratch/prefix
install_tree() {
  cmake --install "$build" --prefix "$prefix" >/dev/null || return 1
  local doc=share/doc/dictionary-tools
  diff <(cd "$prefix" && find . -type f | sort) - <<EOF
./bin/corvane
./bin/tessmark
./$doc/README.md
./$doc/changelog.gz
./$doc/copyright
./$doc/differences.md
./$doc/examples/index_reader.py
./$doc/examples/notes.euc
./$doc/examples/sample.edict
./share/lintian/overrides/dictionary-tools
./share/man/man1/corvane.1.gz
./share/man/man1/tessmark.1.gz
EOF
}
check "cmake --install puts programs, manual pages and docs in place" install_tree

# Debian wants manual pages compressed with gzip -9n: the same text, no name
# and no time stamp in the header (so that rebuilds give the same bytes).
man_gzipped() {
  local page gz
  for page in corvane.1 tessmark.1; do
    gz=$prefix/share/man/man1/$page.gz
    cmp <(gzip -dc "$gz") "$top/man/$page" || return 1
    # Header bytes 3-8: flags (no FNAME bit), four bytes of mtime (zero),
    # extra flags (2 = best compression).
    [ "$(od -An -tx1 -j3 -N6 "$gz" | tr -d ' ')" = 000000000002 ] ||
      { echo "$gz: header $(od -An -tx1 -N10 "$gz")"; return 1; }
  done
}
check "manual pages are gzipped -9n and unchanged" man_gzipped

# ---------------------------------------------------------------- manual pages
groff_clean() {
  local page out
  for page in "$top"/man/*.1; do
    out=$(groff -man -ww -z "$page" 2>&1) || return 1
    [ -z "$out" ] || { echo "$page: $out"; return 1; }
  done
}
check "groff -man -ww -z: no warnings" groff_clean
if needs mandoc; then
  mandoc_clean() {
    local out
    out=$(mandoc -T lint "$top"/man/*.1 2>&1) || { echo "$out"; return 1; }
    [ -z "$out" ] || { echo "$out"; return 1; }
  }
  check "mandoc -T lint: no messages" mandoc_clean
fi

has_sections() {
  local page=$top/man/$1.1 section
  for section in NAME SYNOPSIS DESCRIPTION "NOTES FOR UNIX USERS" "CONSOLE MESSAGES" FILES \
      "EXIT STATUS" "DIFFERENCES FROM THE ORIGINAL DESIGN" EXAMPLES "SEE ALSO"; do
    grep -qx "\.SH \"*$section\"*" "$page" || { echo "$page: no section $section"; return 1; }
  done
  grep -q '^\.BR iconv (1)' "$page" || { echo "$page: SEE ALSO lacks iconv(1)"; return 1; }
}
check "corvane.1 has every section" has_sections corvane
check "tessmark.1 has every section" has_sections tessmark

# Each message the programs print must appear in their manual page. The
# messages are taken from real runs, so a changed message or a page that
# lost one fails here. Rendered text is compared with runs of white space
# made one space, so line filling does not matter.
render() {
  groff -man -Tascii -rHY=0 -P-cbou "$top/man/$1.1" 2>/dev/null | tr -s ' \n' '  '
}
documented() {  # documented TOOL STATUS MESSAGE -- ARGUMENTS...
  local tool=$1 status=$2 message=$3 got
  shift 4
  (cd "$scratch/run" && "$build/$tool" "$@") >"$scratch/out" 2>&1
  got=$?
  [ "$got" = "$status" ] || { echo "exit status $got, not $status"; cat "$scratch/out"; return 1; }
  grep -qF -- "$message" "$scratch/out" || { echo "not printed:"; cat "$scratch/out"; return 1; }
  render "$tool" | grep -qF -- "$(printf '%s' "$message" | tr -s ' ' ' ')" ||
    { echo "not in $tool.1: $message"; return 1; }
}
mkdir -p "$scratch/run"
cp "$top/examples/notes.euc" "$top/examples/sample.edict" "$scratch/run/"
: >"$scratch/run/empty"
printf 'no-space-here\n' >"$scratch/run/bad"
while IFS='|' read -r tool status message args; do
  # shellcheck disable=SC2086  # the arguments are split on purpose
  check "$tool.1 documents: $message" documented "$tool" "$status" "$message" -- $args
done <<'EOF'
corvane|0|Corvane Test v0.2|sample.edict
corvane|0|Loading: [|sample.edict
corvane|0|Writing... done!|sample.edict
corvane|2|Error while opening file or file not found: |missing
corvane|2|File empty|empty
corvane|2|Invalid dictionary format.|bad
tessmark|0|Tessmark v1.0|
tessmark|0|USAGE: Tessmark inputfilename.euc outputfilename.sjs|
tessmark|0|Converting... done!|notes.euc
tessmark|2|Can not open/creat file: |missing.euc
tessmark|1|Exception EInOutError in module tessmark at |notes.euc /dev/full
tessmark|1|I/O error 112.|notes.euc /dev/full
EOF

# ---------------------------------------------------------------- package
package_fields() {
  (cd "$build" && cpack -G DEB >/dev/null) || return 1
  local field want got
  while IFS='=' read -r field want; do
    got=$(dpkg-deb -f "$deb" "$field")
    [[ $got == $want ]] || { echo "$field: '$got', wanted '$want'"; return 1; }
  done <<EOF
Package=dictionary-tools
Architecture=$arch
Version=$version
Maintainer=Dictionary Tools Developers <dictionary-tools@example.org>
Section=text
Depends=*libc6 (>= *libstdc++6*
Suggests=edict, enamdict, kanjidic
Description=*EDICT*tessmark converts*
EOF
}
check "cpack -G DEB: control fields" package_fields

root=$scratch/root
# Runs both programs of one installation on the examples in a fresh
# directory; the console output and the files written go to DIR.
run_examples() {  # run_examples BIN_DIR DIR
  mkdir -p "$2"
  cp "$top/examples/notes.euc" "$top/examples/sample.edict" "$2/"
  (cd "$2" && "$1/tessmark" notes.euc >tessmark.out && "$1/corvane" sample.edict >corvane.out)
}
same_as_build() {  # same_as_build BIN_DIR NAME
  run_examples "$build" "$scratch/expected" &&
    run_examples "$1" "$scratch/$2" &&
    diff -r "$scratch/expected" "$scratch/$2"
}
unpacked_runs() {
  dpkg -x "$deb" "$root" || return 1
  diff <(cd "$prefix" && find . -type f | sort) <(cd "$root/usr" && find . -type f | sort) ||
    return 1
  # CPack strips the programs; cmake --install does not.
  ! file "$root/usr/bin/corvane" "$root/usr/bin/tessmark" | grep -v ', stripped'
}
check "the package holds what cmake --install does, stripped" unpacked_runs
# The copyright file names the holder of LICENSE under License: Expat, and
# its standalone Expat paragraph is LICENSE's text from "Permission" on,
# indented one space, with " ." for an empty line.
copyright_expat() {
  local file=$root/usr/share/doc/dictionary-tools/copyright
  grep -qx "Copyright: $(sed -n 's/^Copyright (c) //p' "$top/LICENSE")" "$file" ||
    { echo "no holder line of LICENSE"; cat "$file"; return 1; }
  [ "$(grep -cx 'License: Expat' "$file")" = 2 ] ||
    { echo "License: Expat is not named twice"; cat "$file"; return 1; }
  diff <(awk '/^License: Expat$/ { n++; next } n == 2' "$file") \
    <(sed -n '/^Permission/,$p' "$top/LICENSE" | sed 's/^$/./; s/^/ /')
}
check "the copyright file says License: Expat and carries its text" copyright_expat
check "programs from cmake --install give the build's bytes" same_as_build "$prefix/bin" from-prefix
check "programs from the package give the build's bytes" same_as_build "$root/usr/bin" from-deb
installed_reader() {
  python3 "$root/usr/share/doc/dictionary-tools/examples/index_reader.py" \
    "$scratch/from-deb/sample.edict" -f 見本 | grep -qx '  gloss:    (n) sample'
}
check "the installed index reader reads the installed corvane's index" installed_reader

# The programs carry Debian's hardening, read off the packaged, stripped
# files: PIE, full RELRO (a read-only segment after relocation, and every
# symbol bound at start), the stack protector and checked calls. The flags
# come from dpkg-buildflags, so without it there is nothing to check.
if needs dpkg-buildflags; then
  hardened() {
    local program feature option pattern
    for program in corvane tessmark; do
      while IFS='|' read -r feature option pattern; do
        grep -Eq -- "$pattern" <(readelf -W "$option" "$root/usr/bin/$program") ||
          { echo "$program: no $feature"; return 1; }
      done <<'EOF'
PIE|--dynamic|\(FLAGS_1\).* PIE
BIND_NOW|--dynamic|\(FLAGS\).* BIND_NOW
RELRO|--program-headers|GNU_RELRO
stack protector|--dyn-syms| __stack_chk_fail@
fortified calls|--dyn-syms| __[a-z0-9_]+_chk@
EOF
    done
  }
  check "the packaged programs are hardened: PIE, BIND_NOW, RELRO, stack protector, fortify" hardened
fi
# Every tag lintian finds, at every level, is overridden in the package with
# its reason, which lintian shows as N: lines before the O: line.
if needs lintian; then
  lintian_clean() {
    lintian --pedantic -I --show-overrides "$deb" 2>&1 |
      awk '/running with root privileges/ { next }
           /^O:/ && last !~ /^N:/ { print "no reason given: " $0; bad = 1 }
           !/^[NO]:/ { print; bad = 1 }
           { last = $0 }
           END { exit bad }'
  }
  check "lintian --pedantic -I: no tag but those overridden with a reason" lintian_clean
fi
if command -v apt-get >/dev/null; then
  check "apt-get can resolve the package's dependencies" apt-get install -s "$deb"
fi

# ---------------------------------------------------------------- index reader
check "index reader tests" env CORVANE="$build/corvane" python3 "$top/tests/index_reader_test.py"

# ---------------------------------------------------------------- README
# Every ```sh block in the README is preceded by a marker comment that says
# how it is checked. Blocks marked "run" are run here, in order, from the top
# of the checkout, with HOME in the scratch directory (so that ~/dict and
# ~/.local are scratch too). The block marked "run as root in CI only"
# installs the package system-wide, so it runs only in CI as root.
readme_blocks() {  # writes block files $scratch/readme/NN.KIND and lists them
  mkdir -p "$scratch/readme"
  awk -v dir="$scratch/readme" '
    /^<!-- checked: / { kind = $0; sub(/^<!-- checked: /, "", kind); sub(/ -->$/, "", kind); next }
    /^```sh$/ { n++; if (kind == "") { print "unmarked block " n > "/dev/stderr"; bad = 1 }
                file = sprintf("%s/%02d", dir, n); print kind > (file ".kind"); inblock = 1; kind = ""; next }
    /^```$/ && inblock { inblock = 0; close(file ".sh"); next }
    inblock { print > (file ".sh") }
    END { exit bad }' "$top/README.md"
}
check "every command block in the README is marked" readme_blocks
ls "$scratch/readme"/*.sh >/dev/null 2>&1 || echo "ship: no README blocks found"
mkdir -p "$scratch/home"
# The README's commands use the tools of build/, which tests/run.sh makes;
# run alone, this script builds what they need.
if [ ! -x "$top/build/corvane" ] || [ ! -f "$top/build/man/corvane.1.gz" ]; then
  cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null &&
    cmake --build "$top/build" -j2 --target tessmark corvane dict_compressed_docs >/dev/null
fi
run_block() {
  (cd "$top" && HOME=$scratch/home bash -euo pipefail "$1")
}
for block in "$scratch/readme"/*.sh; do
  [ -e "$block" ] || continue
  kind=$(cat "${block%.sh}.kind")
  first=$(head -n 1 "$block")
  case $kind in
    run)
      if grep -q /usr/share/edict/edict "$block" && [ ! -e /usr/share/edict/edict ] && ! $in_ci; then
        echo "ship: skip README: $first (no /usr/share/edict/edict)"
        continue
      fi
      check "README: $first" run_block "$block" ;;
    "run as root in CI only"*)
      if $in_ci && [ "$(id -u)" = 0 ]; then
        check "README: $first" run_block "$block"
      else
        echo "ship: skip README: $first (installs system-wide: CI as root only)"
      fi ;;
    *) echo "ship: README: $first ($kind)" ;;
  esac
done

summary
