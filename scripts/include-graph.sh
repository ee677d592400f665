#!/usr/bin/env bash
# The include graph of the sources, folder by folder, drawn from the
# #include lines themselves: each folder's layer, then every arrow with the
# number of includes behind it, marked DOWN or UP. Exits 1 if an arrow runs
# up or across a layer.
#
#   scripts/include-graph.sh          the graph as text (docs/internals.md shows it)
#   scripts/include-graph.sh --dot    the same as Graphviz input (dot -Tsvg > graph.svg)
#
# The layers, lowest first, are the build's (TARNWICK_LAYERS in
# CMakeLists.txt). The backends (src/platform/*, with the two programs'
# mains), the guardian's mains and the stand-in sit above them all: they are
# what calls the core. tests/include_graph_check.sh keeps docs/internals.md's
# copy of the graph true.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exec python3 - "$root" "${1:-}" <<'PY'
import os, re, sys
from collections import Counter

root, mode = sys.argv[1], sys.argv[2]
cmake = open(os.path.join(root, "CMakeLists.txt")).read()
layers = re.search(r'set\(TARNWICK_LAYERS ((?:"[^"]*"\s*)+)\)', cmake).group(1)
layers = [l.split() for l in re.findall(r'"([^"]*)"', layers)]
names = ["base", "window", "seams", "station", "features", "assembly"]
rank = {d: i for i, ds in enumerate(layers) for d in ds}
shells = len(layers)

def folder(path):
    """The node of a source file: its core folder, or its backend folder."""
    parts = path.split("/")
    if parts[0] == "src" and parts[1] in rank and len(parts) == 3:
        return parts[1]
    if parts[0] == "src":
        return "/".join(parts[1:3])       # platform/linux, guard/windows, ...
    return parts[0]                       # nodesim, tools

def target(inc):
    first = inc.split("/")[0]
    if first in rank:
        return first
    if first == "platform" or first == "guard":
        return "/".join(inc.split("/")[:2])
    return first

edges = Counter()
for top in ("src", "nodesim"):
    for dirpath, _, files in os.walk(os.path.join(root, top)):
        for f in files:
            if not f.endswith((".h", ".cpp")):
                continue
            rel = os.path.relpath(os.path.join(dirpath, f), root)
            src = folder(rel)
            for line in open(os.path.join(dirpath, f), encoding="utf-8"):
                m = re.match(r'\s*#\s*include\s*"([A-Za-z_]+/[^"]+)"', line)
                if m:
                    to = target(m.group(1))
                    if to != src:
                        edges[(src, to)] += 1

def level(node):
    return rank.get(node, shells)

def direction(a, b):
    if a in rank and b in rank:
        return "down" if rank[b] < rank[a] else "UP"
    if b in rank or b == "wire":
        return "down"                     # a backend or the stand-in calls the core
    return "beside"                       # a backend's own helpers, the stand-in's faces

if mode == "--dot":
    print("digraph includes {\n  rankdir=TB; node [shape=box, fontname=monospace];")
    for i in range(shells, -1, -1):
        members = [n for n in {x for e in edges for x in e} if level(n) == i]
        print("  { rank=same; %s }" % " ".join('"%s";' % n for n in sorted(members)))
    for (a, b), n in sorted(edges.items()):
        print('  "%s" -> "%s" [label=%d%s];' % (a, b, n, ", color=red" if direction(a, b) == "UP" else ""))
    print("}")
    sys.exit(0)

up = 0
print("layer      folder             includes")
nodes = sorted({x for e in edges for x in e}, key=lambda n: (-level(n), n))
for n in nodes:
    out = sorted(((b, c) for (a, b), c in edges.items() if a == n), key=lambda e: (-level(e[0]), e[0]))
    name = "backends" if level(n) == shells else names[level(n)]
    arrows = ", ".join("%s %d%s" % (b, c, "" if direction(n, b) != "UP" else " UP") for b, c in out)
    up += sum(1 for b, _ in out if direction(n, b) == "UP")
    print("%-10s %-18s %s" % (name, n, arrows or "-"))
print()
print("every arrow of the core runs down" if up == 0 else "%d arrows run up or across a layer" % up)
sys.exit(1 if up else 0)
PY
