#!/bin/sh
# Replaces what stands between the lines <!-- NAME --> and <!-- /NAME --> of
# FILE with standard input, so that a figure in the docs is rewritten by
# the command that measures it. Fails, leaving FILE alone, when FILE lacks
# either line.
#   write-between-markers.sh FILE NAME < block
set -eu
file=$1
name=$2
grep -qxF "<!-- $name -->" "$file" && grep -qxF "<!-- /$name -->" "$file" || {
  echo "$file has no lines <!-- $name --> and <!-- /$name -->" >&2
  exit 1
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
cat > "$work/block"
awk -v block="$work/block" -v first="<!-- $name -->" -v last="<!-- /$name -->" '
  $0 == last { while ((getline line < block) > 0) print line; skip = 0 }
  !skip { print }
  $0 == first { skip = 1 }' "$file" > "$work/file"
cat "$work/file" > "$file"
