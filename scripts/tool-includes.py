#!/usr/bin/env python3
"""Fails when the korval tool includes driver code an application could not know.

The tool talks to the driver as an application does: through the exported
entry point, the stream formats and the property sets, and the platform's own
(Windows-named) headers. Any other header of sys/ is the driver's inside.
Prints each include of sys/ the tool makes; exits 1 naming the file and
header of every other one.

    scripts/tool-includes.py [TOOL_DIR [SYS_DIR]]
"""
import pathlib
import sys

from source_includes import quoted_includes

# What an application may know of the driver. The published properties are
# the description of the property sets (names, ids, ranges, defaults, registry
# names) that the tool's listings and defaults must not copy.
ALLOWED = {"driver/Driver.h", "stream/StreamFormats.h", "control/DevicePropertySets.h",
           "settings/PublishedProperties.h"}
ALLOWED_FOLDERS = {"platform"}


def driver_header(target, sys_root):
    """The header's path below sys/, or None when it is not the driver's."""
    if target.startswith("sys/"):
        target = target[len("sys/"):]
    folder = target.split("/")[0]
    return target if "/" in target and (sys_root / folder).is_dir() else None


def main():
    here = pathlib.Path(__file__).parent.parent
    tool = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else here / "tools" / "korval"
    sys_root = pathlib.Path(sys.argv[2]) if len(sys.argv) > 2 else here / "sys"
    if not tool.is_dir() or not sys_root.is_dir():
        print(f"tool-includes: {tool if not tool.is_dir() else sys_root}: no such folder", file=sys.stderr)
        return 2
    faults = []
    for path, target in quoted_includes(tool):
        header = driver_header(target, sys_root)
        if header is None:
            continue
        allowed = header in ALLOWED or header.split("/")[0] in ALLOWED_FOLDERS
        print(f"{path.relative_to(tool)}: {header}{'' if allowed else '  <- not for an application'}")
        if not allowed:
            faults.append(f"{path.relative_to(tool)} includes {header}")
    if faults:
        print("tool-includes: the tool includes the driver's inside:\n  " + "\n  ".join(faults), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
