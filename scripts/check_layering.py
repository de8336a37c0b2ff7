#!/usr/bin/env python3
"""Fails when a file under src/ includes a header of a folder above its own.

The layers, top to bottom (folders on one level do not include each other):
  api -> engine -> {foundry, spectral, edit} -> rack -> playback -> {cache, chain}
      -> {dsp, io, core} -> platform
core/ may be included by dsp/ and io/ (it is the bottom of that level).
"""
import pathlib
import re
import sys

LEVELS = [
    {"api"},
    {"engine"},
    {"foundry", "spectral", "edit"},
    {"rack"},
    {"playback"},
    {"cache", "chain"},
    {"dsp", "io"},
    {"core"},
    {"platform"},
]
LEVEL = {folder: depth for depth, level in enumerate(LEVELS) for folder in level}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def folder_of(relative):
    return relative.split("/", 1)[0]


def main(root):
    src = pathlib.Path(root)
    faults = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        relative = path.relative_to(src).as_posix()
        own = folder_of(relative)
        if own not in LEVEL:
            faults.append(f"{relative}: folder '{own}' has no layer")
            continue
        for header in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
            # The constant-Q module names its own headers from its folder.
            if relative.startswith("dsp/cqt/") and header.startswith("cqt/"):
                header = "dsp/" + header
            target = folder_of(header)
            if target not in LEVEL or "/" not in header:
                continue  # a system or library header
            if target == own:
                continue
            if LEVEL[target] <= LEVEL[own]:
                faults.append(f"{relative}: includes {header} ({target}/ is not below {own}/)")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "src"))
