#!/usr/bin/env bash
# Faults during a run: a signal, a full disk, a read-only folder and too little memory each end
# the run with a non-zero status and a message, leave no output (and no temporary file) behind,
# and leave the terminal as it was.
set -euo pipefail
program=$1
sanitized=${2:-}
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "$*" >&2; exit 1; }
# has_block <listing> < block: the message block stands whole in the listing, line by line.
here="$(cd "$(dirname "$0")" && pwd)"
has_block() { python3 "$here/../tools/hasblock.py" "$@"; }

# A run that is busy for a long while in its cell loop: each of 3000 points has a buffer that
# covers the whole structure, and every point counts for every cell.
busy_run() {
  mkdir -p "$1"
  cd "$1"
  touch DEVICE.CNF
  printf 'STRUCTURE\n#COLUMNS,1000\n#ROWS,1000\nCELLSIZE,1\nDATARELATEDTO,CELL\nEND:STRUCTURE\nSTOREFILE,ASC,out\nMETHOD-PER-SET,ALL-VALUES,MULTIPLE-BUFFERS=ALL-VALUES\nPOINTFILE,pts.txt\n' \
    > TervalaGridCreate.PCF
  awk 'BEGIN { print "NODATA_VALUE,-9999"; print "BUFFER,YES,100000"; for (i = 0; i < 3000; i++) printf "%d,%d,%d\n", i % 997, i % 991, i }' > pts.txt
}
# Only the inputs and the listing may be left.
only_inputs_left() {
  local left
  left=$(ls -A | grep -v -x -e DEVICE.CNF -e TervalaGridCreate.PCF -e pts.txt -e TervalaGridCreate.out -e screen.txt \
    -e stty.before -e stty.after -e inner.sh || true)
  [ -z "$left" ] || fail "$1: files left behind: $left"
}

# SIGTERM from outside.
busy_run "$work/term"
"$program" > /dev/null 2>&1 &
pid=$!
sleep 1
kill -0 "$pid" 2>/dev/null || fail "SIGTERM: the run ended before the signal"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
[ "$status" -eq 143 ] || fail "SIGTERM: status $status, expected 143 (ended by the signal)"
only_inputs_left SIGTERM

# Ctrl-C on a terminal: the run ends on SIGINT and the terminal's settings are as before.
if command -v script > /dev/null; then
  busy_run "$work/int"
  # The shell around the run outlives the Ctrl-C (a trapped signal is default again in the run).
  cat > inner.sh <<INNER
trap ':' INT
stty -g > stty.before
"$program"
echo \$? > status.txt
stty -g > stty.after
INNER
  ( (sleep 1.5; printf '\003'; sleep 2) | timeout 60 script -qec "sh inner.sh" /dev/null > screen.txt ) || true
  [ -f status.txt ] || fail "SIGINT: the run did not end"
  status=$(cat status.txt)
  rm -f status.txt
  [ "$status" -eq 130 ] || fail "SIGINT: status $status, expected 130 (ended by the signal)"
  cmp -s stty.before stty.after || fail "SIGINT: the terminal settings changed"
  only_inputs_left SIGINT
fi

# A full disk while the grid is written: 2000 x 2000 values do not fit in 1 MB, as ASC text
# through the buffer or as BIL rows written straight from the grid.
for type in ASC BIL; do
  mkdir "$work/full-$type"
  cd "$work/full-$type"
  touch DEVICE.CNF
  printf 'STRUCTURE\n#COLUMNS,2000\n#ROWS,2000\nEND:STRUCTURE\nSTOREFILE,%s,out\n' "$type" > TervalaGridCreate.PCF
  status=0
  ( ulimit -f 2000; "$program" > /dev/null 2> stderr.txt ) || status=$?
  [ "$status" -eq 2 ] || fail "full disk ($type): status $status, expected 2"
  # The message and the error number (27, file too large).
  has_block TervalaGridCreate.out <<BLOCK || fail "full disk ($type): the message block is not in the listing"

 ERROR
 *****

 The file out.$type could not be written.
 Error number=000027
BLOCK
  rm stderr.txt
  only_inputs_left "full disk ($type)"
done

# A folder the run may not write in (as an ordinary user; root may write anywhere).
mkdir "$work/readonly"
cd "$work/readonly"
touch DEVICE.CNF
mkdir locked
printf 'STRUCTURE\n#COLUMNS,3\n#ROWS,2\nEND:STRUCTURE\nSTOREFILE,ASC,locked/out\n' > TervalaGridCreate.PCF
chmod 555 locked
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  # The ordinary user must reach the program (a clone under /root is out of its reach).
  if command -v setpriv > /dev/null &&
    setpriv --reuid=65534 --regid=65534 --clear-groups test -x "$program"; then
    chmod 755 "$work"
    chmod 777 .
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  else
    as_user=(skip)
    echo "read-only folder: not tried, no ordinary user can reach the program"
  fi
fi
if [ "${as_user[0]:-}" != skip ]; then
  status=0
  "${as_user[@]}" "$program" > /dev/null 2>&1 || status=$?
  [ "$status" -eq 2 ] || fail "read-only folder: status $status, expected 2"
  # The message and the error number (13, permission denied).
  has_block TervalaGridCreate.out <<'BLOCK' || fail "read-only folder: the message block is not in the listing"

 ERROR
 *****

 The file locked/out.ASC could not be opened.
 Error number=000013
BLOCK
  [ -z "$(ls -A locked)" ] || fail "read-only folder: files left in it"
fi

# A structure larger than the memory the run may have, with a MEMORY bound that lets the run
# try to hold it whole. (The address sanitizer reserves more address space than any such
# limit allows, so a sanitized build skips this.) Within its bound the run works in bands of
# rows instead; a bound too small for even one band is refused.
if [ "$sanitized" = sanitized ]; then
  echo "faults during a run: each ends the run cleanly (memory limit not tried under the sanitizer)"
  exit 0
fi
mkdir "$work/memory"
cd "$work/memory"
touch DEVICE.CNF
printf 'STRUCTURE\n#COLUMNS,50000\n#ROWS,50000\nEND:STRUCTURE\nSTOREFILE,ASC,out\n' > TervalaGridCreate.PCF
status=0
( ulimit -v 2000000; "$program" MEMORY=100000 > /dev/null 2>&1 ) || status=$?
[ "$status" -ne 0 ] || fail "too little memory: the run succeeded"
has_block TervalaGridCreate.out <<'BLOCK' || fail "too little memory: the message block is not in the listing"

 ERROR
 *****

 The structure of 50000 columns and 50000 rows does not fit in memory.
 It needs 11920 MiB.
 The memory bound is MEMORY=100000 MiB (DEVICE.CNF or the run string).
 With a bound below what the run needs it is computed in bands of rows; the bound itself
 must fit in the memory this machine can give.
BLOCK
[ ! -e out.ASC ] || fail "too little memory: an output was written"
status=0
"$program" MEMORY=0.0001 > /dev/null 2>&1 || status=$?
[ "$status" -eq 2 ] || fail "bound below one band: status $status, expected 2"
has_block TervalaGridCreate.out <<'BLOCK' || fail "bound below one band: the message block is not in the listing"

 ERROR
 *****

 The memory bound is too small for even one band of rows of the structure:
 one row with the input rows it reads takes 440 KiB, and
 the input grids held whole and the readers take 0 KiB.
 The memory bound is MEMORY=0.0001 MiB (DEVICE.CNF or the run string).
 With a bound below what the run needs it is computed in bands of rows; the bound itself
 must fit in the memory this machine can give.
BLOCK
[ ! -e out.ASC ] || fail "bound below one band: an output was written"
echo "faults during a run: each ends the run cleanly"
