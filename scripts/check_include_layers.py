#!/usr/bin/env python3
"""Fails when two source folders include each other, directly or through others, and when
two top-level folders do.

A source folder is a folder of the tree that holds .cpp/.h/.c files (fits/convert, orlix,
orlix/viewer, monodrv/api, ...). Every `#include "a/b/c.h"` line names the folder of the
included file; the folders and these edges make a graph that must have no cycle, so that
dependencies point one way. The same holds for the top-level folders (fits, orlix, programs,
...), each standing for everything below it: the layers a reader sees first.
Usage: check_include_layers.py SOURCE_ROOT
"""
import os
import re
import sys

ROOTS = ("fits", "orlix", "monodrv", "telx32", "emulator", "programs")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
SUFFIXES = (".cpp", ".h", ".c")


def source_files(root):
    for top in ROOTS:
        for folder, _, names in os.walk(os.path.join(root, top)):
            for name in names:
                if name.endswith(SUFFIXES):
                    yield os.path.join(folder, name)


def include_edges(root):
    """(folder, included folder, file) for every quoted include that leaves its folder."""
    edges = []
    for path in source_files(root):
        folder = os.path.relpath(os.path.dirname(path), root)
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f:
                m = INCLUDE.match(line)
                if not m:
                    continue
                target = m.group(1)
                # Includes relative to the root name a folder; plain names stay in the folder
                # or come from a public include directory (monodrv.h, telx32.h).
                if "/" not in target:
                    continue
                included = os.path.dirname(os.path.normpath(target))
                if not os.path.isdir(os.path.join(root, included)):
                    continue
                if included != folder:
                    edges.append((folder, included, os.path.relpath(path, root)))
    return edges


def find_cycle(edges):
    graph = {}
    for a, b, _ in edges:
        graph.setdefault(a, set()).add(b)
    state = {}
    stack = []

    def visit(node):
        state[node] = 1
        stack.append(node)
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == 1:
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt)
                if found:
                    return found
        stack.pop()
        state[node] = 2
        return None

    for node in sorted(graph):
        if node not in state:
            found = visit(node)
            if found:
                return found
    return None


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    edges = include_edges(root)
    tops = [(a.split(os.sep)[0], b.split("/")[0], f) for a, b, f in edges]
    tops = [(a, b, f) for a, b, f in tops if a != b]
    for what, graph in (("include cycle", edges), ("top-level include cycle", tops)):
        cycle = find_cycle(graph)
        if cycle:
            print(f"{what}: " + " -> ".join(cycle))
            for a, b in zip(cycle, cycle[1:]):
                files = sorted({f for x, y, f in graph if x == a and y == b})
                print(f"  {a} -> {b}: {', '.join(files)}")
            return 1
    folders = {e[0] for e in edges} | {e[1] for e in edges}
    print(f"no include cycle among {len(folders)} folders and "
          f"{len({t[0] for t in tops} | {t[1] for t in tops})} top-level folders")
    return 0

if __name__ == "__main__":
    sys.exit(main())
