#!/usr/bin/env bash
# Plants one-line faults in a copy of the source tree, one at a time, builds the copy and runs
# the test suite against each, and reports which faults the suite catches and which survive.
# Not run by CI: each fault costs a build and a run of the suite (minutes in all).
#
#   tests/tools/mutate.sh [fault list] [ctest arguments...]
#
# The fault list (default tests/tools/mutations.txt) holds one fault a line:
#   path:text as it stands => text planted in its place
# The text must stand on exactly one line of the file (a fault that no longer matches, after
# the code changed, is reported as "stale" and not run). Blank lines and lines starting with
# "#" are skipped. MUTATE_DIR keeps the copy (and its build) for a later run.
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
list="${1:-$top/tests/tools/mutations.txt}"
shift || true
copy="${MUTATE_DIR:-$(mktemp -d)}"
[ -n "${MUTATE_DIR:-}" ] || trap 'rm -rf "$copy"' EXIT
mkdir -p "$copy/tree"
# The working tree as it stands (committed or not), without builds and git's own files.
(cd "$top" && git ls-files -co --exclude-standard -z | while IFS= read -r -d '' f; do
  [ ! -e "$f" ] || printf '%s\0' "$f"
done | tar --null -T - -cf -) | tar -C "$copy/tree" -xf -
build="$copy/build"
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$copy/tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" > /dev/null
run_suite() {
  # The first failing test is enough to call a fault caught.
  ctest --test-dir "$build" -j2 --timeout 300 --stop-on-failure "$@" > "$copy/ctest.log" 2>&1
}
cmake --build "$build" > "$copy/build.log" 2>&1 || { echo "the unchanged tree does not build: $copy/build.log" >&2; exit 1; }
run_suite "$@" || { echo "the suite fails on the unchanged tree: $copy/ctest.log" >&2; exit 1; }

total=0
caught=0
survived=()
printf '%-8s %-40s %s\n' result fault "caught by"
while IFS= read -r line || [ -n "$line" ]; do
  case "$line" in '' | '#'*) continue ;; esac
  file="${line%%:*}"
  rest="${line#*:}"
  from="${rest%% => *}"
  to="${rest#* => }"
  target="$copy/tree/$file"
  short="$file:$(grep -n -F -- "$from" "$target" 2> /dev/null | head -1 | cut -d: -f1)"
  if [ ! -f "$target" ] || [ "$(grep -c -F -- "$from" "$target")" != 1 ]; then
    printf '%-8s %-40s %s\n' stale "$file" "(the text is not on exactly one line: $from)"
    continue
  fi
  cp "$target" "$copy/original"
  content="$(cat "$copy/original")"
  printf '%s\n' "${content/"$from"/"$to"}" > "$target"
  total=$((total + 1))
  if ! cmake --build "$build" > "$copy/build.log" 2>&1; then
    result="no-build"
    by="(does not compile: not counted)"
    total=$((total - 1))
  elif run_suite "$@"; then
    result=SURVIVED
    by="-"
    survived+=("$short: $from => $to")
  else
    result=caught
    caught=$((caught + 1))
    by="$(sed -n '/The following tests FAILED/,$p' "$copy/ctest.log" | sed -n '2p' | sed 's/^[[:space:]]*[0-9]* - //')"
  fi
  printf '%-8s %-40s %s\n' "$result" "$short" "$by"
  # Restored with a new time, so that the next build compiles the file again.
  cat "$copy/original" > "$target"
done < "$list"
# The build as the unchanged tree gives it, for a later run in the same MUTATE_DIR.
cmake --build "$build" > "$copy/build.log" 2>&1 || true
echo
echo "caught $caught of $total faults"
for s in "${survived[@]}"; do echo "survived: $s"; done
