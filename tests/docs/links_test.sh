#!/usr/bin/env bash
# Every link between the README and the guides leads somewhere: the file
# exists, and a #part names a heading of it (as the web page makes its
# anchors: lower case, punctuation dropped, spaces as hyphens).
#   links_test.sh SOURCE_DIR
set -euo pipefail
root=$1
status=0
anchors() {
  awk '/^```/ { code = !code } !code && /^#+ / {
         sub(/^#+ /, ""); s = tolower($0); gsub(/[^a-z0-9 _-]/, "", s); gsub(/ /, "-", s); print s }' "$1"
}
for document in "$root/README.md" "$root"/docs/*.md; do
  folder=$(dirname "$document")
  while IFS= read -r link; do
    target=${link%%#*}
    part=${link#"$target"}
    part=${part#\#}
    file=$document
    [ -n "$target" ] && file=$folder/$target
    if [ ! -e "$file" ]; then
      echo "${document#"$root"/}: $link leads to no file" >&2
      status=1
    elif [ -n "$part" ] && ! anchors "$file" | grep -qxF "$part"; then
      echo "${document#"$root"/}: $link names no heading of ${file#"$root"/}" >&2
      status=1
    fi
  done < <(grep -o '\](\([^)]*\))' "$document" | sed 's/^](//; s/)$//' | grep -v '^[a-z]*://' || true)
done
[ $status -eq 0 ] && echo "every link of the README and the guides leads somewhere"
exit $status
