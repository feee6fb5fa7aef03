#!/usr/bin/env bash
# On a terminal the keyboard counts: Escape stops a run with status 101, leaving the listing
# completed, no output file and the terminal as it was; a key ends the wait of the
# missing-DEVICE.CNF notice at once. `script` gives the program a pseudo-terminal.
set -euo pipefail
program=$1
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

mkdir "$work/escape"
cd "$work/escape"
touch DEVICE.CNF
# The command file is a pipe, so the run waits for its commands until Escape has been read:
# a run of a few milliseconds could otherwise end before the key arrives.
mkfifo TervalaGridCreate.PCF
status=0
( (printf '\033'; sleep 1
   timeout 30 sh -c 'printf "STRUCTURE\n#COLUMNS,2000\n#ROWS,2000\nEND:STRUCTURE\nSTOREFILE,ASC,out\n" > TervalaGridCreate.PCF' || true
   sleep 1) | timeout 60 script -qec "$program" /dev/null > screen.txt ) || status=$?
[ "$status" -eq 101 ] || { echo "Escape: status $status, expected 101" >&2; exit 1; }
[ ! -e out.ASC ] || { echo "Escape: the output was written" >&2; exit 1; }
tail -n 1 TervalaGridCreate.out | grep -q '^ *[0-9/]*/1$' || { echo "Escape: the listing's last page is not completed" >&2; exit 1; }

mkdir "$work/nocnf"
cd "$work/nocnf"
printf 'STOREFILE,ASC,out\n' > TervalaGridCreate.PCF
start=$(date +%s)
status=0
( (sleep 0.5; printf 'x'; sleep 3) | timeout 60 script -qec "$program" /dev/null > screen.txt ) || status=$?
elapsed=$(( $(date +%s) - start ))
[ "$status" -eq 1 ] || { echo "missing DEVICE.CNF: status $status, expected 1" >&2; exit 1; }
[ "$elapsed" -lt 30 ] || { echo "missing DEVICE.CNF: the wait did not end on a key" >&2; exit 1; }
grep -q 'There is no configuration file DEVICE.CNF found.' screen.txt || { echo "missing DEVICE.CNF: no notice" >&2; exit 1; }
echo "keyboard on a terminal: Escape and the key wait behave"
