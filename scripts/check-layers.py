#!/usr/bin/env python3
"""check-layers.py <build tree>: the plug-in's layers point down only.

Two graphs must have no cycle: the folders, by the "folder/..." includes of their sources,
and the plug-in's static libraries in the build tree, by which library defines each
symbol that another one leaves undefined (read with objdump's symbol tables)."""
import os, re, subprocess, sys

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
folders = ["base", "trace", "winhook", "mailview", "mailview/mailtext", "dialogfix", "resources", "plugin"]


def folder_of(path):
    best = None
    for f in folders:
        if path == f or path.startswith(f + "/"):
            if best is None or len(f) > len(best):
                best = f
    return best


def cycle(edges):
    """A cycle of the graph as a list of nodes, or None."""
    state = {}
    stack = []

    def visit(node):
        state[node] = 1
        stack.append(node)
        for nxt in sorted(edges.get(node, ())):
            if state.get(nxt) == 1:
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt)
                if found:
                    return found
        stack.pop()
        state[node] = 2
        return None

    for node in sorted(edges):
        if node not in state:
            found = visit(node)
            if found:
                return found
    return None


def include_graph():
    edges = {}
    for f in folders:
        for name in os.listdir(os.path.join(root, f)):
            if not re.search(r"\.(cpp|h)$", name):
                continue
            with open(os.path.join(root, f, name), encoding="utf-8") as source:
                for target in re.findall(r'^#include "([^"]+)"', source.read(), re.M):
                    other = folder_of(target)
                    if other and other != f:
                        edges.setdefault(f, set()).add(other)
    return edges


def library_graph(tree, objdump):
    defined, undefined = {}, {}
    for dirpath, _, names in os.walk(tree):
        for name in names:
            if re.match(r"lib(velmora_\w+|mailtext)\.a$", name) and "googletest" not in dirpath:
                lib = name[3:-2]
                if lib.startswith("velmora_test") or lib.startswith("velmora_bench"):
                    continue
                out = subprocess.run([objdump, "-t", os.path.join(dirpath, name)], capture_output=True,
                                     text=True, check=True).stdout
                for line in out.splitlines():
                    m = re.search(r"\(sec\s+(-?\d+)\).*\(scl\s+(\d+)\)\s+\(nx \d+\) 0x[0-9a-f]+ (\S+)$", line)
                    if not m or m.group(2) != "2":   # external symbols only
                        continue
                    (undefined if m.group(1) == "0" else defined).setdefault(lib, set()).add(m.group(3))
    owner = {}
    for lib, symbols in defined.items():
        for symbol in symbols:
            owner.setdefault(symbol, lib)
    edges = {}
    for lib, symbols in undefined.items():
        for symbol in symbols:
            other = owner.get(symbol)
            if other and other != lib and symbol not in defined.get(lib, ()):
                edges.setdefault(lib, set()).add(other)
    return edges


def main():
    tree = sys.argv[1]
    objdump = sys.argv[2] if len(sys.argv) > 2 else "i686-w64-mingw32-objdump"
    status = 0
    for what, edges in (("folders", include_graph()), ("libraries", library_graph(tree, objdump))):
        found = cycle(edges)
        if found:
            print("check-layers: the %s depend on each other: %s" % (what, " -> ".join(found)))
            status = 1
        else:
            print("%s: %s" % (what, "; ".join("%s -> %s" % (k, ", ".join(sorted(v))) for k, v in sorted(edges.items()))))
    return status


sys.exit(main())
