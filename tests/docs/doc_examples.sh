#!/usr/bin/env bash
# Runs the examples of a documentation page as they stand. Comments on the page drive it:
#   <!-- example NAME -->     start a fresh folder (a page starts in one) with an empty DEVICE.CNF
#   <!-- write FILE -->       the next fenced block is the file's contents
#   <!-- run status=N -->     the next fenced block is the command line; the run must end with N
#   <!-- expect FILE -->      the next fenced block is the whole file (trailing blanks aside)
#   <!-- expect-lines FILE -->  each line of the next block is a line of the file, in order
#   <!-- absent FILE -->      the file must not exist
#
#   doc_examples.sh <program> <page.md>...
set -euo pipefail
program=$1
shift
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "$page: $*" >&2
  failures=$((failures + 1))
}

# Each action becomes: a line "ACTION ARG" followed by the block's lines and a line "@@END".
actions() {
  awk '
    /^<!-- (example|write|run|expect|expect-lines|absent) .*-->$/ {
      sub(/^<!-- /, ""); sub(/ -->$/, ""); pending = $0
      if ($1 == "example" || $1 == "absent") { print pending; print "@@END"; pending = "" }
      next
    }
    /^```/ {
      if (inblock) { inblock = 0; if (pending != "") { print "@@END"; pending = "" } ; next }
      inblock = 1
      if (pending != "") print pending
      next
    }
    inblock && pending != "" { print "|" $0 }
  ' "$1"
}

for page in "$@"; do
  n=0
  dir="$work/$(basename "$page" .md)"
  mkdir -p "$dir"
  : > "$dir/DEVICE.CNF"
  block=()
  action=""
  while IFS= read -r line; do
    if [ -z "$action" ]; then
      action=$line
      block=()
      continue
    fi
    if [ "$line" != "@@END" ]; then
      block+=("${line#|}")
      continue
    fi
    set -- $action
    kind=$1
    arg=${2:-}
    n=$((n + 1))
    case "$kind" in
      example)
        dir="$work/$(basename "$page" .md)-$arg"
        mkdir -p "$dir"
        : > "$dir/DEVICE.CNF"
        ;;
      write)
        printf '%s\n' "${block[@]}" > "$dir/$arg"
        ;;
      run)
        want=${arg#status=}
        args=${block[0]#TervalaGridCreate}
        status=0
        (cd "$dir" && "$program" $args > stdout.txt 2> stderr.txt) || status=$?
        [ "$status" -eq "$want" ] || fail "example $n: the run ended with $status, the page says $want"
        ;;
      expect)
        if [ ! -f "$dir/$arg" ]; then
          fail "example $n: $arg was not written"
        elif ! diff <(printf '%s\n' "${block[@]}" | sed 's/[[:space:]]*$//') <(sed 's/[[:space:]]*$//' "$dir/$arg") > "$work/diff"; then
          fail "example $n: $arg differs from the page:"
          cat "$work/diff" >&2
        fi
        ;;
      expect-lines)
        at=0
        mapfile -t have < <(sed 's/[[:space:]]*$//' "$dir/$arg" 2> /dev/null || true)
        for want_line in "${block[@]}"; do
          want_line=$(printf '%s' "$want_line" | sed 's/[[:space:]]*$//')
          while [ "$at" -lt "${#have[@]}" ] && [ "${have[$at]}" != "$want_line" ]; do at=$((at + 1)); done
          if [ "$at" -ge "${#have[@]}" ]; then
            fail "example $n: $arg has no line \"$want_line\" where the page shows it"
            break
          fi
          at=$((at + 1))
        done
        ;;
      absent)
        [ ! -e "$dir/$arg" ] || fail "example $n: $arg exists"
        ;;
    esac
    action=""
  done < <(actions "$page")
  echo "$page: $n examples checked"
done
[ "$failures" -eq 0 ]
