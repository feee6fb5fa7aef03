#!/usr/bin/env bash
# Runs in bands of rows and runs of one tile write what the whole run writes: the same grid,
# byte for byte, and the same listing; the tiles laid one under the other (north first) are
# the whole grid. For a CELL and a MIDDLE structure with grid sets (ASC streamed, BIL read by
# seeking), points and polygons, and for a run with model uses, from a table or not.
set -euo pipefail
program=$1
mkinput=$2
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "$*" >&2; status=1; }

# The inputs of the mixed case, with the rain grid also as a BIL raster.
base="$work/inputs"
mkdir -p "$base"
cp -r "$here/../threads/mixed/." "$base"
(
  cd "$base"
  "$mkinput" lga warped.lga.txt warped.lga
  "$mkinput" cco warped.cco.txt warped.cco
  "$mkinput" map warped.map.txt warped.map
  { echo "nbits 32"; tail -n +7 rain.asc; } > rainbil.txt
  "$mkinput" bil rainbil.txt rainbil.bil
  awk 'NR==1{nc=$2} NR==2{nr=$2} NR==3{x=$2} NR==4{y=$2} NR==5{cs=$2} NR==6{nd=$2}
       END{printf "NROWS %d\nNCOLS %d\nNBITS 32\nULXMAP %.6f\nULYMAP %.6f\nXDIM %s\nYDIM %s\nNODATA %s\n",
           nr, nc, x + cs / 2, y + nr * cs - cs / 2, cs, cs, nd}' rain.asc > rainbil.hdr
  # Without the model: the grids, the points and the polygons, and the rain once more as BIL.
  for pcf in TervalaGridCreate.PCF middle.pcf; do
    grep -v -E '^(LGA|CCO|MAP|ZAV-OBJECT|BEGIN|END|USE-ZAV-OBJECT)(,|$)' "$pcf" |
      sed 's/^TERVALAGRID,ASC,CELL,rain,1$/TERVALAGRID,ASC,CELL,rain,1\nTERVALAGRID,BIL,MIDDLE,rainbil,1/' > "plain-$pcf"
    sed 's/^STOREFILE,BIL,result$/STOREFILE,ASC,result/' "plain-$pcf" > "asc-$pcf"
    grep -v '^TERVALAGRID,ASC' "plain-$pcf" > "bilonly-$pcf"
    sed 's/,TABLE-CREATE=[a-z.]*$//' "$pcf" > "model-$pcf"
  done
)

# Runs the program in a fresh copy of the inputs: run <dir> <parameters...>; the listing's date
# lines are masked.
run() {
  local dir="$work/$1"
  shift
  mkdir -p "$dir"
  cp -r "$base/." "$dir"
  local rc=0
  (cd "$dir" && "$program" "$@" > /dev/null 2>&1) || rc=$?
  [ -f "$dir/TervalaGridCreate.out" ] && sed -i 's/^.*\.  program = /<date>.  program = /' "$dir/TervalaGridCreate.out"
  echo "$rc" > "$dir/rc"
}
same() {  # same <file> <dir a> <dir b>
  cmp -s "$work/$2/$1" "$work/$3/$1" || fail "$3: $1 differs from $2"
}

for pcf in TervalaGridCreate.PCF middle.pcf; do
  for kind in plain asc bilonly; do
    ext=BIL
    [ "$kind" = asc ] && ext=ASC
    whole="$kind-$pcf-whole"
    run "$whole" "IN=$kind-$pcf"
    [ "$(cat "$work/$whole/rc")" = 0 ] || fail "$whole: the run failed"
    grep -q 'WEL waarden' "$work/$whole/TervalaGridCreate.out" || fail "$whole: no values"
    # Bands of 1, 3 and 7 rows, and bands from a small bound, on one and two threads.
    variants=("BAND=1 MEMORY=0.0005" "BAND=3 THREADS=2" "BAND=7 MEMORY=0.001")
    # Band heights from the bound (the readers of ASC grids alone take more than this).
    [ "$kind" = bilonly ] && variants+=("MEMORY=0.01" "MEMORY=0.01 THREADS=2")
    for variant in "${variants[@]}"; do
      dir="$kind-$pcf-${variant// /-}"
      # shellcheck disable=SC2086
      run "$dir" "IN=$kind-$pcf" $variant
      same "result.$ext" "$whole" "$dir"
      [ "$kind" != asc ] && same result.HDR "$whole" "$dir"
      same TervalaGridCreate.out "$whole" "$dir"
    done
    # Tiles: each writes its own grid and the same mosaic; stacked they are the whole grid.
    for n in 1 3 7; do
      t="$work/$whole.tiles$n"
      mkdir -p "$t"
      for ((k = 1; k <= n; k++)); do
        run tile "IN=$kind-$pcf" "TILE=$k/$n" $([ $n = 3 ] && echo BAND=2)
        [ "$(cat "$work/tile/rc")" = 0 ] || fail "$kind $pcf: tile $k/$n failed"
        cp "$work/tile"/result_t* "$work/tile/result.vrt" "$t"
        rm -rf "$work/tile"
      done
      [ "$(ls "$t" | grep -c "^result_t.*\.$ext$")" = "$n" ] || fail "$kind $pcf: not $n tile grids"
      [ -f "$t/result.vrt" ] || fail "$kind $pcf: no mosaic"
      if [ "$kind" != asc ]; then
        cat "$t"/result_t*.BIL | cmp -s - "$work/$whole/result.BIL" || fail "$pcf: $n tiles differ from the whole grid"
      else
        for f in "$t"/result_t*.ASC; do tail -n +7 "$f"; done | cmp -s - <(tail -n +7 "$work/$whole/result.ASC") ||
          fail "$pcf: $n ASC tiles differ from the whole grid"
      fi
      if command -v gdal_translate > /dev/null && [ "$kind" != asc ]; then
        gdal_translate -q -of EHdr "$t/result.vrt" "$t/mosaic.bil" > /dev/null 2>&1 || fail "$pcf: GDAL cannot read the mosaic"
        cmp -s "$t/mosaic.bil" "$work/$whole/result.BIL" || fail "$pcf: GDAL's mosaic of $n tiles differs from the whole grid"
      fi
    done
  done
  # With model uses: the model search goes column by column over the whole structure first and
  # keeps what it found on a scratch file, which the bands and tiles read back; the tiles
  # compute their own rows only, and a table written by the whole run is read by the tiles.
  whole="model-$pcf-whole"
  run "$whole" "IN=model-$pcf"
  [ "$(cat "$work/$whole/rc")" = 0 ] || fail "$whole: the run failed"
  run "model-$pcf-band" "IN=model-$pcf" BAND=2 MEMORY=0.001
  same result.BIL "$whole" "model-$pcf-band"
  same TervalaGridCreate.out "$whole" "model-$pcf-band"
  # Bands as the bound gives them (one tile of one), and the scratch files under names of
  # their own: none is left behind.
  run "model-$pcf-bound" "IN=model-$pcf" TILE=1/1 MEMORY=8 THREADS=2
  cmp -s "$work/model-$pcf-bound/result_t001.BIL" "$work/$whole/result.BIL" ||
    fail "$pcf: one tile of one within MEMORY=8 differs from the whole grid"
  TERVALA_NAMED_TEMPORARIES=1 run "model-$pcf-named" "IN=model-$pcf" BAND=7 MEMORY=0.001
  same result.BIL "$whole" "model-$pcf-named"
  [ -z "$(find "$work/model-$pcf-named" -name '.tervala-scratch*')" ] || fail "$pcf: a scratch file was left behind"
  # TABLE-CREATE in bands, on one core and on two: the same table, line for line.
  run "table-$pcf" "IN=$pcf"
  for threads in 1 2; do
    run "table-$pcf-band$threads" "IN=$pcf" BAND=3 MEMORY=0.001 THREADS=$threads
    tab=$(cd "$work/table-$pcf" && find . -iname '*.tab' | head -1)
    [ -n "$tab" ] || fail "$pcf: the whole run wrote no table"
    for f in result.BIL TervalaGridCreate.out "$tab"; do same "$f" "table-$pcf" "table-$pcf-band$threads"; done
  done
  sed 's/TABLE-CREATE=/TABLE-USE=/' "$base/$pcf" > "$base/use-$pcf"
  find "$work/table-$pcf" -iname "*.tab" -exec cp {} "$base/" \;
  for variant in model use; do
    mkdir -p "$work/$variant-$pcf.tiles"
    for k in 1 2 3; do
      run "$variant-$pcf-tile" "IN=$variant-$pcf" "TILE=$k/3" THREADS=$k
      [ "$(cat "$work/$variant-$pcf-tile/rc")" = 0 ] || fail "$variant $pcf: tile $k/3 failed"
      cp "$work/$variant-$pcf-tile"/result_t* "$work/$variant-$pcf.tiles"
      rm -rf "$work/$variant-$pcf-tile"
    done
    cat "$work/$variant-$pcf.tiles"/result_t*.BIL | cmp -s - "$work/$whole/result.BIL" ||
      fail "$variant $pcf: 3 tiles differ from the whole grid"
  done
  # A tile cannot write a table that lists the whole structure.
  run "create-$pcf-tile" "IN=$pcf" TILE=1/2
  [ "$(cat "$work/create-$pcf-tile/rc")" = 2 ] || fail "$pcf: TABLE-CREATE in a tile was not refused"
  table=$(grep -o 'TABLE-CREATE=[^,]*' "$base/$pcf" | head -1 | cut -d= -f2 | tr '[:lower:]' '[:upper:]')
  python3 "$here/../tools/hasblock.py" "$work/create-$pcf-tile/TervalaGridCreate.out" <<BLOCK ||

 ERROR
 *****

 TABLE-CREATE cannot be used in a run of one tile (TILE=1/2):
 the table $table lists the cells of the whole structure in one order.
 Create it in a run without TILE=, then let the tiles read it with TABLE-USE.
BLOCK
    fail "$pcf: the message block for TABLE-CREATE in a tile is not in the listing"
done
[ $status -eq 0 ] && echo "runs in bands and tiles write what the whole run writes"
exit $status
