#!/usr/bin/env bash
# GDAL (and so every GIS built on it) reads the BIL+HDR and ASC outputs with the right
# origin, cell size, NODATA and values; at UTM, RD and geographic coordinates it reads the very
# corner and cell size that were asked from both outputs, and the coordinate reference system
# from the .prj beside them. The third argument says whether the program has GDAL built in
# (with-gdal): without it a CRS line is refused and a .prj beside the structure file is copied.
set -euo pipefail
program=$1
mkinput=$2
built=${3:-with-gdal}
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp -r "$here/case/." "$work"
cd "$work"
"$mkinput" bil values.txt values.bil
"$program" IN=bil.pcf >/dev/null
"$program" IN=asc.pcf >/dev/null
for f in out.BIL out.ASC; do
  gdal_translate -q -of XYZ "$f" "$f.xyz"
  if ! diff -u expected.xyz "$f.xyz"; then
    echo "GDAL reads $f differently" >&2
    exit 1
  fi
  gdalinfo "$f" | grep -q "Pixel Size = (0.250000000000000,-0.250000000000000)" || { echo "cell size of $f" >&2; exit 1; }
  gdalinfo "$f" | grep -q "NoData Value=-9999" || { echo "NODATA of $f" >&2; exit 1; }
done
gdalinfo out.BIL | grep -q "Type=Float32" || { echo "pixel type of out.BIL" >&2; exit 1; }
echo "GDAL reads both outputs as written"

# The geotransform GDAL reads, as six numbers on one line (printed with 17 digits, which tell
# every double apart).
geotransform() {
  gdalinfo -json "$1" | awk '/"geoTransform"/ { on = 1; next } on && /\]/ { on = 0 } on { gsub(/[ ,]/, ""); printf "%s ", $0 }'
}
# place <name> <xll> <yll> <cellsize> <epsg> <crs source>: a 4 x 3 grid written both ways.
# Sources: "line" (CRS,EPSG:n), "wkt" (CRS,<file> holding OGC WKT), "beside" (the .prj beside
# an ASC structure file).
place() {
  local name=$1 xll=$2 yll=$3 cs=$4 epsg=$5 source=$6
  mkdir "$name"
  (
    cd "$name"
    cp ../DEVICE.CNF .
    local crs="" file=""
    case $source in
      line) crs="CRS,EPSG:$epsg" ;;
      wkt) gdalsrsinfo -o wkt "EPSG:$epsg" > system.wkt; crs="CRS,system.wkt" ;;
      beside)
        printf 'ncols 4\nnrows 3\nxllcorner %s\nyllcorner %s\ncellsize %s\nnodata_value -9999\n' "$xll" "$yll" "$cs" > dem.asc
        gdalsrsinfo -o wkt_esri "EPSG:$epsg" > dem.prj
        file="FILE,ASC,dem.asc" ;;
    esac
    for type in ASC BIL; do
      if [ -n "$file" ]; then
        printf 'STRUCTURE\n%s\nEND:STRUCTURE\nSTOREFILE,%s,out\n' "$file" "$type" > "$type.pcf"
      else
        printf 'STRUCTURE\n#COLUMNS,4\n#ROWS,3\nXLL,%s\nYLL,%s\nCELLSIZE,%s\nNODATA,-9999\n%s\nEND:STRUCTURE\nSTOREFILE,%s,out\n' \
          "$xll" "$yll" "$cs" "$crs" "$type" > "$type.pcf"
      fi
      if [ "$built" != with-gdal ] && [ "$source" != beside ]; then
        # Without GDAL a CRS line is refused, with the reason.
        if "$program" "IN=$type.pcf" "OU=$type.lst" > /dev/null 2>&1; then echo "$name: CRS line accepted without GDAL" >&2; exit 1; fi
        grep -q "built without GDAL" "$type.lst" || { echo "$name: no reason for refusing the CRS line" >&2; exit 1; }
        sed -i '/^CRS,/d' "$type.pcf"
      fi
      "$program" "IN=$type.pcf" "OU=$type.lst" > /dev/null
    done
    local want got
    want=$(awk -v x="$xll" -v y="$yll" -v c="$cs" 'BEGIN { printf "%.17g %.17g 0 %.17g 0 %.17g", x, c, y + 3 * c, -c }')
    for f in out.ASC out.BIL; do
      got=$(geotransform "$f" | awk '{ printf "%.17g %.17g %.17g %.17g %.17g %.17g", $1, $2, $3, $4, $5, $6 }')
      if [ "$got" != "$want" ]; then
        echo "$name: GDAL places $f at $got, asked was $want" >&2
        exit 1
      fi
      if [ "$built" = with-gdal ] || [ "$source" = beside ]; then
        [ -f out.prj ] || { echo "$name: no out.prj beside $f" >&2; exit 1; }
        got=$(gdalsrsinfo -e -o epsg "$f" | awk '/^EPSG:/ && !done { print; done = 1 }')
        [ "$got" = "EPSG:$epsg" ] || { echo "$name: GDAL reads the CRS of $f as '$got', not EPSG:$epsg" >&2; exit 1; }
      fi
    done
    echo "$name: GDAL reads corner ($xll, $yll), cell size $cs and EPSG:$epsg from both outputs"
  )
}
place utm 650000.25 5800000.25 0.5 32631 line
place rd 155000.125 463000.375 0.25 28992 beside
place geographic -180.0 -90.0 0.000833333333 4326 wkt
