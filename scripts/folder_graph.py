#!/usr/bin/env python3
"""Prints which product folder includes which, and any cycle among them.

Run from the project root. Exits 1 when the folders include each other in a
circle, so that a change that breaks the layering is noticed at once."""
import os
import re
import sys

NOT_PRODUCT = {"tools", "tests", "bench", "fuzz", "packaging", "scripts", "man"}
SOURCE = re.compile(r"\.(cpp|hpp)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/')


def folders():
    return sorted(d for d in os.listdir(".") if os.path.isdir(d) and not d.startswith((".", "build"))
                  and d not in NOT_PRODUCT)


def includes(folder, known):
    found = set()
    for root, _, files in os.walk(folder):
        for name in files:
            if not SOURCE.search(name):
                continue
            for line in open(os.path.join(root, name), errors="replace"):
                m = INCLUDE.match(line)
                if m and m.group(1) in known and m.group(1) != folder:
                    found.add(m.group(1))
    return found


def main():
    known = folders()
    edges = {d: includes(d, set(known)) for d in known}
    # Depth of a folder: one more than the deepest folder it includes.
    depth, visiting, cycle = {}, set(), []

    def level(d):
        if d in depth:
            return depth[d]
        if d in visiting:
            cycle.append(d)
            return 0
        visiting.add(d)
        depth[d] = 1 + max((level(e) for e in edges[d]), default=-1)
        visiting.discard(d)
        return depth[d]

    for d in known:
        level(d)
    for d in sorted(known, key=lambda d: (depth[d], d)):
        print(f"{depth[d]}  {d:10} -> {', '.join(sorted(edges[d], key=lambda e: (depth[e], e))) or '-'}")
    if cycle:
        print("cycle through: " + ", ".join(sorted(set(cycle))))
        return 1
    print("no cycles")
    return 0


if __name__ == "__main__":
    sys.exit(main())
