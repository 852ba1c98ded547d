#!/usr/bin/env bash
# A desktop tells which menu entry a window belongs to by the entry's
# StartupWMClass and the window's WM_CLASS, which Qt makes from the
# application name and the program's file name. Starts the real program in
# its own X server and checks that its main window's WM_CLASS class is the
# entry's StartupWMClass.
#
#   wm_class.sh ORVANTA DESKTOP_ENTRY
#
# Exit 0 only when they match.
set -euo pipefail

if (($# != 2)); then
  echo "usage: $0 ORVANTA DESKTOP_ENTRY" >&2
  exit 2
fi

source "$(dirname "${BASH_SOURCE[0]}")/private_display.sh"
prog=$(realpath "$1")
entry=$2
WAIT_SECONDS=20

wanted=$(sed -n '/^\[Desktop Entry\]/,/^\[/s/^StartupWMClass=//p' "$entry")
if [[ -z "$wanted" ]]; then
  echo "FAIL: $entry has no StartupWMClass"
  rm -rf "$XDG_RUNTIME_DIR"
  exit 1
fi

log=$(mktemp -t orvanta-e2e.XXXXXX)
pid=
cleanup() {
  if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
  fi
  [[ -z "$pid" ]] || wait "$pid" 2>/dev/null || true
  rm -rf "$XDG_RUNTIME_DIR" "$log"
}
trap cleanup EXIT

"$prog" >"$log" 2>&1 &
pid=$!

wid=
for ((i = 0; i < WAIT_SECONDS * 5; i++)); do
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "FAIL: the program exited before showing its window"
    cat "$log"
    exit 1
  fi
  wid=$(xdotool search --onlyvisible --name '^Orvanta$' 2>/dev/null | head -n 1 || true)
  [[ -n "$wid" ]] && break
  sleep 0.2
done
if [[ -z "$wid" ]]; then
  echo "FAIL: no visible window titled 'Orvanta' within ${WAIT_SECONDS}s"
  cat "$log"
  exit 1
fi

# WM_CLASS(STRING) = "instance", "class"
line=$(xprop -id "$wid" WM_CLASS)
class=$(sed -n 's/^WM_CLASS(STRING) = "[^"]*", "\([^"]*\)"$/\1/p' <<<"$line")
echo "window: $line; entry: StartupWMClass=$wanted"
if [[ "$class" != "$wanted" ]]; then
  echo "FAIL: the window's WM_CLASS class '$class' is not the entry's StartupWMClass '$wanted'"
  exit 1
fi
echo "ok:   the window's WM_CLASS class is the entry's StartupWMClass"
