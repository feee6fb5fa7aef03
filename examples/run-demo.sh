#!/usr/bin/env bash
# Runs the demo of examples/demo in a fresh copy under build/demo: generates the valley's
# inputs, runs TervalaGridCreate on them and draws the result as build/demo/waterlevel.png.
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
if [ "$status" -eq 0 ]; then
  "$build/demo_picture" waterlevel.asc waterlevel.png "WATER LEVEL (m)"
fi
echo
echo "Demo run in $run (exit status $status):"
ls -l "$run"
if [ "$status" -eq 0 ]; then
  echo
  echo "The grid is $run/waterlevel.asc, its picture $run/waterlevel.png,"
  echo "and the listing of the run $run/TervalaGridCreate.out."
  echo "examples/README.md explains the command file line by line."
fi
exit "$status"
