#!/usr/bin/env bash
# Runs a Windows program under Wine in the given prefix and waits for it:
#   wine-run.sh PREFIX_DIR PROGRAM.exe [ARGS...]
# The prefix is made on first use (scripts/wine-env.sh). Afterwards the
# prefix's Wine server is stopped, so that nothing of this run (a left-over
# window, a desktop process tied to a display that is about to go) reaches
# the next one. The exit status is the program's.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
prefix=${1:?usage: wine-run.sh PREFIX_DIR PROGRAM.exe [ARGS...]}
shift
# shellcheck source=../../scripts/wine-env.sh
source "$root/scripts/wine-env.sh" "$prefix"
wine "$@"
rc=$?
wineserver -k >/dev/null 2>&1 || true
exit $rc
