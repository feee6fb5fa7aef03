#!/usr/bin/env bash
# A program built without GDAL (-DTERVALA_GDAL=OFF), or one whose GDAL library cannot be
# loaded, refuses every input and output that needs it, clearly, and still runs on its own
# formats.
#   without_gdal.sh <program> [the message's words]
set -euo pipefail
program="$(realpath "$1")"
message="${2:-built without GDAL}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
touch DEVICE.CNF dem.tif wells.gpkg
structure='STRUCTURE\n#COLUMNS,3\n#ROWS,2\nEND:STRUCTURE\n'
refused() {
  printf "$1" >TervalaGridCreate.PCF
  local status=0
  "$program" >/dev/null 2>&1 || status=$?
  [ "$status" = 2 ] || { echo "exit status $status for: $1" >&2; exit 1; }
  grep -q "$message" TervalaGridCreate.out || { echo "no message for: $1" >&2; exit 1; }
  rm -f TervalaGridCreate.out
}
refused "${structure}STOREFILE,ASC,out\nTERVALAGRID,TIF,CELL,dem.tif\n"
refused "${structure}STOREFILE,ASC,out\nTERVALAGRID,GDAL,CELL,dem.tif\n"
refused "STRUCTURE\nFILE,TIF,dem.tif\nEND:STRUCTURE\nSTOREFILE,ASC,out\n"
refused "${structure}STOREFILE,TIF,out\n"
refused "${structure}STOREFILE,ASC,out\nPOINTFILE,wells.gpkg,,,VALUE=HEAD\n"
refused "${structure}STOREFILE,ASC,out\nPOLYGONFILE,wells.gpkg,ASSIGN,1\n"
refused "${structure}STOREFILE,ASC,out\nSOURCEFILE,TIF,sources\n"
printf "${structure}STOREFILE,ASC,out\n" >TervalaGridCreate.PCF
"$program" >/dev/null 2>&1 || { echo "the design's formats no longer run" >&2; exit 1; }
[ -f out.ASC ] || { echo "no out.ASC" >&2; exit 1; }
echo "TIF, GDAL and vector layers are refused without GDAL: $message"
