#!/usr/bin/env bash
# The area-weighted regrid of a CELL structure agrees with gdalwarp -r average on interior
# cells, for a shifted grid, a coarser grid onto a finer one and a finer onto a coarser one.
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
check shifted 60 60 -23.7 -18.2 10
check coarser_to_finer 24 24 -17.5 -33.1 25
check finer_to_coarser 140 140 -12.3 -9.9 4
exit $status
