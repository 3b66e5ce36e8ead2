#!/usr/bin/env bash
# docs/lvgl.md from a fresh install prefix: its C snippets, cut out of the
# page, compile in a project that gets the example icons through
# zef_add_assets(... LVGL lvgl), and the program they make shows an icon
# from the embedded archive and from the same archive on an lv_fs drive.
#   lvgl_assets_test.sh BUILD_DIR LVGL_LIBRARY LVGL_DIR LVGL_CONF DOC ICONS_DIR [SANITIZE]
set -euo pipefail
build_dir=$1 lvgl_library=$2 lvgl_dir=$3 lvgl_conf=$4 doc=$5 icons=$6 sanitize=${7:-0}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*" >&2; exit 1; }

cmake --install "$build_dir" --prefix "$work/prefix" > /dev/null
mkdir "$work/snippets"
# The fenced block after each "compiled by" marker, up to its closing fence.
for name in memory file; do
  sed -n "/<!-- compiled by tests\/install\/lvgl_assets_test.sh: $name -->/,/<!-- end -->/p" "$doc" |
    sed -n '/^```c$/,/^```$/p' | sed '1d;$d' > "$work/snippets/$name.c"
  [ -s "$work/snippets/$name.c" ] || fail "docs/lvgl.md has no $name snippet"
done

flags=()
if [ "$sanitize" = 1 ]; then
  flags=(-DCMAKE_C_FLAGS=-fsanitize=address,undefined -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined)
fi
cmake -S "$here/lvgl" -B "$work/project" -DCMAKE_PREFIX_PATH="$work/prefix" -DLVGL_LIBRARY="$lvgl_library" \
  -DLVGL_DIR="$lvgl_dir" -DLVGL_CONF="$lvgl_conf" -DICONS_DIR="$icons" -DSNIPPETS_DIR="$work/snippets" \
  "${flags[@]}" > "$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "configure failed"; }
cmake --build "$work/project" > "$work/build.log" 2>&1 || { cat "$work/build.log"; fail "build failed"; }
grep -q "const lv_image_dsc_t ui_home = LV_ZEF_IMAGE_DSC" "$work/project/zef_assets/ui/ui.c" ||
  fail "zef_add_assets(... LVGL) wrote no descriptor for ui_home"
"$work/project/show" || fail "the snippets did not show the icon"
echo "docs/lvgl.md's snippets show the icon from memory and from lv_fs"
