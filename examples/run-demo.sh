#!/usr/bin/env bash
# Runs the demo of examples/demo in a fresh copy under build/demo: generates the valley's
# inputs and runs TervalaGridCreate on them, which also draws build/demo/waterlevel.png.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$top/build"
run="$build/demo"
rm -rf "$run"
mkdir -p "$run"
cp -r "$top/examples/demo/." "$run/"
"$build/demo_valley" "$run"
cd "$run"
status=0
"$build/TervalaGridCreate" || status=$?
echo
echo "Demo run in $run (exit status $status):"
ls -l "$run"
if [ "$status" -eq 0 ]; then
  echo
  echo "The grid is $run/waterlevel.asc, its picture $run/waterlevel.png, where each value came"
  echo "from $run/sources.asc and $run/waterlevel_source.png, the listing of the run (with its"
  echo "report at the end) $run/TervalaGridCreate.out, and the report as JSON $run/run.json."
  echo "examples/README.md explains the command file line by line."
fi
exit "$status"
