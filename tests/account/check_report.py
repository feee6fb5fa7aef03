"""Checks a run report: it validates against docs/run-report.schema.json, and its counts add
up to the structure's cells, by value and by source.

    check_report.py <schema> <report.json> [<source grid .asc>]

With a source grid (ASC), the cells won per set and per code are counted in it as well."""
import json
import sys

import jsonschema


def main():
    schema = json.load(open(sys.argv[1]))
    report = json.load(open(sys.argv[2]))
    jsonschema.Draft202012Validator.check_schema(schema)
    jsonschema.Draft202012Validator(schema).validate(report)
    grid = report["grid"]
    cells = report["cells"]
    problems = []
    if grid["columns"] * grid["rows"] != grid["cells"]:
        problems.append("columns x rows is not cells")
    if cells["withValue"] + cells["nodata"] + cells["masked"] != grid["cells"]:
        problems.append("the cells by value do not add up: %s" % cells)
    won = sum(s["cellsWon"] for s in report["sets"]) + sum(c["cells"] for c in report["codes"])
    if won != grid["cells"]:
        problems.append("the cells by source add up to %d, not %d" % (won, grid["cells"]))
    numbers = [s["number"] for s in report["sets"]]
    if numbers != list(range(1, len(numbers) + 1)):
        problems.append("the sets are not numbered 1, 2, ...: %s" % numbers)
    for s in report["sets"]:
        if s["cellsWon"] > s["cellsReached"]:
            problems.append("set %d won more cells than it reached" % s["number"])
    if len(sys.argv) > 3:
        codes = {}
        with open(sys.argv[3]) as f:
            for k, line in enumerate(f):
                if k >= 6:
                    for word in line.split():
                        codes[int(word)] = codes.get(int(word), 0) + 1
        for s in report["sets"]:
            if codes.get(s["number"], 0) != s["cellsWon"]:
                problems.append("set %d: %d cells in the source grid, %d won" % (s["number"], codes.get(s["number"], 0), s["cellsWon"]))
        for c in report["codes"]:
            if codes.get(c["code"], 0) != c["cells"]:
                problems.append("code %d: %d cells in the source grid, %d in the report" % (c["code"], codes.get(c["code"], 0), c["cells"]))
    for p in problems:
        print("%s: %s" % (sys.argv[2], p), file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
