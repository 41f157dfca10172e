"""The quoted includes of the C++ sources below a folder, for the include checks."""
import re

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def quoted_includes(root):
    """(path, included name) for every quoted include of every source and header below root, in path order."""
    for path in sorted(root.rglob("*")):
        if path.suffix not in (".h", ".cpp", ".inl") or not path.is_file():
            continue
        for target in INCLUDE.findall(path.read_text(errors="replace")):
            yield path, target
