#!/usr/bin/env python3
"""Lists the driver's folder-to-folder includes and fails on a cycle.

Every folder of sys/ is one floor: it may include the floors below it, never
one that includes it back, directly or round a longer loop. Prints each pair
with its count of include lines; exits 1 naming the cycle when there is one.

    scripts/include-floors.py [SYS_DIR]
"""
import pathlib
import sys

from source_includes import quoted_includes


def folder_of(path, root):
    parts = path.relative_to(root).parts
    return parts[0] if len(parts) > 1 else None


def folder_includes(root):
    """{(from, to): count} over every source and header below root."""
    pairs = {}
    for path, target in quoted_includes(root):
        source = folder_of(path, root)
        folder = target.split("/")[0] if "/" in target else source
        if source and folder != source and (root / folder).is_dir():
            pairs[(source, folder)] = pairs.get((source, folder), 0) + 1
    return pairs


def find_cycle(pairs):
    """One loop of folders as a list (first == last), or None."""
    edges = {}
    for source, target in pairs:
        edges.setdefault(source, []).append(target)
    state = {}

    def visit(node, trail):
        state[node] = "open"
        trail.append(node)
        for nxt in sorted(edges.get(node, [])):
            if state.get(nxt) == "open":
                return trail[trail.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt, trail)
                if found:
                    return found
        state[node] = "done"
        trail.pop()
        return None

    for node in sorted(edges):
        if node not in state:
            found = visit(node, [])
            if found:
                return found
    return None


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent / "sys")
    if not root.is_dir():
        print(f"include-floors: {root}: no such folder", file=sys.stderr)
        return 2
    pairs = folder_includes(root)
    for (source, target), count in sorted(pairs.items()):
        print(f"{source:14} -> {target:14} {count}")
    cycle = find_cycle(pairs)
    if cycle:
        print("include-floors: folders include each other: " + " -> ".join(cycle), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
