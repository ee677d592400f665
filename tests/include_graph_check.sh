#!/usr/bin/env bash
# The include graph drawn from the sources has no arrow up a layer, and
# docs/internals.md shows that very graph (between its include-graph
# markers): a new arrow between folders means redrawing it
# (scripts/include-graph.sh).
set -euo pipefail
root=${1:?usage: include_graph_check.sh SOURCE_DIR}
drawn=$(bash "$root/scripts/include-graph.sh") || { echo "$drawn"; echo "FAIL: an include runs up a layer"; exit 1; }
shown=$(sed -n '/<!-- include-graph -->/,/<!-- \/include-graph -->/p' "$root/docs/internals.md" | sed '1,2d;$d' | sed '$d')
if [[ "$drawn" != "$shown" ]]; then
  diff <(echo "$shown") <(echo "$drawn") || true
  echo "FAIL: docs/internals.md shows an older include graph; paste scripts/include-graph.sh's output there"
  exit 1
fi
echo "PASS: every arrow runs down, and docs/internals.md shows the graph of today"
