# Sourced first by each end-to-end script: runs the script again inside a
# private X server of a known size, never the caller's display, and lets the
# program reach that server whatever the caller chose for Qt. The script
# removes $XDG_RUNTIME_DIR when it ends.

if [[ "${ORVANTA_E2E_INNER:-}" != 1 ]]; then
  # -noreset: the server would otherwise reset when its last client (a size
  # probe, say) disconnects and refuse the program meanwhile.
  ORVANTA_E2E_INNER=1 exec xvfb-run -a -s "-screen 0 1280x800x24 -noreset" "$0" "$@"
fi

unset QT_QPA_PLATFORM
# Qt warns on every start without one.
XDG_RUNTIME_DIR=$(mktemp -d -t orvanta-e2e-xdg.XXXXXX)
export XDG_RUNTIME_DIR
