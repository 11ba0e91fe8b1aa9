#!/usr/bin/env bash
# Every ```c block of the given Markdown files is a whole C99 file that compiles cleanly with
# -Wall -Wextra -Werror against the public headers; a block with a main() is linked to the library
# and run with a baked bundle as its one argument, and must exit 0.
#   docs_test.sh INCLUDE_DIRS(colon-separated) LIBRARY BUNDLE FILE.md...
set -euo pipefail
IFS=: read -r -a includes <<< "$1"
library=$2
bundle=$3
shift 3
work=$(mktemp -d "${TMPDIR:-/tmp}/le-docs-XXXXXX")
trap 'rm -rf "$work"' EXIT
cflags=(-std=c99 -Wall -Wextra -Werror)
for dir in "${includes[@]}"; do cflags+=(-I"$dir"); done

count=0
for doc in "$@"; do
  # One file per block, named after the document and the block's first line number.
  awk -v out="$work/$(basename "$doc" .md)" '
    /^```c[[:space:]]*$/ { inside = 1; file = out "_" NR ".c"; next }
    /^```/ && inside     { inside = 0; close(file); next }
    inside               { print > file }' "$doc"
done
for block in "$work"/*.c; do
  [ -e "$block" ] || continue
  count=$((count + 1))
  if grep -q 'int main' "$block"; then
    cc "${cflags[@]}" -o "${block%.c}" "$block" "$library" -Wl,-rpath,"$(dirname "$library")" ||
      { echo "docs test: $(basename "$block") does not build" >&2; exit 1; }
    "${block%.c}" "$bundle" > /dev/null ||
      { echo "docs test: $(basename "$block") failed on $bundle" >&2; exit 1; }
  else
    cc "${cflags[@]}" -c -o "${block%.c}.o" "$block" ||
      { echo "docs test: $(basename "$block") does not compile" >&2; exit 1; }
  fi
done
[ "$count" -gt 0 ] || { echo "docs test: no C samples found in $*" >&2; exit 1; }
echo "docs test: $count C samples compiled"
