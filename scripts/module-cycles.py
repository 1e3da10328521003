#!/usr/bin/env python3
"""Fails when source modules use each other in a circle.

    scripts/module-cycles.py BUILD_DIR COMPONENT... [--dot]

Reads the object files a build made for each component directory (tests
left out): module A depends on module B when A's object refers to a symbol
that B's object defines. Prints each circle with the symbols that close it
and exits 1 when there is one. --dot prints the dependency graph instead
(for `dot -Tpng`)."""
import os
import subprocess
import sys
from collections import defaultdict


def objects(build, component):
    found = []
    for root, _, files in os.walk(os.path.join(build, component)):
        if 'test' in os.path.relpath(root, build).lower():
            continue
        found += [os.path.join(root, f) for f in files
                  if f.endswith('.o') and 'test' not in f.lower()]
    return found


def module(path):
    name = os.path.basename(path)
    for suffix in ('.cpp.o', '.c.o', '.o'):
        if name.endswith(suffix):
            return name[:-len(suffix)]
    return name


def graph(objs):
    defined, used = {}, defaultdict(set)
    for obj in objs:
        table = subprocess.run(['nm', '--format=posix', obj], capture_output=True,
                               text=True, check=True).stdout
        for line in table.splitlines():
            fields = line.split(' ')
            if len(fields) < 2:
                continue
            symbol, kind = fields[0], fields[1]
            if kind == 'U':
                used[module(obj)].add(symbol)
            elif kind in 'TDBRVW':
                defined.setdefault(symbol, module(obj))
    edges = defaultdict(lambda: defaultdict(list))
    for user, symbols in used.items():
        for symbol in symbols:
            owner = defined.get(symbol)
            if owner is not None and owner != user:
                edges[user][owner].append(symbol)
    return edges


def circles(nodes, edges):
    """Strongly connected groups of two or more modules (Tarjan)."""
    index, low, stack, on_stack, groups = {}, {}, [], set(), []

    def visit(v):
        index[v] = low[v] = len(index)
        stack.append(v)
        on_stack.add(v)
        for w in edges.get(v, {}):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            group = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                group.append(w)
                if w == v:
                    break
            if len(group) > 1:
                groups.append(sorted(group))

    sys.setrecursionlimit(10000)
    for v in sorted(nodes):
        if v not in index:
            visit(v)
    return groups


def readable(symbols):
    names = subprocess.run(['c++filt'], input='\n'.join(symbols), capture_output=True,
                           text=True).stdout.split('\n')
    return [n.split('(')[0] for n in names if n]


def main(argv):
    dot = '--dot' in argv
    args = [a for a in argv if a != '--dot']
    if len(args) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    build, components = args[0], args[1:]
    status = 0
    if dot:
        print('digraph modules {\n  rankdir=TB; node [shape=box];')
    for component in components:
        objs = objects(build, component)
        if not objs:
            print(f'{component}: no objects under {build}', file=sys.stderr)
            return 2
        nodes = {module(o) for o in objs}
        edges = graph(objs)
        if dot:
            print(f'  subgraph "cluster_{component}" {{ label="{component}";')
            for user in sorted(edges):
                for owner in sorted(edges[user]):
                    print(f'    "{user}" -> "{owner}";')
            print('  }')
            continue
        found = circles(nodes, edges)
        for group in found:
            status = 1
            print(f'{component}: circle of {len(group)}: {", ".join(group)}')
            members = set(group)
            for user in group:
                for owner in sorted(set(edges[user]) & members):
                    print(f'  {user} -> {owner}: {", ".join(readable(sorted(edges[user][owner])[:3]))}')
        if not found:
            print(f'{component}: no circles among {len(nodes)} modules')
    if dot:
        print('}')
    return status


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
