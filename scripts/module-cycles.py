#!/usr/bin/env python3
"""Fails when source modules use each other in a circle.

    scripts/module-cycles.py BUILD_DIR COMPONENT... [--dot]

Reads the object files a build made for each component directory (tests
left out): module A depends on module B when A's object refers to a symbol
that B's object defines. A function defined in a header (inline or a
template) leaves no such trace once it is inlined, so the component's
headers are read too: module A depends on the module of header H when A's
source, or a header A's source includes, calls a function H defines and A's
source includes H. A header belongs to the module of its own name, else to
the module that defines most of the functions it names, else it is a module
of its own. Prints each circle with the symbols that close it and exits 1
when there is one. --dot prints the dependency graph instead (for
`dot -Tpng`)."""
import os
import re
import subprocess
import sys
from collections import Counter, defaultdict

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


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
    """Edges from the symbols of the objects; also the module that defines
    each function, by its plain name."""
    defined, used, functions = {}, defaultdict(set), {}
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
                if kind == 'T':
                    functions.setdefault(plain_name(symbol), module(obj))
    edges = defaultdict(lambda: defaultdict(list))
    for user, symbols in used.items():
        for symbol in symbols:
            owner = defined.get(symbol)
            if owner is not None and owner != user:
                edges[user][owner].append(symbol)
    return edges, functions


def plain_name(symbol):
    """The function's own name: corvexQueue_x for corvexQueue_x and for the
    mangled _Z13corvexQueue_xPv; f for ns::f (_ZN2ns1fEv)."""
    if not symbol.startswith('_Z'):
        return symbol
    rest, name = symbol[2:].lstrip('N'), symbol
    while rest[:1].isdigit():
        digits = re.match(r'\d+', rest).group()
        end = len(digits) + int(digits)
        name, rest = rest[len(digits):end], rest[end:]
    return name


COMMENT = re.compile(r'/\*.*?\*/|//[^\n]*|"(?:\\.|[^"\\\n])*"', re.S)
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)
# A function defined in a header: `inline` or a template, a name, its
# parameters, then (past const and attributes) its body.
HEADER_FUNCTION = re.compile(
    r'(?:\binline\b|\btemplate\s*<[^;{}>]*>)[^;{}()]*?\b([A-Za-z_]\w*)\s*\(')
CALL = re.compile(r'\b([A-Za-z_]\w*)\s*\(')


def code(path):
    """The file's text without comments and string literals, its includes
    kept as `#include "name"` lines."""
    with open(path, encoding='utf-8', errors='replace') as f:
        text = f.read()
    kept = ''.join(f'#include "{name}"\n' for name in INCLUDE.findall(text))
    return kept + COMMENT.sub(' ', text)


def body_follows(text, start):
    """Whether the parameter list opening at text[start] is followed by a
    body rather than a semicolon."""
    depth = 0
    for i in range(start, len(text)):
        if text[i] == '(':
            depth += 1
        elif text[i] == ')':
            depth -= 1
            if depth == 0:
                rest = re.match(r'[^;{]*', text[i + 1:]).group()
                return i + 1 + len(rest) < len(text) and text[i + 1 + len(rest)] == '{'
    return False


def defined_in(text):
    """The functions a header's (or a source's) text defines inline."""
    return {m.group(1) for m in HEADER_FUNCTION.finditer(text) if body_follows(text, m.end() - 1)}


def header_edges(build, component, objs, nodes, functions, edges):
    """Adds to `edges` the uses of functions that the component's headers
    define; returns the modules it added."""
    sources = {}
    for obj in objs:
        relative = os.path.relpath(obj, build).split('.dir' + os.sep, 1)
        if len(relative) == 2:
            source = os.path.join(ROOT, component, relative[1][:-len('.o')])
            if os.path.isfile(source):
                sources[module(obj)] = source
    headers = {}
    for root, _, files in os.walk(os.path.join(ROOT, component)):
        if 'test' in os.path.relpath(root, ROOT).lower():
            continue
        headers.update({f: os.path.join(root, f) for f in files if f.endswith('.h')})
    texts = {name: code(path) for name, path in headers.items()}

    def includes(text, seen):
        for name in INCLUDE.findall(text):
            name = os.path.basename(name)
            if name in texts and name not in seen:
                seen.add(name)
                includes(texts[name], seen)
        return seen

    def owner(name):
        stem = name[:-len('.h')]
        if stem in nodes:
            return stem
        named = Counter(functions[f] for f in CALL.findall(texts[name]) if f in functions)
        return named.most_common(1)[0][0] if named else stem

    defines, own = {}, {}
    for name, text in texts.items():
        own[name] = defined_in(text)
        for function in own[name]:
            defines.setdefault(function, name)
    added = set()
    for user, source in sources.items():
        text = code(source)
        seen = includes(text, set())
        # What the source calls, and what the bodies of the headers it
        # includes call, a header's own definitions left out.
        called = set(CALL.findall(text)) - defined_in(text)
        for name in seen:
            called |= set(CALL.findall(texts[name])) - own[name]
        for function in called:
            header = defines.get(function)
            if header is None or header not in seen:
                continue
            target = owner(header)
            if target != user:
                edges[user][target].append(function)
                added.add(target)
    return added


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
        edges, functions = graph(objs)
        nodes |= header_edges(build, component, objs, nodes, functions, edges)
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
