#!/usr/bin/env bash
# Runs killed with SIGKILL (what the out-of-memory killer and a cluster's time limit do) at
# random moments while they write an ASC grid, a BIL grid with its HDR, a GeoTIFF (when built
# with GDAL) and a model table file; GeoTIFF runs are also ended by SIGTERM, after which the
# run itself must have removed its temporary file.
# After each kill every output is either the previous run's file, untouched, or the new one,
# complete; no temporary file is left, or (where temporary files have names, and where an
# unnamed one was killed while it took the old output's place) the next run that writes the
# same outputs removes it.
#
#   killed_runs.sh <program> <mkinput> [kills]     KILL_SEED=n repeats a sequence of moments
set -euo pipefail
program=$1
mkinput=$2
kills=${3:-20}
here="$(cd "$(dirname "$0")" && pwd)"
model="$here/../runs/zav_middle_cell_use"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
seed=${KILL_SEED:-$((($$ + $(date +%N | sed 's/^0*//;s/^$/0/')) % 32768))}
RANDOM=$seed
fail() {
  echo "$*" >&2
  echo "(KILL_SEED=$seed repeats these moments)" >&2
  exit 1
}

cd "$work"
touch DEVICE.CNF
"$mkinput" lga "$model/river.lga.txt" river.lga
"$mkinput" cco "$model/river.cco.txt" river.cco
"$mkinput" map "$model/river.map.txt" river.map
# run.pcf <type> <cell size>: the model's values on a fine structure, the grid as <type> and
# the cells' model segments in a table.
command_file() {
  cat <<PCF
STRUCTURE
#COLUMNS,$((30 * $2))
#ROWS,$((20 * $2))
XLL,100
YLL,200
CELLSIZE,$(awk -v k="$2" 'BEGIN { print 1 / k }')
NODATA,-1
END:STRUCTURE
STOREFILE,$1,out
LGA,RIV,river.lga
CCO,RIV,river.cco
MAP,RIV,river.map
ZAV-OBJECT,RIVER
BEGIN
LGA,RIV
CCO,RIV
MAP,RIV
END
USE-ZAV-OBJECT,RIVER,salinity,CELL,,,TABLE-CREATE=out$1.tab
PCF
}
outputs=(out.ASC OUTASC.TAB out.BIL out.HDR OUTBIL.TAB)
types=(ASC BIL)
# A GeoTIFF is written by GDAL under a temporary name of its own beside the target.
command_file TIF 2 > probe.pcf
if "$program" IN=probe.pcf > /dev/null 2>&1; then
  outputs+=(out.TIF OUTTIF.TAB)
  types+=(TIF)
fi
rm -f probe.pcf out.TIF OUTTIF.TAB
# The previous outputs (a coarse structure) and the new ones (a fine one), kept aside.
mkdir old new
for type in "${types[@]}"; do
  command_file "$type" 2 > "old$type.pcf"
  command_file "$type" 20 > "new$type.pcf"
  "$program" "IN=old$type.pcf" > /dev/null 2>&1 || fail "the run of old$type.pcf failed"
done
mv "${outputs[@]}" old/
start=$(date +%s%N)
for type in "${types[@]}"; do "$program" "IN=new$type.pcf" > /dev/null 2>&1 || fail "the run of new$type.pcf failed"; done
took=$((($(date +%s%N) - start) / (${#types[@]} * 1000000)))  # milliseconds of one run
mv "${outputs[@]}" new/
cp old/* .

# Whatever is there beside the inputs, the listing, the kept outputs and the outputs.
temporaries() {
  ls -A | grep -v -x -F -e DEVICE.CNF -e river.lga -e river.cco -e river.map -e oldASC.pcf -e oldBIL.pcf \
    -e newASC.pcf -e newBIL.pcf -e oldTIF.pcf -e newTIF.pcf -e TervalaGridCreate.out -e old -e new \
    "${outputs[@]/#/-e}" || true
}
unnamed=no
"$mkinput" unnamed . && unnamed=yes
replaced=0
kept=0
left=0
replacing=0
for ((k = 0; k < kills; k++)); do
  type=${types[$((k % ${#types[@]}))]}
  # Every other round of kills writes named temporary files, as where unnamed ones cannot be had;
  # a GeoTIFF always has a named one.
  named=$([ $((k / ${#types[@]} % 2)) -eq 1 ] || [ "$unnamed" = no ] || [ "$type" = TIF ] && echo 1 || echo 0)
  # A moment anywhere in the run, from start-up to its last output.
  at=$(awk -v r="$RANDOM" -v t="$took" 'BEGIN { printf "%.3f", r / 32768 * t * 1.1 / 1000 }')
  TERVALA_NAMED_TEMPORARIES=$named "$program" "IN=new$type.pcf" > /dev/null 2>&1 &
  pid=$!
  sleep "$at"
  kill -KILL "$pid" 2> /dev/null || true
  wait "$pid" 2> /dev/null || true
  for f in "${outputs[@]}"; do
    [ -e "$f" ] || fail "kill $k ($type after ${at}s): $f is gone"
    if cmp -s "$f" "new/$f"; then
      [ "$f" != "out.$type" ] || replaced=$((replaced + 1))
    elif cmp -s "$f" "old/$f"; then
      [ "$f" != "out.$type" ] || kept=$((kept + 1))
    else
      fail "kill $k ($type after ${at}s): $f is neither the previous output nor the new one"
    fi
  done
  stray=$(temporaries)
  if [ -n "$stray" ]; then
    if [ "$named" != 1 ]; then
      # An unnamed file takes a temporary name for the moment it replaces the old output (no
      # call replaces a file by a link), so a kill in that moment leaves the name; the next
      # run removes it. Nothing else may be left.
      for s in $stray; do
        case "$s" in
          *.tmp.*) ;;
          *) fail "kill $k ($type after ${at}s): unnamed outputs left files: $stray" ;;
        esac
      done
      replacing=$((replacing + 1))
    fi
    left=$((left + 1))
    # The next run that writes the same outputs removes them.
    TERVALA_NAMED_TEMPORARIES=1 "$program" "IN=new$type.pcf" > /dev/null 2>&1 || fail "the run after kill $k failed"
    stray=$(temporaries)
    [ -z "$stray" ] || fail "kill $k ($type after ${at}s): the next run left $stray"
  fi
  cp old/* .
done
# SIGTERM (what a batch system sends first, and kill's default) while a GeoTIFF is written: the
# run removes its temporary file itself before it ends.
terms=0
if [ "${types[2]:-}" = TIF ]; then
  for ((k = 0; k < kills / 2; k++)); do
    at=$(awk -v r="$RANDOM" -v t="$took" 'BEGIN { printf "%.3f", r / 32768 * t * 1.1 / 1000 }')
    "$program" IN=newTIF.pcf > /dev/null 2>&1 &
    pid=$!
    sleep "$at"
    kill -TERM "$pid" 2> /dev/null || true
    wait "$pid" 2> /dev/null || true
    for f in out.TIF OUTTIF.TAB; do
      cmp -s "$f" "new/$f" || cmp -s "$f" "old/$f" || fail "SIGTERM $k (after ${at}s): $f is neither output"
    done
    stray=$(temporaries)
    [ -z "$stray" ] || fail "SIGTERM $k (after ${at}s): the run left $stray"
    terms=$((terms + 1))
    cp old/* .
  done
fi
echo "$kills kills ($((took))ms a run, unnamed files: $unnamed): $replaced outputs replaced, $kept kept," \
  "$left times named temporary files removed by the next run ($replacing of unnamed files killed while" \
  "replacing the old output); $terms GeoTIFF runs ended by SIGTERM"
