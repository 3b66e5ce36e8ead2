#!/usr/bin/env bash
# Every zef command block of the README, docs/zef.md and docs/firmware.md
# marked for this test run as written in a folder whose icons/ holds the
# example sprites and their masks, with the built zef first on the PATH; each must succeed
# and leave the files it names.
#   zef_blocks_test.sh SOURCE_DIR ZEF
set -euo pipefail
root=$1
zef=$2
fail() { echo "$*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
ln -s "$zef" "$work/bin/zef"
blocks=0
for document in "$root/README.md" "$root/docs/zef.md" "$root/docs/firmware.md"; do
  awk '/^<!-- run by tests\/docs\/zef_blocks_test.sh -->$/ { marked = 1; next }
       marked && /^```sh$/ { inblock = 1; marked = 0; next }
       inblock && /^```$/ { inblock = 0; next }
       inblock { sub(/^\$ /, ""); print }' "$document" > "$work/block.sh"
  [ -s "$work/block.sh" ] || fail "${document#"$root"/} marks no zef block for this test"
  rm -rf "$work/run"
  mkdir -p "$work/run/icons"
  cp "$root"/examples/*.png "$work/run/icons/"
  (cd "$work/run" && PATH="$work/bin:$PATH" bash -e "$work/block.sh" > "$work/run.log" 2>&1) ||
    { cat "$work/run.log" >&2; fail "the zef block of ${document#"$root"/} fails"; }
  # every file or folder a command writes with -o, --header or > is there
  # (comments aside)
  for made in $(grep -o -e '-o [^ ]*' -e '--header [^ ]*' -e '> [^ ]*' <(sed 's/#.*//' "$work/block.sh") | awk '{ print $2 }'); do
    [ -e "$work/run/$made" ] || fail "the zef block of ${document#"$root"/} makes no $made"
  done
  blocks=$((blocks + 1))
done
echo "the $blocks zef blocks run as written"
