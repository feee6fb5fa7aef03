#!/usr/bin/env bash
# The area-weighted regrid of a CELL structure agrees with gdalwarp -r average on interior
# cells, for a shifted grid, a coarser grid onto a finer one and a finer onto a coarser one; and
# with the exact area average at small, RD and UTM coordinates.
set -euo pipefail
program=$1
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
touch DEVICE.CNF
status=0
check() {  # name, input ncols nrows xll yll cell
  local name=$1
  awk -v nc="$2" -v nr="$3" -v xll="$4" -v yll="$5" -v cs="$6" -v seed=7 -f "$here/make_grid.awk" > "$name.asc"
  printf 'STRUCTURE\n#COLUMNS,50\n#ROWS,50\nCELLSIZE,10\nNODATA,-9999\nDATARELATEDTO,CELL\nEND:STRUCTURE\nSTOREFILE,BIL,%s_ours\nMETHOD-PER-SET,AVERAGE\nTERVALAGRID,ASC,CELL,%s\n' \
    "$name" "$name" > "$name.pcf"
  "$program" "IN=$name.pcf" "OU=$name.lst" > /dev/null
  gdalwarp -q -overwrite -r average -te 0 0 500 500 -tr 10 10 "$name.asc" "${name}_gdal.tif"
  gdal_translate -q -of XYZ "${name}_ours.BIL" "$name.ours.xyz"
  gdal_translate -q -of XYZ "${name}_gdal.tif" "$name.gdal.xyz"
  # Interior cells: away from the border, both with a value. GDAL's weights are fractions of
  # source pixels in single precision, so agreement is to a few units in the sixth digit.
  paste "$name.ours.xyz" "$name.gdal.xyz" | awk -v name="$name" '
    $1 > 20 && $1 < 480 && $2 > 20 && $2 < 480 {
      if (($3 > -9000) != ($6 > -9000)) { both++ ; next }
      if ($3 < -9000) next
      d = $3 - $6; if (d < 0) d = -d; if (d > m) m = d; s += d; n++
    }
    END {
      printf "%-18s %5d interior cells, largest difference %.2e, mean %.2e, NODATA disagreements %d\n", name, n, m, s / n, both
      exit (m > 1e-3 || both > 0 || n < 1000)
    }' || status=1
}
# A grid of 7.3 m cells shifted by (-9.63, -12.89) onto 60 x 50 cells of 10 m with their corner at
# (x, y), against the exact area average computed here in double precision from the same
# numbers (GDAL's weights are not exact enough for this). Every cell must agree to 2e-5 relative,
# wherever on the map the grids lie: the overlaps are computed relative to the structure's corner.
exact() {  # name, structure corner x y
  local name=$1 x=$2 y=$3
  awk -v nc=86 -v nr=72 -v xll="$(awk -v a="$x" 'BEGIN { printf "%.4f", a - 9.63 }')" \
      -v yll="$(awk -v a="$y" 'BEGIN { printf "%.4f", a - 12.89 }')" -v cs=7.3 -v seed=11 -f "$here/make_grid.awk" > "$name.asc"
  printf 'STRUCTURE\n#COLUMNS,60\n#ROWS,50\nXLL,%s\nYLL,%s\nCELLSIZE,10\nNODATA,-9999\nDATARELATEDTO,CELL\nEND:STRUCTURE\nSTOREFILE,ASC,%s_ours\nMETHOD-PER-SET,AVERAGE\nTERVALAGRID,ASC,CELL,%s\n' \
    "$x" "$y" "$name" "$name" > "$name.pcf"
  "$program" "IN=$name.pcf" "OU=$name.lst" > /dev/null
  # Both files are read whole: the input's values (north row first) and then ours.
  awk -v name="$name" -v ox=-9.63 -v oy=-12.89 -v ics=7.3 -v inc=86 -v inr=72 -v onc=60 -v onr=50 -v ocs=10 '
    FNR <= 6 { next }
    FILENAME == ARGV[1] { for (k = 1; k <= NF; k++) inp[n1++] = $k; next }
    { for (k = 1; k <= NF; k++) out[n2++] = $k }
    END {
      for (j = 1; j <= onr; j++) for (i = 1; i <= onc; i++) {
        x0 = (i - 1) * ocs; x1 = i * ocs; y0 = (j - 1) * ocs; y1 = j * ocs
        sw = 0; sv = 0
        for (r = 1; r <= inr; r++) {
          b0 = oy + (r - 1) * ics; b1 = oy + r * ics
          h = (y1 < b1 ? y1 : b1) - (y0 > b0 ? y0 : b0); if (h <= 0) continue
          for (c = 1; c <= inc; c++) {
            a0 = ox + (c - 1) * ics; a1 = ox + c * ics
            w = (x1 < a1 ? x1 : a1) - (x0 > a0 ? x0 : a0); if (w <= 0) continue
            v = inp[(inr - r) * inc + (c - 1)]; if (v == -9999) continue
            sw += w * h; sv += w * h * v
          }
        }
        got = out[(onr - j) * onc + (i - 1)]
        if (sw == 0) { if (got != -9999) bad++; continue }
        if (got == -9999) { bad++; continue }
        want = sv / sw; d = (got - want) / want; if (d < 0) d = -d
        if (d > m) { m = d; at = i "," j }
        n++
      }
      printf "%-18s %5d cells against the exact average, largest relative difference %.2e (cell %s), NODATA disagreements %d\n", name, n, m, at, bad
      exit (m > 2e-5 || bad > 0 || n != onc * onr)
    }' "$name.asc" "${name}_ours.ASC" || status=1
}

check shifted 60 60 -23.7 -18.2 10
check coarser_to_finer 24 24 -17.5 -33.1 25
check finer_to_coarser 140 140 -12.3 -9.9 4
exact near_origin 100 200
exact rd 150000 400000
exact utm 650000 5800000
exit $status
