#!/usr/bin/env bash
# Makes the README's screenshot: opens the real window on a virtual X display,
# types an expression, converts it with the keyboard as a user would, and
# captures the window.
#
#   docs/screenshot.sh PROGRAM OUTPUT.png
#
# Needs xvfb-run, xdotool and ImageMagick's import (`make screenshot` installs
# them). The same program and fonts give the same picture: the PNG carries no
# time stamps.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 PROGRAM OUTPUT.png" >&2
  exit 2
fi
program=$(realpath "$1")
output=$(realpath -m "$2")
expression='((a b) or (c d)) e'

# Re-run this script inside a fresh virtual display of a fixed size.
if [ -z "${BOOLCONV_SCREENSHOT_DISPLAY:-}" ]; then
  export BOOLCONV_SCREENSHOT_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 640x480x24" "$0" "$program" "$output"
fi

# The window must use the X display, whatever the caller's environment says.
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
"$program" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true' EXIT

# Without a window manager the window opens undecorated at the top left.
window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$pid" --class boolconv | head -n 1)
if [ -z "$window" ]; then
  echo "$0: the window did not appear" >&2
  exit 1
fi
xdotool windowfocus --sync "$window"
# Focus starts in the input box; the tab order is input, sign form, Convert,
# so Tab, Tab, Space presses Convert.
xdotool type --delay 30 "$expression"
xdotool key --delay 100 Tab Tab space
sleep 1
if ! kill -0 "$pid" 2>/dev/null; then
  echo "$0: the window closed unexpectedly" >&2
  exit 1
fi

eval "$(xdotool getwindowgeometry --shell "$window")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage \
  -define png:exclude-chunks=date,time "$output"
echo "wrote $output (${WIDTH}x${HEIGHT})"
