#!/usr/bin/env bash
# GDAL (and so every GIS built on it) reads the BIL+HDR and ASC outputs with the right
# origin, cell size, NODATA and values.
set -euo pipefail
program=$1
mkinput=$2
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
