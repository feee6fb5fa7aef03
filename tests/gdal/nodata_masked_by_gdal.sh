#!/usr/bin/env bash
# GDAL masks every NODATA cell of both outputs, whatever the NODATA value: an ASC cell must read
# back as exactly the header's nodata_value, or a GIS takes it for data.
set -euo pipefail
program=$1
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
: > DEVICE.CNF
printf 'ncols 3\nnrows 2\nxllcorner 100\nyllcorner 200\ncellsize 10\nnodata_value -9999\n1 -9999 3\n4 -9999 6\n' > a.asc
failures=0
for nodata in 999999.5 1234567 -0.0001234567 -9999 -999.999 0; do
  for type in ASC BIL; do
    printf 'STRUCTURE\n#COLUMNS,3\n#ROWS,2\nXLL,100\nYLL,200\nCELLSIZE,10\nNODATA,%s\nEND:STRUCTURE\nSTOREFILE,%s,out\nTERVALAGRID,ASC,MIDDLE,a.asc\n' \
      "$nodata" "$type" > run.pcf
    rm -f out.* TervalaGridCreate.out
    "$program" IN=run.pcf 2>/dev/null
    # Four of the six cells hold values; the two NODATA cells must be masked.
    valid=$(gdalinfo -stats "out.$type" | sed -n 's/.*STATISTICS_VALID_PERCENT=//p')
    if [ "$valid" != "66.67" ]; then
      echo "NODATA $nodata in $type: GDAL finds ${valid:-no}% valid cells, not 66.67" >&2
      failures=$((failures + 1))
    fi
  done
done
[ "$failures" -eq 0 ] && echo "GDAL masks every NODATA cell of both outputs"
exit "$failures"
