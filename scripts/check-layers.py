#!/usr/bin/env python3
"""check-layers.py <build tree>: the plug-in's layers point down only.

Four graphs must have no cycle: the folders, by the "folder/..." includes of their sources;
the files, taking a.cpp and a.h as one file a, by the same includes (a.cpp including b.h
while b.cpp includes a.h is a circle, whatever the folders); and the plug-in's static
libraries in the build tree and the files' objects in them, by which one defines each
symbol that another leaves undefined (read with objdump's symbol tables). An object whose
source has no header of its own implements its folder's shared headers: it counts as the
folder's "*" file."""
import os, re, subprocess, sys

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
folders = ["base", "trace", "winhook", "mailview", "mailview/mailtext/common", "mailview/mailtext/mime",
           "mailview/mailtext/html", "mailview/mailtext/headers", "dialogfix", "resources", "plugin"]


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


def includes():
    """(including file, included file) for every "folder/..." include of the sources."""
    for f in folders:
        for name in sorted(os.listdir(os.path.join(root, f))):
            if not re.search(r"\.(cpp|h)$", name):
                continue
            with open(os.path.join(root, f, name), encoding="utf-8") as source:
                for target in re.findall(r'^#include "([^"]+)"', source.read(), re.M):
                    if folder_of(target):
                        yield f + "/" + name, target


def include_graph():
    edges = {}
    for source, target in includes():
        if folder_of(source) != folder_of(target):
            edges.setdefault(folder_of(source), set()).add(folder_of(target))
    return edges


def file_include_graph():
    edges = {}
    for source, target in includes():
        a, b = os.path.splitext(source)[0], os.path.splitext(target)[0]
        if a != b:
            edges.setdefault(a, set()).add(b)
    return edges


def object_file(member):
    """The file an object of a library stands for: "folder/name" of its source when that has
    a header of its own, else "folder/*"; None for a source outside the layers."""
    m = re.match(r"(\w+)\.(?:cpp|c|rc)\.obj$", member)
    if not m:
        return None
    for f in sorted(folders, key=len, reverse=True):
        if os.path.exists(os.path.join(root, f, m.group(1) + ".cpp")):
            return f + "/" + (m.group(1) if os.path.exists(os.path.join(root, f, m.group(1) + ".h")) else "*")
    return None


def object_symbols(tree, objdump):
    """{(library, object): (defined, undefined)} of the plug-in's static and object libraries."""
    objects = {}
    for dirpath, _, names in os.walk(tree):
        for name in names:
            if re.match(r"lib(velmora_\w+|mailtext\w*)\.a$", name) and "googletest" not in dirpath:
                lib = name[3:-2]
                if lib.startswith("velmora_test") or lib.startswith("velmora_bench"):
                    continue
                out = subprocess.run([objdump, "-t", os.path.join(dirpath, name)], capture_output=True,
                                     text=True, check=True).stdout
                read_symbols(objects, lib, out)
            # An object library (the entry points) has no archive: its objects stand alone.
            m = re.search(r"CMakeFiles/(velmora_\w+)\.dir$", dirpath)
            if m and name.endswith(".obj") and not os.path.exists(
                    os.path.join(os.path.dirname(os.path.dirname(dirpath)), "lib%s.a" % m.group(1))) \
                    and not re.match(r"velmora_(test|bench)", m.group(1)):
                out = subprocess.run([objdump, "-t", os.path.join(dirpath, name)], capture_output=True,
                                     text=True, check=True).stdout
                read_symbols(objects, m.group(1), out)
    return objects


def read_symbols(objects, lib, out):
    """Adds the external symbols objdump -t gives for each object, defined and undefined."""
    symbols = None
    for line in out.splitlines():
        member = re.match(r"^(\S+\.obj):\s+file format", line)
        if member:
            symbols = objects.setdefault((lib, os.path.basename(member.group(1))), (set(), set()))
            continue
        m = re.search(r"\(sec\s+(-?\d+)\).*\(scl\s+(\d+)\)\s+\(nx \d+\) 0x[0-9a-f]+ (\S+)$", line)
        if symbols is None or not m or m.group(2) != "2":   # external symbols only
            continue
        symbols[1 if m.group(1) == "0" else 0].add(m.group(3))


def symbol_graph(objects, node_of):
    """Which node defines a symbol that another node leaves undefined; node_of(lib, object)."""
    defined, undefined = {}, {}
    for (lib, member), (defs, undefs) in objects.items():
        node = node_of(lib, member)
        if node:
            defined.setdefault(node, set()).update(defs)
            undefined.setdefault(node, set()).update(undefs)
    owner = {}
    for node, symbols in sorted(defined.items()):
        for symbol in symbols:
            owner.setdefault(symbol, node)
    edges = {}
    for node, symbols in undefined.items():
        for symbol in symbols:
            other = owner.get(symbol)
            if other and other != node and symbol not in defined.get(node, ()):
                edges.setdefault(node, set()).add(other)
    return edges


def main():
    tree = sys.argv[1]
    objdump = sys.argv[2] if len(sys.argv) > 2 else "i686-w64-mingw32-objdump"
    status = 0
    objects = object_symbols(tree, objdump)
    for what, edges in (("folders", include_graph()), ("files", file_include_graph()),
                        ("libraries", symbol_graph(objects, lambda lib, member: lib)),
                        ("files' objects", symbol_graph(objects, lambda lib, member: object_file(member)))):
        found = cycle(edges)
        if not found:
            print("%s: %s" % (what, "; ".join("%s -> %s" % (k, ", ".join(sorted(v))) for k, v in sorted(edges.items()))))
        while found:
            print("check-layers: the %s depend on each other: %s" % (what, " -> ".join(found)))
            status = 1
            # Every circle is named: this one's last step is left out to find the next.
            edges[found[-2]].discard(found[-1])
            found = cycle(edges)
    return status


sys.exit(main())
