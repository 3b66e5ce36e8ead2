#!/usr/bin/env bash
# Runs ZefiConvert on a virtual display with 26 images and masks, start
# index 100, and both show options; checks every window's title and place
# (the 25th window starts the next column), then ends the key wait with a
# key typed into the tool's terminal and checks that the key stays unread.
#
#   window_test.sh <ZefiConvert> <zef_gui_fixture>
#
# Fails when the virtual display or its tools are missing: they are installed
# with the other packages.
set -u

tool=$(realpath "$1")
fixture=$(realpath "$2")
readonly image_count=26 start_index=100

# tools/install-deps.sh installs them, so a missing one is a fault of the
# machine, not a reason to skip.
for need in Xvfb:xvfb xdotool:xdotool tmux:tmux; do
  if ! command -v "${need%%:*}" >/dev/null 2>&1; then
    echo "${need%%:*} is not installed: install the Debian package ${need#*:} (tools/install-deps.sh)" >&2
    exit 1
  fi
done

work=$(mktemp -d)
socket="zef-gui-$$"
xvfb_pid=""
cleanup() {
  tmux -L "$socket" kill-server >/dev/null 2>&1
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Waits until the command succeeds; the limit only keeps a broken run from
# hanging the suite.
wait_until() {
  local turns=300
  until "$@"; do
    turns=$((turns - 1))
    [ "$turns" -gt 0 ] || return 1
    sleep 0.2
  done
}

# Under LeakSanitizer, the toolkit's own libraries are not ours to judge.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(dirname "$(realpath "$0")")/lsan.supp"

"$fixture" "$work" "$image_count" "$start_index" || { echo "FAIL: fixture"; exit 1; }

# Xvfb picks a free display itself and writes its number once it accepts
# clients.
Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
if ! wait_until test -s "$work/display"; then
  echo "FAIL: Xvfb did not start:"
  cat "$work/xvfb.log"
  exit 1
fi
export DISPLAY=":$(tr -d '\n' <"$work/display")"

# The tool's terminal is a tmux pane; its console output goes to a file.
# After the tool ends, the shell reads whatever key the tool left unread.
env -u TMUX tmux -L "$socket" -f /dev/null new-session -d -s gui -x 120 -y 30 \
  "cd '$work' && '$tool' -showOriginalImages -showConvertedImages gui.txt >out.txt 2>err.txt;
   echo \$? >rc.txt; IFS= read -r left; printf '%s' \"\$left\" >left.txt"

# True once the tool waits for its key, or has ended (then it never will).
prompt_shown() { grep -q 'press any key to continue' "$work/out.txt" 2>/dev/null || test -e "$work/rc.txt"; }
window_count() { xdotool search --name "$1" 2>/dev/null | wc -l; }
all_windows_mapped() {
  [ "$(window_count ' Image \(original\)$')" -eq "$image_count" ] &&
    [ "$(window_count ' Mask \(original\)$')" -eq "$image_count" ] &&
    [ "$(window_count ' zefImage \(compressed\)$')" -eq "$image_count" ]
}
give_up() {
  echo "FAIL: $*"
  echo "--- console output"
  cat "$work/out.txt" 2>/dev/null
  echo "--- error output"
  cat "$work/err.txt" 2>/dev/null
  exit 1
}
wait_until prompt_shown && ! test -e "$work/rc.txt" || give_up "the tool did not wait for a key"
wait_until all_windows_mapped || give_up "windows missing: $(window_count 'original|compressed') found"

grep -q '^read Bitmap(s) from gui.zef$' "$work/out.txt" || fail "archive not shown"
grep -q 'no window system' "$work/out.txt" && fail "window system not found"

# Checks the one window of that title: its place and, when given, its width.
# With no window manager there is no frame, so the client area reported
# here starts exactly where the window was moved to.
check_window() {
  local title=$1 x=$2 y=$3 width=${4:-}
  local pattern ids
  pattern="^$(printf '%s' "$title" | sed 's/[()]/\\&/g')\$"
  ids=$(xdotool search --name "$pattern")
  if [ "$(printf '%s\n' "$ids" | grep -c .)" -ne 1 ]; then
    fail "\"$title\": expected one window, found: $ids"
    return
  fi
  local X Y WIDTH HEIGHT WINDOW SCREEN
  eval "$(xdotool getwindowgeometry --shell "$ids")"
  [ "$X,$Y" = "$x,$y" ] || fail "\"$title\" at $X,$Y, expected $x,$y"
  if [ -n "$width" ] && [ "$WIDTH" -ne "$width" ]; then
    fail "\"$title\" is $WIDTH wide, expected $width"
  fi
}

for ((i = 0; i < image_count; i++)); do
  number=$((start_index + i))
  column=$((i / 24))
  y=$((30 * (i % 24)))
  source_width=$((101 + 2 * (i % 3)))
  check_window "$number Image (original)" $((80 * column)) "$y" $((source_width / 2))
  check_window "$number Mask (original)" $((80 * column + 30)) "$y"
  check_window "$number zefImage (compressed)" $((600 + 30 * column)) "$y"
done

tmux -L "$socket" send-keys -t gui x
wait_until test -s "$work/rc.txt" || fail "the key press did not end the wait"
[ "$(cat "$work/rc.txt" 2>/dev/null)" = "0" ] || fail "exit code $(cat "$work/rc.txt" 2>/dev/null)"
tmux -L "$socket" send-keys -t gui Enter
wait_until test -e "$work/left.txt" || fail "the shell after the tool did not finish"
[ "$(cat "$work/left.txt" 2>/dev/null)" = "x" ] || fail "the key was consumed: left '$(cat "$work/left.txt" 2>/dev/null)'"

if [ "$failures" -ne 0 ]; then
  echo "--- console output"
  cat "$work/out.txt"
  echo "--- error output"
  cat "$work/err.txt"
  exit 1
fi
echo "all $((3 * image_count)) windows titled and placed; key ended the wait and stayed unread"
