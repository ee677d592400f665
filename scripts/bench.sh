#!/usr/bin/env bash
# Runs the benchmarks of a build, each with the session services it needs.
# Usage: bench.sh BUILD_DIR
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-test}
with="$root/tests/support/with-session.sh"
status=0
for b in "$build"/bench/bench_*; do
  [[ -f "$b" && -x "$b" ]] || continue
  echo "-- $(basename "$b")"
  "$with" --bus --display --pulse "$b" || status=1
done
exit $status
