#!/usr/bin/env bash
# Writes GeoTIFF seeds for the geotiff target into a folder, with GDAL's own gdal_translate:
# tiled and striped, compressed and not, several value types, NODATA as a number and as NaN,
# and the same files cut short.
#   geotiff_seeds.sh <fixtures folder> <out folder>
set -euo pipefail
fixtures=$1
out=$2
mkdir -p "$out"
base="$fixtures/base.asc"
t() { gdal_translate -q "$base" "$out/$1.tif" "${@:2}"; }
t plain
t tiled -ot Float32 -co TILED=YES -co BLOCKXSIZE=16 -co BLOCKYSIZE=16 -co COMPRESS=DEFLATE -co PREDICTOR=3
t int16 -ot Int16 -co COMPRESS=LZW
t float64 -ot Float64 -co COMPRESS=DEFLATE -co PREDICTOR=2 -a_nodata nan
t byte -ot Byte -scale -co TILED=YES
t crs -a_srs EPSG:28992 -co COMPRESS=PACKBITS
for f in "$out"/*.tif; do
  size=$(stat -c %s "$f")
  head -c $((size / 2)) "$f" >"${f%.tif}-half.tif"
  head -c 200 "$f" >"${f%.tif}-head.tif"
done
