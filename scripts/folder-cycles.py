#!/usr/bin/env python3
"""Fails when folders include each other around a circle.

A folder is the first two components of a path (plugin/avi, platform/riff);
a file directly under a top folder belongs to that folder. Only quoted
includes of files in plugin/, platform/, hoststub/ and tools/ count, from
files in those same trees. With --graph, prints every folder edge.
"""
import pathlib
import re
import sys

TOPS = ("plugin", "platform", "hoststub", "tools")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
SUFFIXES = {".h", ".hpp", ".cpp", ".cc", ".c", ".inc"}


def folder(path):
    parts = path.split("/")
    return "/".join(parts[:2]) if len(parts) > 2 else parts[0]


def edges(root):
    found = {}
    for top in TOPS:
        for f in sorted((root / top).rglob("*")):
            if f.suffix not in SUFFIXES or not f.is_file():
                continue
            source = folder(f.relative_to(root).as_posix())
            for target in INCLUDE.findall(f.read_text(errors="replace")):
                if target.split("/")[0] not in TOPS:
                    continue
                to = folder(target)
                if to != source:
                    found.setdefault((source, to), f.relative_to(root).as_posix() + " -> " + target)
    return found


def circles(graph):
    """Strongly connected components of more than one folder (Tarjan)."""
    index, low, stack, on, out = {}, {}, [], set(), []
    nodes = sorted({a for a, _ in graph} | {b for _, b in graph})
    succ = {n: sorted(b for a, b in graph if a == n) for n in nodes}

    def visit(v):
        index[v] = low[v] = len(index)
        stack.append(v)
        on.add(v)
        for w in succ[v]:
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on.discard(w)
                component.append(w)
                if w == v:
                    break
            if len(component) > 1:
                out.append(sorted(component))

    sys.setrecursionlimit(10000)
    for n in nodes:
        if n not in index:
            visit(n)
    return out


def main():
    root = pathlib.Path(__file__).resolve().parent.parent
    graph = edges(root)
    if "--graph" in sys.argv:
        for a, b in sorted(graph):
            print(f"{a} -> {b}")
    bad = circles(graph)
    for component in bad:
        print("folders include each other around a circle: " + ", ".join(component))
        for (a, b), example in sorted(graph.items()):
            if a in component and b in component:
                print(f"  {a} -> {b}  (e.g. {example})")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
