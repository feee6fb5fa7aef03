#!/usr/bin/env bash
# Runs the demo of examples/demo in a fresh copy under build/demo and shows what it wrote.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
program="$top/build/TervalaGridCreate"
run="$top/build/demo"
rm -rf "$run"
mkdir -p "$run"
cp -r "$top/examples/demo/." "$run/"
cd "$run"
status=0
"$program" || status=$?
echo
echo "Demo run in $run (exit status $status):"
ls -l "$run"
exit "$status"
