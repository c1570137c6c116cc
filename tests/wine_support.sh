# shellcheck shell=bash
# Windows programs under Wine, for tests/run.sh and tests/zip_check.sh.
#
# start_wine PREFIX: Wine in a prefix of its own, made on first use, with one
# server for the whole run (a server left from an earlier run of the prefix
# is stopped first) and Wine's own background programs started here: they
# would otherwise keep the first test's output open, and ctest waits for it.
# The caller stops the server with `wineserver -k` when it is done.
start_wine() {
  export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
  wineserver -k >/dev/null 2>&1 || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
  fi
  wineserver -p </dev/null >/dev/null 2>&1
  wine wineboot </dev/null >/dev/null 2>&1
}
