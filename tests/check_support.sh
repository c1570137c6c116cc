# shellcheck shell=bash disable=SC2154  # the variables below come from the caller
# Helpers shared by the shell checks (ship_check.sh, zip_check.sh), sourced
# after they set `tag`, the word that starts every line they print ("ship",
# "zip"). Sets:
#   scratch   a scratch directory, removed at exit, for the checks' files
#   in_ci     true when CI=true: a missing tool is then a failure
#   version   the project's version
passed=0
failed=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
in_ci=false
[ "${CI:-}" = true ] && in_ci=true
# The version, read where it is written once: the project() line of the
# top-level CMakeLists.txt.
version=$(sed -n 's/^project([^ ]* VERSION \([0-9.]*\).*/\1/p' "$(dirname "${BASH_SOURCE[0]}")/../CMakeLists.txt")
# check NAME COMMAND...: runs the command with its output in a log, which is
# shown only when the command fails.
check() {
  local name=$1
  shift
  local log=$scratch/log
  if "$@" >"$log" 2>&1; then
    passed=$((passed + 1))
    echo "$tag: ok   $name"
  else
    failed=$((failed + 1))
    echo "$tag: FAIL $name"
    sed 's/^/    /' "$log"
  fi
}
# needs TOOL: true when TOOL is present; otherwise a skip message, or a
# failure in CI.
needs() {
  command -v "$1" >/dev/null && return 0
  if $in_ci; then
    failed=$((failed + 1))
    echo "$tag: FAIL $1 is missing (required in CI)"
  else
    echo "$tag: skip checks that need $1 (not installed)"
  fi
  return 1
}
# summary: the last line, "TAG: N passed, M failed"; false when any failed.
summary() {
  echo "$tag: $passed passed, $failed failed"
  [ "$failed" = 0 ]
}
