#!/usr/bin/env bash
# The data people have, through GDAL: inputs that GDAL's own tools (gdal_translate, ogr2ogr)
# write from the ASC, BIL, point and polygon files of end-to-end cases give the very grids of
# those cases. Rasters as grid sets (TIF, GDAL with a VRT, a 16-bit band, BAND=n) and as the
# structure's FILE; GeoTIFF output against the BIL output of the same run; vector points
# (GeoPackage) and polygons (shapefile); polygons with holes and a value per polygon; the
# WARNING of a differing coordinate reference system.
#   gdal_inputs_match.sh <program> <mkinput> <tests/runs> <tests/gdal>
set -euo pipefail
program="$(realpath "$1")"
mkinput="$(realpath "$2")"
runs="$(realpath "$3")"
here="$(realpath "$4")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# A fresh copy of a case (or of a folder of this directory) with its binary inputs made.
prepare() {
  rm -rf "${work:?}/$2"
  cp -r "$1" "$work/$2"
  cd "$work/$2"
  if [ -f setup ]; then
    while read -r cmd; do
      [ -n "$cmd" ] && "$mkinput" $cmd
    done <setup
  fi
  return 0
}

# Runs the program and checks its exit status against the case's.
run() {
  local want=0 got=0
  [ -f status ] && want=$(cat status)
  "$program" >stdout.txt 2>stderr.txt || got=$?
  [ "$got" = "$want" ] || { cat TervalaGridCreate.out >&2; fail "$1: exit status $got, the case expects $want"; }
}

same() { cmp -s "$2" "$3" || fail "$1: $2 differs from $3"; }

translate() { gdal_translate -q -co TILED=YES -co BLOCKXSIZE=16 -co BLOCKYSIZE=16 -co COMPRESS=DEFLATE "$@"; }

# ---------------------------------------------------------------- rasters as grid sets

# ASC grids as tiled, compressed GeoTIFFs (TIF), and as VRTs (GDAL).
prepare "$runs/regrid_cell_structure" tif_sets
for g in a b c; do translate $g.asc $g.tif; done
sed -i 's/^TERVALAGRID,ASC,CELL,\(.\)\.asc/TERVALAGRID,TIF,CELL,\1.tif/' TervalaGridCreate.PCF
grep -q "TERVALAGRID,TIF" TervalaGridCreate.PCF || fail "tif_sets: command file not rewritten"
run tif_sets
same tif_sets out.asc expected/out.asc
# In bands of one row the GeoTIFF sets are read again band by band and give the same grid.
"$program" MEMORY=0.0005 BAND=1 >/dev/null 2>&1 || fail "tif_sets: the run in bands failed"
same tif_sets out.asc expected/out.asc

# Larger GeoTIFF sets read again band by band: tiles of 32, strips of 5 rows, a Float32 band
# whose NODATA is NaN; one set on the structure's own grid, two on other grids. Runs in bands
# of one row, of seven rows and of what the memory bound allows give the whole run's grid
# byte for byte.
mkdir -p "$work/tif_bands" && cd "$work/tif_bands" && touch DEVICE.CNF
awk -v nc=300 -v nr=220 -v xll=990 -v yll=1985 -v cs=3.1 -v seed=3 -f "$here/make_grid.awk" >g1.asc
awk -v nc=120 -v nr=90 -v xll=1000 -v yll=2000 -v cs=7 -v seed=5 -f "$here/make_grid.awk" >g2.asc
awk -v nc=250 -v nr=180 -v xll=995 -v yll=1990 -v cs=3.3 -v seed=9 -f "$here/make_grid.awk" >g3.asc
gdal_translate -q -co TILED=YES -co BLOCKXSIZE=32 -co BLOCKYSIZE=32 -co COMPRESS=DEFLATE -co PREDICTOR=3 \
  -ot Float32 -a_nodata -9999 g1.asc g1.tif
gdal_translate -q -co BLOCKYSIZE=5 -co COMPRESS=DEFLATE -a_nodata -9999 g2.asc g2.tif
gdalwarp -q -ot Float32 -dstnodata nan -co TILED=YES -co BLOCKXSIZE=16 -co BLOCKYSIZE=16 g3.asc g3.tif
for method in AVERAGE MAXIMUM; do
  cat >TervalaGridCreate.PCF <<PCF
STRUCTURE
#COLUMNS,120
#ROWS,90
XLL,1000
YLL,2000
CELLSIZE,7
NODATA,-1
DATARELATEDTO,CELL
END:STRUCTURE
STOREFILE,BIL,out
RUN-METHOD,$method
TERVALAGRID,TIF,CELL,g1.tif,2
TERVALAGRID,TIF,CELL,g2.tif,1
TERVALAGRID,TIF,MIDDLE,g3.tif,2
PCF
  "$program" >/dev/null 2>&1 || fail "tif_bands $method: the whole run failed"
  mv out.BIL whole.BIL
  # 0.08 MiB keeps none of the three whole; 0.25 MiB keeps the two smaller ones and sizes the
  # bands itself.
  for bound in "MEMORY=0.08 BAND=1" "MEMORY=0.08 BAND=7" "MEMORY=0.25"; do
    "$program" $bound >/dev/null 2>&1 || {
      cat TervalaGridCreate.out >&2
      fail "tif_bands $method: the run with $bound failed"
    }
    same "tif_bands $method $bound" out.BIL whole.BIL
  done
done
# The same sets as ASC give the same grid.
sed -i 's/TIF,\(.*\)\.tif/ASC,\1.asc/' TervalaGridCreate.PCF
"$program" >/dev/null 2>&1 || fail "tif_bands: the ASC run failed"
same "tif_bands ASC" out.BIL whole.BIL

prepare "$runs/regrid_cell_structure" vrt_sets
for g in a b c; do gdal_translate -q -of VRT $g.asc $g.vrt; done
sed -i 's/^TERVALAGRID,ASC,CELL,\(.\)\.asc/TERVALAGRID,GDAL,CELL,\1.vrt/' TervalaGridCreate.PCF
run vrt_sets
same vrt_sets out.asc expected/out.asc

# BAND=n: band 2 of a raster of two copies of the grid; band 3 does not exist.
prepare "$runs/regrid_cell_structure" band_sets
for g in a b c; do translate -b 1 -b 1 $g.asc $g.tif; done
sed -i 's/^TERVALAGRID,ASC,CELL,\(.\)\.asc\(.*\)/TERVALAGRID,TIF,CELL,\1.tif\2,BAND=2/' TervalaGridCreate.PCF
run band_sets
same band_sets out.asc expected/out.asc
sed -i 's/BAND=2/BAND=3/' TervalaGridCreate.PCF
"$program" >/dev/null 2>&1 && fail "band_sets: band 3 of a two-band raster was read"
grep -q "has 2 band(s), band 3 was asked for" TervalaGridCreate.out || fail "band_sets: no message for band 3"

# A 16-bit BIL raster as a 16-bit GeoTIFF: MINORITY accepts its negative values, as for the BIL.
prepare "$runs/minority_sixteen_bit_bil" int16_set
echo "byteorder I" >>i16.hdr  # without it GDAL takes a header's values as big-endian
translate i16.bil i16.tif
gdalinfo i16.tif | grep -q "Type=Int16" || fail "int16_set: gdal_translate did not keep 16 bits"
sed -i 's/^TERVALAGRID,BIL,MIDDLE,i16/TERVALAGRID,TIF,MIDDLE,i16.tif/' TervalaGridCreate.PCF
run int16_set
same int16_set out.BIL expected/out.BIL
same int16_set out.HDR expected/out.HDR

# ---------------------------------------------------------------- the structure's FILE

prepare "$runs/structure_from_bil_file" structure_tif
truncate -s 24 dem.bil  # the header's 3 x 2 cells of 32 bits
gdal_translate -q -a_nodata -1 dem.bil dem.tif
sed -i 's/^FILE,BIL,dem.bil/FILE,TIF,dem.tif/' TervalaGridCreate.PCF
run structure_tif
same structure_tif out.asc expected/out.asc

# ---------------------------------------------------------------- GeoTIFF output

# The same run writes BIL, TIF and COG: GDAL reads the very BIL values back from both TIFs.
prepare "$runs/regrid_cell_structure" tif_output
sed -i 's/^STOREFILE,.*/STOREFILE,BIL,out/' TervalaGridCreate.PCF
run tif_output
sed -i 's/^STOREFILE,.*/STOREFILE,TIF,out/' TervalaGridCreate.PCF
run tif_output
sed -i 's/^STOREFILE,.*/STOREFILE,TIF,cog,COG/' TervalaGridCreate.PCF
run tif_output
for t in out cog; do
  gdal_translate -q -of EHdr $t.TIF back_$t.bil
  same tif_output back_$t.bil out.BIL
  gdalinfo $t.TIF >info_$t.txt
  grep -q "COMPRESSION=DEFLATE" info_$t.txt || fail "tif_output: $t.TIF is not DEFLATE-compressed"
  grep -q "PREDICTOR=3" info_$t.txt || fail "tif_output: $t.TIF has no floating-point predictor"
  grep -q "NoData Value=-1" info_$t.txt || fail "tif_output: NODATA of $t.TIF"
  grep -q "Origin = (0.000000000000000,20.000000000000000)" info_$t.txt || fail "tif_output: origin of $t.TIF"
  grep -q "Pixel Size = (10.000000000000000,-10.000000000000000)" info_$t.txt || fail "tif_output: cell size of $t.TIF"
done
grep -q "Block=256x256" info_out.txt || fail "tif_output: out.TIF is not tiled"
grep -q "LAYOUT=COG" info_cog.txt || fail "tif_output: cog.TIF is not Cloud-Optimized"
ls | grep -q tmp && fail "tif_output: a temporary file was left: $(ls)"
# Written in bands of one row, and as two tiles joined by their VRT: the same values.
sed -i 's/^STOREFILE,.*/STOREFILE,TIF,banded/' TervalaGridCreate.PCF
"$program" MEMORY=0.0005 BAND=1 >/dev/null 2>&1 || fail "tif_output: the run in bands failed"
gdal_translate -q -of EHdr banded.TIF back_banded.bil
same tif_output back_banded.bil out.BIL
sed -i 's/^STOREFILE,.*/STOREFILE,TIF,tiled,COG/' TervalaGridCreate.PCF
for k in 1 2; do
  "$program" TILE=$k/2 BAND=1 >/dev/null 2>&1 || fail "tif_output: tile $k of 2 failed"
done
[ -f tiled_t001.TIF ] && [ -f tiled_t002.TIF ] || fail "tif_output: tiles missing: $(ls)"
gdal_translate -q -of EHdr tiled.vrt back_tiled.bil
same tif_output back_tiled.bil out.BIL

# INDICATE-EMPTY marks an empty GeoTIFF as it marks the others.
prepare "$here/holes" tif_empty
printf 'STRUCTURE\n#COLUMNS,3\n#ROWS,2\nEND:STRUCTURE\nSTOREFILE,TIF,out.tif\nINDICATE-EMPTY,YES\n' >TervalaGridCreate.PCF
run tif_empty
[ -f out_EMPTY.TIF ] || fail "tif_empty: no out_EMPTY.TIF: $(ls)"

# The source grid as a GeoTIFF of 32-bit (NBITS=32) and 16-bit integers: GDAL reads back the
# codes of the case's BIL source grid, with 0 as its NODATA and the grid's geometry.
for c in source_maximum_bil source_majority; do
  prepare "$runs/$c" "tif_$c"
  sed -i 's/^SOURCEFILE,[A-Z]*,sources/SOURCEFILE,TIF,sources/' TervalaGridCreate.PCF
  grep -q "^SOURCEFILE,TIF" TervalaGridCreate.PCF || fail "tif_$c: command file not rewritten"
  run "tif_$c"
  bits=$(awk '/^nBits/ {print $2}' expected/sources.HDR)
  gdalinfo sources.TIF | grep -q "Type=Int$bits" || fail "tif_$c: sources.TIF does not hold $bits-bit integers"
  gdalinfo sources.TIF | grep -q "NoData Value=0" || fail "tif_$c: sources.TIF has no NODATA 0"
  gdal_translate -q -of EHdr sources.TIF back.bil
  same "tif_$c" back.bil expected/sources.BIL
  grep -q "Source grid: sources.TIF" TervalaGridCreate.out || fail "tif_$c: the report does not name sources.TIF"
done

# ---------------------------------------------------------------- vector points

# A text point file as a GeoPackage layer: NODATA values become empty fields, radii from the
# file's buffer line a RADIUS field (unless the command line gives the radius).
points_to_gpkg() {
  local txt=$1 base=${1%.*}
  awk -F, 'NR == 1 { nodata = substr($0, 14) + 0; print "X,Y,VALUE,RADIUS"; next }
           NR == 2 && toupper($1) ~ /^ *BUFFER *$/ { if (toupper($2) ~ /YES/) { buf = 1; rad = $3 }; next }
           NF >= 3 { r = buf ? ($4 != "" ? $4 : rad) : ""; v = ($3 + 0 == nodata) ? "" : $3
                     print $1 "," $2 "," v "," r }' "$txt" >"$base.csv"
  ogr2ogr -f GPKG "$base.gpkg" "$base.csv" -nln "$base" -oo X_POSSIBLE_NAMES=X -oo Y_POSSIBLE_NAMES=Y \
    -oo AUTODETECT_TYPE=YES
  grep -qi "^BUFFER *, *YES" "$txt" && echo buffered || echo plain
}
for c in points_buffers_all_values points_buffers_closest points_middle_structure points_per_set_allvalues \
  points_per_set_average points_radius_on_the_line; do
  prepare "$runs/$c" "gpkg_$c"
  awk -F, 'toupper($1) == "POINTFILE" { print $2 "," $4 }' TervalaGridCreate.PCF >pointfiles.txt
  while IFS=, read -r txt radius; do
    kind=$(points_to_gpkg "$txt")
    base=${txt%.*}
    extra=""
    [ "$kind" = buffered ] && [ -z "$radius" ] && extra=",RADIUS=RADIUS"
    awk -F, -v OFS=, -v txt="$txt" -v base="$base" -v extra="$extra" \
      'toupper($1) == "POINTFILE" && $2 == txt { $2 = base ".gpkg"; sub(/,+$/, "")
                                                 $0 = $0 ",LAYER=" base ",VALUE=VALUE" extra } { print }' \
      TervalaGridCreate.PCF >pcf.new
    mv pcf.new TervalaGridCreate.PCF
  done <pointfiles.txt
  grep -q "gpkg" TervalaGridCreate.PCF || fail "$c: command file not rewritten"
  run "gpkg_$c"
  same "gpkg_$c" out.asc expected/out.asc
done

# ---------------------------------------------------------------- vector polygons

# A generate file (polygon or line file) as a shapefile: one polygon per ID, closed.
gen_to_shp() {
  local gen=$1 base=${1%.*}
  awk -F, 'BEGIN { print "WKT,ID" }
           { line = toupper($0); gsub(/^ +| +$/, "", line) }
           line == "CLOSE" && !started { next }
           { started = 1 }
           state == 0 { if (line == "END") exit; state = 1; n = 0; next }
           line == "END" { if (x[n] != x[1] || y[n] != y[1]) { n++; x[n] = x[1]; y[n] = y[1] }
                           w = "\"POLYGON ((" x[1] " " y[1]; for (i = 2; i <= n; i++) w = w ", " x[i] " " y[i]
                           print w "))\"," ++id; state = 0; next }
           { n++; x[n] = $1 + 0; y[n] = $2 + 0 }' "$gen" >"$base.csv"
  ogr2ogr -f "ESRI Shapefile" "$base.shp" "$base.csv" -oo GEOM_POSSIBLE_NAMES=WKT -oo KEEP_GEOM_COLUMNS=NO
}
for c in polygon_assign_concave polygon_cell_structure polygon_clear_then_reset polygon_line_file; do
  prepare "$runs/$c" "shp_$c"
  for gen in $(awk -F, 'toupper($1) == "POLYGONFILE" { print $2 }' TervalaGridCreate.PCF); do
    gen_to_shp "$gen"
    sed -i "s/^POLYGONFILE,$gen/POLYGONFILE,${gen%.*}.shp/" TervalaGridCreate.PCF
  done
  run "shp_$c"
  same "shp_$c" out.asc expected/out.asc
done

# Holes, multipolygons and a value per polygon: the same cells as the outer rings assigned and
# the holes reset in generate files (a cell in a hole is left alone, and nothing was
# assigned before), and as one ASSIGN line per polygon.
for relation in MIDDLE CELL; do
  prepare "$here/holes" "holes_$relation"
  sed -i "s/@RELATION@/$relation/" generate.pcf vector.pcf
  ogr2ogr -f GPKG lakes.gpkg lakes.csv -nln lakes -oo GEOM_POSSIBLE_NAMES=WKT -oo KEEP_GEOM_COLUMNS=NO \
    -oo AUTODETECT_TYPE=YES
  "$program" IN=generate.pcf >/dev/null 2>&1 || fail "holes_$relation: the generate run failed"
  mv out.asc generate.asc
  "$program" IN=vector.pcf >/dev/null 2>&1 || { cat vector.out >&2; fail "holes_$relation: the vector run failed"; }
  same "holes_$relation" out.asc generate.asc
  grep -q "0.750000E+01" out.asc || fail "holes_$relation: nothing assigned"
  # In bands of one row the polygons and their holes are applied band by band.
  "$program" IN=vector.pcf MEMORY=0.0005 BAND=1 >/dev/null 2>&1 || fail "holes_$relation: the run in bands failed"
  same "holes_$relation" out.asc generate.asc
done

# ---------------------------------------------------------------- coordinate reference systems

# A structure in RD New and grid sets in RD New and in WGS 84: one WARNING, for the second;
# values as they stand; the GeoTIFF output carries RD New.
prepare "$runs/structure_from_bil_file" crs
truncate -s 24 dem.bil
gdal_translate -q -a_nodata -1 -a_srs EPSG:28992 dem.bil dem.tif
gdal_translate -q -a_srs EPSG:28992 a.asc a_rd.tif
gdal_translate -q -a_srs EPSG:4326 a.asc a_wgs.tif
sed -i 's/^FILE,BIL,dem.bil/FILE,TIF,dem.tif/; s/^TERVALAGRID,ASC,MIDDLE,a.asc/TERVALAGRID,TIF,MIDDLE,a_rd.tif/' \
  TervalaGridCreate.PCF
run crs
same crs out.asc expected/out.asc
grep -q "WARNING" TervalaGridCreate.out && fail "crs: a WARNING for the same system"
sed -i 's/a_rd.tif/a_wgs.tif/; s/^STOREFILE,.*/STOREFILE,TIF,out/' TervalaGridCreate.PCF
"$program" >/dev/null 2>&1 || true
grep -q " The coordinate reference system of A_WGS.TIF differs from the structure's:" TervalaGridCreate.out ||
  fail "crs: no WARNING for a grid set in another system"
grep -q "WGS 84 (EPSG:4326)" TervalaGridCreate.out || fail "crs: the WARNING does not name the set's system"
gdalsrsinfo -o epsg out.TIF | grep -q "EPSG:28992" || fail "crs: the output does not carry the structure's system"

echo "GDAL's rasters and vector layers give the grids of the design's formats"
