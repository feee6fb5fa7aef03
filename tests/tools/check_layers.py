#!/usr/bin/env python3
"""Checks the include arrows between the modules: each module may include only itself and the
modules below it, so that the arrows point down (app -> assign -> zav -> grid -> gdal -> frame).
It also checks that no file includes frame/startup.h (start-up and shutdown) without using
them: the message helpers live in frame/messages.h.

Usage: check_layers.py <source root>. Prints every wrong arrow and exits 1 when there is one."""
import pathlib
import re
import sys

# Which modules a module may include, besides itself.
ALLOWED = {
    "frame": set(),
    "gdal": {"frame"},
    "grid": {"frame", "gdal"},
    "zav": {"frame", "grid"},
    "assign": {"frame", "gdal", "grid", "zav"},
    "app": {"frame", "gdal", "grid", "zav", "assign"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z]+)/([^"]+)"', re.M)
STARTUP_NAMES = re.compile(r"\b(INITPR|ENDPR|RUNSTR|RUNPRM|PARCHR|VERSION)\s*\(")


def check(root):
    faults = []
    for module, allowed in ALLOWED.items():
        for path in sorted((root / module).glob("*")):
            if path.suffix not in (".h", ".cpp"):
                continue
            text = path.read_text(encoding="utf-8", errors="replace")
            rel = path.relative_to(root)
            for m in INCLUDE.finditer(text):
                target = m.group(1)
                if target in ALLOWED and target != module and target not in allowed:
                    faults.append(f"{rel}: includes {target}/{m.group(2)}, an arrow up from {module}/")
                if f"{target}/{m.group(2)}" == "frame/startup.h" and not STARTUP_NAMES.search(text):
                    faults.append(f"{rel}: includes frame/startup.h without using it (messages: frame/messages.h)")
    return faults


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    missing = [m for m in ALLOWED if not (root / m).is_dir()]
    if missing:
        print(f"check_layers: no module folder {', '.join(missing)} under {root}")
        return 1
    faults = check(root)
    for f in faults:
        print(f)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
