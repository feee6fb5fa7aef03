#!/usr/bin/env python3
"""Checks that a message block stands whole in a listing: the lines read from standard input,
one right after the other and in order, leading blanks included (the listing holds no trailing
blanks). A block that lost, gained or swapped a line is not found. A block that runs over a
page turn (a blank line, the footer "/<page>..", the heading line with "program =", its rule and
a blank) is found across it, as the reader of the pages sees it.

Usage: hasblock.py <listing> < block. Exits 0 when the block is found; otherwise prints the block
and the listing's lines around the block's first line that is not blank, and exits 1."""
import re
import sys

FOOTER = re.compile(r"^ +/\d+\.\.$")


def page_turn_at(lines, at):
    """Whether a page turn starts at line at: a blank line, the footer "/<page>..", the heading
    line with "program =", its rule and a blank line."""
    return (at + 4 < len(lines) and lines[at] == "" and FOOTER.match(lines[at + 1]) is not None
            and ".  program = " in lines[at + 2] and lines[at + 3] == "-" * 76 and lines[at + 4] == "")


def block_at(lines, at, block):
    """Whether block stands in lines from line at, read across page turns: the line that turns
    the page is written at the top of the next one, or left out when it is blank."""
    j = at
    for line in block:
        if j > at and page_turn_at(lines, j):
            j += 5
            if line == "":
                continue
        if j >= len(lines) or lines[j] != line:
            return False
        j += 1
    return True


def main():
    with open(sys.argv[1], encoding="latin-1") as f:
        lines = f.read().split("\n")
    block = sys.stdin.read().split("\n")
    if block and block[-1] == "":
        block.pop()
    n = len(block)
    if any(block_at(lines, i, block) for i in range(len(lines))):
        return 0
    print(f"the block is not in {sys.argv[1]} as it stands:", file=sys.stderr)
    for line in block:
        print(f"  [{line}]", file=sys.stderr)
    key = next((b for b in block if b.strip()), block[0] if block else "")
    at = next((i for i, line in enumerate(lines) if line == key), None)
    if at is None:
        print(f"its line [{key}] is nowhere", file=sys.stderr)
        return 1
    print("the listing around its line:", file=sys.stderr)
    for line in lines[max(0, at - 4) : at + n + 4]:
        print(f"  [{line}]", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
