#!/usr/bin/env python3
"""Finds functions longer than a limit (120 lines from the opening to the closing brace) in the
program's sources, so that long functions are split while they are still easy to split.

A brace counter, not a compiler: it skips comments, string and character literals, and takes a
brace at namespace or class level that follows a parameter list as a function body. Lambdas
count in the function that holds them. Parsers whose length is a flat list of keywords are
exempt by name (EXEMPT); functions that are still to be split are listed in KNOWN with the
length they have, and may not grow.

Usage: check_function_length.py <source root> [--all]   (--all lists every function over the
limit, known or not). Exits 1 when a function is over the limit and neither exempt nor known,
or a known one has grown."""
import pathlib
import re
import sys

LIMIT = 120
MODULES = ("app", "frame", "grid", "zav", "assign", "gdal")
# Keyword parsers: one branch per keyword of a block, each a few lines; splitting them would
# only scatter the list.
EXEMPT = {
    "assign/provenance.cpp:reportJsonOf",  # the run report's keys, one after the other
}
# Still to be split: "file:function" -> the length it has today.
KNOWN: dict = {}


def strip(text):
    """The text with comments, strings and character literals blanked (newlines kept)."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c == "R" and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            m = re.match(r'R"([^(\s]*)\(', text[i:])
            end = text.find(")" + m.group(1) + '"', i) if m else -1
            j = n if end < 0 else end + len(m.group(1)) + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c in "\"'":
            if c == "'" and i > 0 and text[i - 1].isalnum():  # digit separator 1'000
                out.append(c)
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + " " * (j - i - 2) + c if j - i >= 2 else text[i:j])
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


CLASS_HEAD = re.compile(r"^\s*(template\s*<.*>\s*)?(class|struct|union|enum)\b", re.S)
NAME_BEFORE_PAREN = re.compile(r"([A-Za-z_~][A-Za-z0-9_:~]*|operator\s*\S+)\s*$")


def functions(text):
    """(name, first line, last line) of every function body at namespace or class level."""
    s = strip(text)
    found = []
    stack = []  # per open brace: "ns", "class", "func" or "other", with the start line
    head_start = 0
    parens = 0
    line = 1
    for i, c in enumerate(s):
        if c == "\n":
            line += 1
        elif c == "(":
            parens += 1
        elif c == ")":
            parens -= 1
        elif c == "{":
            inside = any(k in ("func", "other") for k, _, _ in stack)
            kind = "other"
            name = ""
            if not inside and parens == 0:
                head = s[head_start:i]
                if re.search(r"\bnamespace\b|\bextern\s*$", head):
                    kind = "ns"
                elif CLASS_HEAD.match(head):
                    kind = "class"
                elif "(" in head and not re.search(r"=\s*$", head):
                    kind = "func"
                    m = NAME_BEFORE_PAREN.search(head[: head.index("(")])
                    name = m.group(1) if m else "?"
            stack.append((kind, line, name))
            head_start = i + 1
        elif c == "}":
            if stack:
                kind, start, name = stack.pop()
                if kind == "func":
                    found.append((name, start, line))
            head_start = i + 1
        elif c == ";" and not any(k in ("func", "other") for k, _, _ in stack) and parens == 0:
            head_start = i + 1
    return found


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    show_all = "--all" in sys.argv
    root = pathlib.Path(args[0] if args else ".")
    faults = 0
    for module in MODULES:
        for path in sorted((root / module).glob("*.cpp")) + sorted((root / module).glob("*.h")):
            rel = str(path.relative_to(root))
            for name, start, end in functions(path.read_text(encoding="utf-8", errors="replace")):
                length = end - start + 1
                if length <= LIMIT:
                    continue
                key = f"{rel}:{name}"
                if key in EXEMPT and not show_all:
                    continue
                if key in KNOWN and length <= KNOWN[key] and not show_all:
                    continue
                state = "exempt" if key in EXEMPT else "known" if key in KNOWN else "NEW"
                if state == "NEW" or (state == "known" and length > KNOWN[key]):
                    faults += 1
                print(f"{rel}:{start}: {name} is {length} lines ({state})")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
