#!/usr/bin/env bash
# Starts the real program in its own 1280x800 X server and checks its main
# window: it appears, has the expected client size, sits centred on the
# screen, and is painted; the titles the window system receives for a file
# dialog, a message box and the error report are exactly theirs; connecting
# a camera on the webcam page, with none there, shows nothing. Then closes
# the window as a window manager would, and makes sure the program ends with
# status 0, having said nothing on the way out, and its window is gone.
#
#   window.sh ORVANTA WINDOW_SHOT CLOSE_WINDOW OUT.png
#
# Exit 0 only when every check held.
set -euo pipefail

if (($# != 4)); then
  echo "usage: $0 ORVANTA WINDOW_SHOT CLOSE_WINDOW OUT.png" >&2
  exit 2
fi

source "$(dirname "${BASH_SOURCE[0]}")/private_display.sh"
prog=$(realpath "$1")
shot=$2
close_window=$3
png=$4

SCREEN_W=1280
SCREEN_H=800
# The client area, and the outer size including a window manager's frame;
# the program centres the outer size on the screen.
CLIENT_W=859
CLIENT_H=526
OUTER_W=867
OUTER_H=560
LEFT=$(((SCREEN_W - OUTER_W) / 2))
TOP=$(((SCREEN_H - OUTER_H) / 2))
WAIT_SECONDS=20

log=$(mktemp -t orvanta-e2e.XXXXXX)
pid=
picture_dir=
failed=0

check() { # check DESCRIPTION ACTUAL EXPECTED
  if [[ "$2" == "$3" ]]; then
    echo "ok:   $1: $2"
  else
    echo "FAIL: $1: got $2, expected $3"
    failed=1
  fi
}

stop_program() {
  [[ -n "$pid" ]] || return 0
  if kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
      echo "program ignored SIGTERM for 5 s; killing it"
      kill -KILL "$pid" 2>/dev/null || true
    fi
  fi
  wait "$pid" 2>/dev/null || true
  pid=
}

cleanup() {
  stop_program
  rm -f "$log"
  rm -rf "$XDG_RUNTIME_DIR" "$picture_dir"
}
trap cleanup EXIT

dump_log() {
  if [[ -s "$log" ]]; then
    echo "--- program output:"
    cat "$log"
    echo "---"
  fi
}

echo "display $DISPLAY, screen $(xdpyinfo | awk '/dimensions:/ {print $2}')"
# The program starts in a folder of its own, where its first file dialog
# opens, so that the names typed there are short.
picture_dir=$(mktemp -d -t orvanta-e2e-pictures.XXXXXX)
# A 2 x 2, 24-bit BMP: 54 bytes of headers and two rows of 8 bytes.
printf 'BM\x46\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x02\0\0\0\x02\0\0\0\x01\0\x18\0\0\0\0\0\x10\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0''\xff\0\0\xff\0\0\0\0''\0\xff\0\0\0\xff\0\0' >"$picture_dir/s.bmp"
(cd "$picture_dir" && exec "$prog") >"$log" 2>&1 &
pid=$!

# Wait for a visible top-level window titled exactly "Orvanta"; give up at
# once if the program dies first.
wid=
for ((i = 0; i < WAIT_SECONDS * 5; i++)); do
  if ! kill -0 "$pid" 2>/dev/null; then
    status=0
    wait "$pid" || status=$?
    pid=
    echo "FAIL: program exited with status $status before showing its window"
    dump_log
    exit 1
  fi
  wid=$(xdotool search --onlyvisible --name '^Orvanta$' 2>/dev/null | head -n 1 || true)
  [[ -n "$wid" ]] && break
  sleep 0.2
done
if [[ -z "$wid" ]]; then
  echo "FAIL: no visible window titled 'Orvanta' within ${WAIT_SECONDS}s"
  echo "windows on the display:"
  xwininfo -root -tree | sed -n '1,40p'
  dump_log
  exit 1
fi
echo "ok:   window 0x$(printf '%x' "$wid") titled 'Orvanta' appeared"

# Let the first paint and any late resize or move settle.
sleep 1

info=$(xwininfo -id "$wid")
field() { awk -F: -v k="$1" '$1 ~ "^ *" k "$" {gsub(/ /, "", $2); print $2; exit}' <<<"$info"; }
width=$(field Width)
height=$(field Height)
abs_x=$(field "Absolute upper-left X")
abs_y=$(field "Absolute upper-left Y")
check "client size" "${width}x${height}" "${CLIENT_W}x${CLIENT_H}"

# Xvfb runs no window manager, so normally the client window is itself the
# top-level window and its origin is where the program placed the outer
# rectangle. Should a manager have reparented it into a frame, check the frame.
parent_line=$(xwininfo -id "$wid" -children | grep 'Parent window id:')
if [[ "$parent_line" != *"(the root window)"* ]]; then
  parent=$(awk '{print $4}' <<<"$parent_line")
  frame=$(xwininfo -id "$parent")
  ffield() { awk -F: -v k="$1" '$1 ~ "^ *" k "$" {gsub(/ /, "", $2); print $2; exit}' <<<"$frame"; }
  check "frame size" "$(ffield Width)x$(ffield Height)" "${OUTER_W}x${OUTER_H}"
  check "frame position" "$(ffield "Absolute upper-left X"),$(ffield "Absolute upper-left Y")" "$LEFT,$TOP"
else
  echo "      no frame: the window is a direct child of the root window"
  check "window position (centred ${OUTER_W}x${OUTER_H} on ${SCREEN_W}x${SCREEN_H})" \
    "$abs_x,$abs_y" "$LEFT,$TOP"
fi

# The grab: right size and actually painted. A repaint can lag behind the
# map, so a grab that looks unpainted is retried a few times.
shot_ok=0
for attempt in 1 2 3; do
  if "$shot" "$wid" "$png"; then
    shot_ok=1
    break
  fi
  if ((attempt < 3)); then
    echo "      grab not good yet; retrying"
    sleep 1
  fi
done
if ((shot_ok)); then
  echo "ok:   screenshot is ${CLIENT_W}x${CLIENT_H} and painted: $png"
else
  echo "FAIL: screenshot check (last grab saved to $png)"
  failed=1
fi

# Box titles: the window system must receive exactly the title a box is
# given, with nothing appended. Open a 2 x 2 picture into frame 1, so that a
# build meets frames of different sizes and shows its size message, then
# open a file that does not exist, which the general error report shows.
title_of() {
  xprop -id "$1" _NET_WM_NAME 2>/dev/null | sed -n 's/^_NET_WM_NAME([A-Z0-9_]*) = "\(.*\)"$/\1/p'
}
# A visible top-level window whose title starts with PREFIX, other than the
# main window; waits up to SECONDS (default 10).
wait_box() {
  local w
  for _ in $(seq $((${2:-10} * 5))); do
    w=$(xdotool search --onlyvisible --name "^$1" 2>/dev/null | grep -vx "$wid" | head -n 1 || true)
    if [[ -n "$w" ]]; then
      echo "$w"
      return 0
    fi
    sleep 0.2
  done
  return 1
}
# Presses a key in a window (there is no window manager to give it focus).
press() {
  xdotool windowfocus --sync "$1" 2>/dev/null || true
  xdotool key --clearmodifiers "$2"
}
click_main() { xdotool mousemove --window "$wid" "$1" "$2" click 1; }
open_in_frame1() { # FILE: the first open button, then type the name
  local dialog
  click_main 71 32
  # Qt's own dialogs speak the window's language, Russian at start.
  if ! dialog=$(wait_box "Открыть"); then
    echo "FAIL: no file dialog after pressing the first open button"
    failed=1
    return 1
  fi
  check "file dialog's title" "$(title_of "$dialog")" "Открыть"
  xdotool windowfocus --sync "$dialog" 2>/dev/null || true
  xdotool type --delay 30 "$1"
  xdotool key Return
  # The dialog is modal: a click on the window before it has closed is lost.
  for _ in $(seq 100); do
    xdotool search --onlyvisible --name '^Открыть' 2>/dev/null | grep -qx "$dialog" || return 0
    sleep 0.1
  done
  echo "FAIL: the file dialog did not close after a name was typed"
  failed=1
  return 1
}

if open_in_frame1 s.bmp; then
  # "Построить" in the building group box. A click that comes while the
  # toolkit is still closing the modal dialog is dropped, so click again
  # until the box shows.
  box=
  for _ in 1 2 3 4 5; do
    click_main 808 22
    box=$(wait_box "Внимание" 2) && break
  done
  if [[ -n "$box" ]]; then
    check "size message's title" "$(title_of "$box")" "Внимание"
    press "$box" Return
  else
    echo "FAIL: no size message after building from frames of different sizes"
    echo "      visible windows: $(for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do printf '[%s] ' "$(title_of "$w")"; done)"
    failed=1
  fi
fi
if open_in_frame1 m.jpg; then
  if box=$(wait_box "Orvanta"); then
    check "error report's title" "$(title_of "$box")" "Orvanta"
    press "$box" Return
  else
    echo "FAIL: no error report after opening a file that does not exist"
    failed=1
  fi
fi
# The webcam page on this machine's own cameras, of which the test server
# has none: "Подключить" on its tab connects nothing and shows nothing.
click_main 474 112
sleep 0.5
click_main 307 466
sleep 1.5
# The page is in front: its red corner mark is where it belongs.
if "$shot" "$wid" "${png%.png}-webcam.png" 26,141=ff0000 >/dev/null; then
  echo "ok:   the webcam page came to the front"
else
  echo "FAIL: the webcam page is not in front (see ${png%.png}-webcam.png)"
  failed=1
fi
others=$(xdotool search --onlyvisible --name . 2>/dev/null | grep -vx "$wid" || true)
if [[ -z "$others" ]]; then
  echo "ok:   connecting without a camera shows no box"
else
  echo "FAIL: connecting without a camera opened: $(for w in $others; do printf '[%s] ' "$(title_of "$w")"; done)"
  failed=1
fi
if ! kill -0 "$pid" 2>/dev/null; then
  echo "FAIL: program died while being checked"
  failed=1
fi
# Closed as the user closes it, the program ends by itself, with status 0
# and without a word on the terminal: Qt's complaints about objects that
# outlive the application come exactly at this point.
lines_before=$(wc -l <"$log")
if "$close_window" "$wid"; then
  ended=0
  for _ in $(seq 100); do
    if ! kill -0 "$pid" 2>/dev/null; then
      ended=1
      break
    fi
    sleep 0.1
  done
  if ((ended)); then
    status=0
    wait "$pid" || status=$?
    pid=
    check "exit status after the window was closed" "$status" 0
    said=$(tail -n +$((lines_before + 1)) "$log")
    check "what the program said on its way out" "${said:-nothing}" nothing
  else
    echo "FAIL: the program did not end within 10 s of its window being closed"
    failed=1
  fi
else
  echo "FAIL: could not ask the window to close"
  failed=1
fi
stop_program
# The server drops a client's windows when its connection closes; allow it a
# moment to process that.
gone=0
for _ in $(seq 20); do
  if [[ -z "$(xdotool search --name '^Orvanta$' 2>/dev/null || true)" ]]; then
    gone=1
    break
  fi
  sleep 0.1
done
if ((gone)); then
  echo "ok:   program stopped and its window is gone"
else
  echo "FAIL: a window titled 'Orvanta' is still there after the program was stopped"
  failed=1
fi

if ((failed)); then
  dump_log
  echo "e2e window test FAILED"
  exit 1
fi
echo "e2e window test passed"
