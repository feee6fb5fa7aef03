#!/usr/bin/env bash
# A source grid, a run report and pictures change nothing of a run: the grid, the table files
# and every line the listing held without them are the same bytes. The source grid is the
# same on 1, 2 and 3 threads, and the JSON report validates against its schema and adds up
# to the structure's cells. A CELL and a MIDDLE structure with every kind of set, two sets
# of one priority (so that cells are combined) and CLEAR, ASSIGN and RESET polygons.
#
#   account_changes_nothing.sh <program> <mkinput> <schema>
set -euo pipefail
program=$1
mkinput=$2
schema=$3
here="$(cd "$(dirname "$0")" && pwd)"
mixed="$here/../threads/mixed"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python=""
for p in python3 /usr/bin/python3; do
  if command -v "$p" > /dev/null 2>&1 && "$p" -c 'import jsonschema' 2> /dev/null; then
    python=$p
    break
  fi
done
if [ -z "$python" ]; then
  echo "no Python with jsonschema (Debian: python3-jsonschema): the report cannot be validated" >&2
  exit 1
fi

# The listing as a person compares it: date lines masked, the run report cut off, and the
# blank lines, footers and headers that fill the last page dropped.
normalise() {
  sed 's/^.*\.  program = /<date>.  program = /' "$1" |
    awk '/^ Run report$/ { exit } { print }' |
    tac | awk 'done || !/^( *\/[0-9]+(\.\.)?| *|<date>.*|-+)$/ { done = 1; print }' | tac
}

status=0
for pcf in TervalaGridCreate.PCF middle.pcf; do
  for variant in plain 1 2 3; do
    dir="$work/$pcf-$variant"
    mkdir -p "$dir"
    cp -r "$mixed/." "$dir"
    (
      cd "$dir"
      "$mkinput" lga warped.lga.txt warped.lga
      "$mkinput" cco warped.cco.txt warped.cco
      "$mkinput" map warped.map.txt warped.map
      printf '1 AUTO\n1000,2030\n1060,2030\n1060,2060\n1000,2060\n1000,2030\nEND\nEND\n' > clear.gen
      printf '1 AUTO\n1010,2040\n1030,2040\n1030,2050\n1010,2050\n1010,2040\nEND\nEND\n' > reset.gen
      # The source line stands where the plain run has it as a comment, so that the listing's
      # pages break alike.
      source="SOURCEFILE,ASC,sources.asc"
      [ "$variant" = plain ] && source="* $source"
      {
        cat "$pcf"
        echo "TERVALAGRID,ASC,CELL,terrain,0"
        echo "POLYGONFILE,clear.gen,CLEAR"
        echo "POLYGONFILE,reset.gen,RESET"
        echo "$source"
      } > run.pcf
      if [ "$variant" = plain ]; then
        "$program" IN=run.pcf THREADS=1 > /dev/null
      else
        "$program" IN=run.pcf "THREADS=$variant" REPORT=run.json PICTURE=picture.png > /dev/null
      fi
    )
  done
  plain="$work/$pcf-plain"
  for variant in 1 2 3; do
    dir="$work/$pcf-$variant"
    outputs=$(find "$plain" -maxdepth 1 \( -iname 'result.*' -o -iname '*.tab' \) | sort)
    [ "$(wc -l <<< "$outputs")" -ge 3 ] || { echo "$pcf: the grid or the table is missing" >&2; status=1; }
    for f in $outputs; do
      if ! cmp -s "$f" "$dir/$(basename "$f")"; then
        echo "$pcf, $variant threads: $(basename "$f") differs from the run without source grid, report and picture" >&2
        status=1
      fi
    done
    if ! diff <(normalise "$plain/TervalaGridCreate.out" | sed 's/^\* SOURCEFILE/SOURCEFILE/') \
      <(normalise "$dir/TervalaGridCreate.out") > "$work/diff"; then
      echo "$pcf, $variant threads: the listing differs before the run report:" >&2
      head -5 "$work/diff" >&2
      status=1
    fi
    grep -q '^ Run report$' "$dir/TervalaGridCreate.out" || { echo "$pcf: no run report in the listing" >&2; status=1; }
    for f in picture.png picture_source.png; do
      [ -s "$dir/$f" ] || { echo "$pcf, $variant threads: no $f" >&2; status=1; }
    done
    "$python" "$here/check_report.py" "$schema" "$dir/run.json" "$dir/sources.asc" || status=1
    if ! cmp -s "$work/$pcf-1/sources.asc" "$dir/sources.asc"; then
      echo "$pcf: the source grid on $variant threads differs from the one on 1" >&2
      status=1
    fi
  done
  # Every kind of code shows in this run: set numbers, several sets combined, cleared cells.
  # (grep reads to the end: with -q it would stop early and fail the pipe with SIGPIPE.)
  for code in ' -1 ' ' -2 '; do
    tail -n +7 "$work/$pcf-1/sources.asc" | sed 's/^/ /; s/$/ /' | grep -- "$code" > /dev/null ||
      { echo "$pcf: no code$code in the source grid" >&2; status=1; }
  done
done

# In bands and in tiles (the same sets without the model uses, which hold the whole
# structure): the source grid is the whole run's byte for byte, a BIL one too; the report's
# counts and the pictures are the whole run's; the tiles' source grids are the whole one's rows
# and their reports add up to the whole run's counts; a tile cannot draw the picture.
dir="$work/banded"
mkdir -p "$dir"
cp -r "$mixed/." "$dir"
cd "$dir"
printf '1 AUTO\n1000,2030\n1060,2030\n1060,2060\n1000,2060\n1000,2030\nEND\nEND\n' > clear.gen
printf '1 AUTO\n1010,2040\n1030,2040\n1030,2050\n1010,2050\n1010,2040\nEND\nEND\n' > reset.gen
{
  grep -v -e '^LGA' -e '^CCO' -e '^MAP' -e '^ZAV-OBJECT' -e '^USE-ZAV' -e '^BEGIN' -e '^END$' TervalaGridCreate.PCF
  echo "TERVALAGRID,ASC,CELL,terrain,0"
  echo "POLYGONFILE,clear.gen,CLEAR"
  echo "POLYGONFILE,reset.gen,RESET"
  echo "SOURCEFILE,ASC,sources.asc"
} > run.pcf
sed 's/^SOURCEFILE,ASC,sources.asc/SOURCEFILE,BIL,sources,NBITS=32/' run.pcf > bil.pcf
# The counts of a report, without its times and memory.
counts() { "$python" -c 'import json,sys; r=json.load(open(sys.argv[1])); [r.pop(k) for k in ("steps","peakMemoryBytes")]; print(json.dumps(r, sort_keys=True))' "$1"; }
"$program" IN=run.pcf REPORT=whole.json > /dev/null 2>&1 || { echo "banded: the whole run failed" >&2; exit 1; }
cp sources.asc whole.asc
"$program" IN=bil.pcf > /dev/null 2>&1 || { echo "banded: the whole BIL run failed" >&2; exit 1; }
cp sources.BIL whole.BIL
for bound in "MEMORY=0.01 BAND=1" "MEMORY=0.01 BAND=7" "MEMORY=0.03"; do
  rm -f sources.asc sources.BIL
  # shellcheck disable=SC2086
  "$program" IN=run.pcf $bound REPORT=banded.json > /dev/null 2>&1 || { echo "banded: $bound failed" >&2; status=1; continue; }
  cmp -s sources.asc whole.asc || { echo "banded: the source grid with $bound differs" >&2; status=1; }
  [ "$(counts banded.json)" = "$(counts whole.json)" ] || { echo "banded: the report with $bound differs" >&2; status=1; }
  # shellcheck disable=SC2086
  "$program" IN=bil.pcf $bound > /dev/null 2>&1 || { echo "banded: BIL $bound failed" >&2; status=1; }
  cmp -s sources.BIL whole.BIL || { echo "banded: the BIL source grid with $bound differs" >&2; status=1; }
done
# The pictures, drawn from the cells kept band by band, are the whole run's.
"$program" IN=run.pcf PICTURE=whole.png > /dev/null 2>&1 || { echo "banded: the whole run with PICTURE failed" >&2; status=1; }
for bound in "MEMORY=0.01 BAND=1" "MEMORY=0.01 BAND=5"; do
  # shellcheck disable=SC2086
  "$program" IN=run.pcf PICTURE=banded.png $bound > /dev/null 2>&1 || { echo "banded: PICTURE with $bound failed" >&2; status=1; }
  cmp -s whole.png banded.png && cmp -s whole_source.png banded_source.png ||
    { echo "banded: the pictures with $bound differ from the whole run's" >&2; status=1; }
done
"$program" IN=run.pcf PICTURE=p.png TILE=1/3 > /dev/null 2>&1 && { echo "banded: a picture of one tile was not refused" >&2; status=1; }
python3 "$here/../tools/hasblock.py" TervalaGridCreate.out <<'BLOCK' || { echo "banded: no message block for PICTURE" >&2; status=1; }

 ERROR
 *****

 PICTURE cannot be used in a run of one tile (TILE=1/3):
 the picture shows the whole structure; draw it in a run without TILE.
BLOCK
if "$program" IN=run.pcf REPORT=x.json TILE=1/1 > /dev/null 2>&1; then
  rows=""
  for k in 1 2 3; do
    "$program" IN=run.pcf TILE=$k/3 REPORT=tile$k.json > /dev/null 2>&1 || { echo "banded: tile $k failed" >&2; status=1; }
    "$python" "$here/check_report.py" "$schema" tile$k.json sources_t00$k.asc || status=1
    rows="$rows sources_t00$k.asc"
  done
  # shellcheck disable=SC2086
  cmp -s <(tail -n +7 whole.asc) <(for f in $rows; do tail -n +7 "$f"; done) ||
    { echo "banded: the tiles' source grids are not the whole one's rows" >&2; status=1; }
  "$python" - whole.json tile1.json tile2.json tile3.json <<'PY' || status=1
import json, sys
whole, tiles = json.load(open(sys.argv[1])), [json.load(open(f)) for f in sys.argv[2:]]
for key in ("withValue", "nodata", "masked"):
    if sum(t["cells"][key] for t in tiles) != whole["cells"][key]:
        sys.exit("banded: the tiles' %s cells do not add up to the whole run's" % key)
for k, s in enumerate(whole["sets"]):
    for key in ("cellsWon", "cellsReached"):
        if sum(t["sets"][k][key] for t in tiles) != s[key]:
            sys.exit("banded: the tiles' %s of set %d do not add up" % (key, s["number"]))
PY
fi
cd "$work"
[ $status -eq 0 ] && echo "source grids, reports and pictures change nothing, on 1, 2 and 3 threads, in bands and tiles"
exit $status
