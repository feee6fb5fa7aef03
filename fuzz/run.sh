#!/usr/bin/env bash
# Runs the fuzz targets with libFuzzer (clang), each for the given number of seconds, two at a
# time. Seeds come from the inputs of the end-to-end cases and from the kept findings in
# fuzz/regressions. A finding is written to build-fuzz/findings/<target>/ and fails the run;
# keep it as fuzz/regressions/<target>/<name> once it is fixed.
#
#   fuzz/run.sh [seconds] [target ...]      (default 20 seconds, every target)
#   FUZZ_SEED=1 fuzz/run.sh 20               (the same mutations on every run, as CI does)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
all=(items lines device bilheader asc points polygons lga cco map table prj geotiff)
[ "$#" -gt 0 ] && targets=("$@") || targets=("${all[@]}")
jobs=${FUZZ_JOBS:-2}
B=$PWD/build-fuzz

CC=clang CXX=clang++ cmake -S . -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTERVALA_FUZZ=ON -DTERVALA_TESTS=OFF >/dev/null
cmake --build "$B" >"$B/build.log" 2>&1 || { cat "$B/build.log"; echo "The fuzz targets did not build." >&2; exit 1; }
clang++ -std=c++20 -O1 -I. tests/tools/mkinput.cpp -o "$B/mkinput"

# Seeds: each input of the cases, once for each variant byte the target reads first.
seed() {  # target variants file...
  local t=$1 n=$2 v f
  shift 2
  mkdir -p "$B/corpus/$t"
  for f in "$@"; do
    [ -f "$f" ] || continue
    for ((v = 0; v < n; v++)); do
      { printf "\\x$(printf %02x "$v")"; cat "$f"; } >"$B/corpus/$t/$(basename "$(dirname "$f")")-$(basename "$f")-$v"
    done
  done
}
rm -rf "$B/corpus" "$B/models"
mkdir -p "$B/models"
for setup in tests/runs/*/setup; do
  d=$(dirname "$setup")
  while read -r kind from to; do
    [ -n "$kind" ] || continue
    "$B/mkinput" "$kind" "$d/$from" "$B/models/$(basename "$d")-$to" 2>/dev/null || true
  done <"$setup"
done
mkdir -p "$B/corpus/items" "$B/corpus/device"
i=0
cat tests/runs/*/*.PCF | grep -v '^\*' | sort -u | while IFS= read -r line; do
  i=$((i + 1))
  for v in 0 17 34 51 99 114; do
    { printf "\\x$(printf %02x "$v")"; printf '%s' "$line"; } >"$B/corpus/items/line-$i-$v"
  done
done
seed lines 4 tests/runs/*/*.PCF
for f in tests/runs/*/DEVICE.CNF; do
  [ -f "$f" ] || continue  # one case has a folder of that name
  cp "$f" "$B/corpus/device/$(basename "$(dirname "$f")")"
done
seed bilheader 2 tests/runs/*/*.hdr
seed asc 3 tests/runs/*/*.asc
seed points 4 tests/runs/point*/*.txt
seed polygons 3 tests/runs/*/*.gen
seed lga 3 "$B"/models/*.lga
seed cco 3 "$B"/models/*.cco
seed map 3 "$B"/models/*.map
seed table 1 tests/runs/*/*.TAB
# .prj seeds: ESRI and OGC WKT of a projected and a geographic system, where GDAL's tools are.
mkdir -p "$B/prj"
if command -v gdalsrsinfo >/dev/null 2>&1; then
  for c in 28992 32631 4326; do
    gdalsrsinfo -o wkt_esri "EPSG:$c" >"$B/prj/esri-$c.prj" 2>/dev/null || true
    gdalsrsinfo -o wkt "EPSG:$c" >"$B/prj/ogc-$c.prj" 2>/dev/null || true
  done
fi
seed prj 3 "$B"/prj/*.prj
if command -v gdal_translate >/dev/null; then
  mkdir -p "$B/corpus/geotiff"
  bash fuzz/geotiff_seeds.sh fuzz/fixtures "$B/corpus/geotiff"
fi

status=0
run_one() {
  local t=$1
  mkdir -p "$B/findings/$t" "$B/corpus/$t"
  local kept=()
  [ -d "fuzz/regressions/$t" ] && kept=("$PWD/fuzz/regressions/$t")
  local seeded=()
  [ -n "${FUZZ_SEED:-}" ] && seeded=(-seed="$FUZZ_SEED")
  if "$B/fuzz/fuzz_$t" "${seeded[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=3072 -print_final_stats=1 \
    -artifact_prefix="$B/findings/$t/" "$B/corpus/$t" "${kept[@]}" >"$B/findings/$t.log" 2>&1; then
    echo "$t: $(grep -E 'stat::number_of_executed_units' "$B/findings/$t.log" | awk '{print $2}') runs, no finding"
  else
    echo "$t: FINDING, see build-fuzz/findings/$t.log and build-fuzz/findings/$t/"
    return 1
  fi
}
export -f run_one
export B seconds
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_one {}' || status=1
exit $status
