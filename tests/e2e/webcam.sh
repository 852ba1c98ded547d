#!/usr/bin/env bash
# The webcam page in a real X server, with two synthetic cameras behind the
# program's window: presses the page's tab, connects channel 1, switches to
# two cameras, connects channel 2, starts both streams and grabs the window.
# The screenshot must show each camera's own picture in its preview and both
# stream indicators green.
#
#   webcam.sh WEBCAM_WINDOW WINDOW_SHOT OUT.png
#
# Exit 0 only when every check held.
set -euo pipefail

if (($# != 3)); then
  echo "usage: $0 WEBCAM_WINDOW WINDOW_SHOT OUT.png" >&2
  exit 2
fi

source "$(dirname "${BASH_SOURCE[0]}")/private_display.sh"
prog=$(realpath "$1")
shot=$2
png=$3
WAIT_SECONDS=20

log=$(mktemp -t orvanta-e2e-webcam.XXXXXX)
pid=

cleanup() {
  if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    sleep 0.5
    kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$log"
  rm -rf "$XDG_RUNTIME_DIR"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  if [[ -s "$log" ]]; then
    echo "--- program output:"
    cat "$log"
    echo "---"
  fi
  exit 1
}

"$prog" >"$log" 2>&1 &
pid=$!

wid=
for ((i = 0; i < WAIT_SECONDS * 5; i++)); do
  kill -0 "$pid" 2>/dev/null || fail "program exited before showing its window"
  wid=$(xdotool search --onlyvisible --name '^Orvanta$' 2>/dev/null | head -n 1 || true)
  [[ -n "$wid" ]] && grep -q '^Preview2 ' "$log" && break
  sleep 0.2
done
[[ -n "$wid" ]] || fail "no visible window titled 'Orvanta' within ${WAIT_SECONDS}s"
grep -q '^Preview2 ' "$log" || fail "the program did not say where its controls are"
echo "ok:   window 0x$(printf '%x' "$wid") appeared"
sleep 1

at() { awk -v n="$1" '$1 == n {print $2, $3; exit}' "$log"; }
click() {
  local xy
  xy=$(at "$1")
  [[ -n "$xy" ]] || fail "no position for $1"
  # shellcheck disable=SC2086
  xdotool mousemove --window "$wid" $xy click 1
  sleep 0.4
}

click TabSheet5
click Button2
click RadioButton2
click Button8
click Button1x
click Button7
# Two periods of 500 ms at least, for both previews to show a frame.
sleep 1.5

read -r p1x p1y <<<"$(at Preview1)"
read -r p2x p2y <<<"$(at Preview2)"
read -r i1x i1y <<<"$(at Panel5)"
read -r i2x i2y <<<"$(at Panel11)"
# Camera 1's corner mark is red, camera 2's cyan; streaming indicators green.
checks=("$p1x,$p1y=ff0000" "$p2x,$p2y=00ffff" "$i1x,$i1y=008000" "$i2x,$i2y=008000")
ok=0
for attempt in 1 2 3; do
  if "$shot" "$wid" "$png" "${checks[@]}"; then
    ok=1
    break
  fi
  ((attempt < 3)) && { echo "      not there yet; retrying"; sleep 1; }
done
((ok)) || fail "the webcam page's screenshot (saved to $png) does not show both cameras streaming"
echo "ok:   both previews show their camera and both streams run: $png"
kill -0 "$pid" 2>/dev/null || fail "program died while being checked"
echo "e2e webcam test passed"
