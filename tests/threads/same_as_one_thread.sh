#!/usr/bin/env bash
# A run on several threads writes exactly what a run on one thread writes: the grid, the
# table files and the listing (its date lines aside), for a CELL and a MIDDLE structure with
# every kind of set.
set -euo pipefail
program=$1
mkinput=$2
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
status=0
for pcf in TervalaGridCreate.PCF middle.pcf; do
  for threads in 1 2 3; do
    dir="$work/$pcf-$threads"
    mkdir -p "$dir"
    cp -r "$here/mixed/." "$dir"
    (
      cd "$dir"
      "$mkinput" lga warped.lga.txt warped.lga
      "$mkinput" cco warped.cco.txt warped.cco
      "$mkinput" map warped.map.txt warped.map
      "$program" "IN=$pcf" "THREADS=$threads" > /dev/null
      sed -i 's/^.*\.  program = /<date>.  program = /' TervalaGridCreate.out
    )
  done
  for threads in 2 3; do
    if ! diff -r "$work/$pcf-1" "$work/$pcf-$threads" > /dev/null; then
      echo "$pcf: $threads threads differ from one:" >&2
      diff -r "$work/$pcf-1" "$work/$pcf-$threads" | head -5 >&2
      status=1
    fi
  done
  ls "$work/$pcf-1" | grep -qi '\.tab$' || { echo "$pcf: no table written" >&2; status=1; }
done
[ $status -eq 0 ] && echo "runs on 1, 2 and 3 threads write the same files"
exit $status
