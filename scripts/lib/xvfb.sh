# Starts a private Xvfb on a display number of its own and exports DISPLAY.
# The server is stopped when the calling shell exits, whatever the reason.
# Usage: source scripts/lib/xvfb.sh; qm_start_xvfb [WIDTHxHEIGHTxDEPTH]

qm_start_xvfb() {
  local screen="${1:-1920x1080x24}"
  command -v Xvfb >/dev/null || { echo "Xvfb is not installed" >&2; return 1; }
  QM_XVFB_DIR=$(mktemp -d)
  # -noreset keeps the server (pointer, windows) as it is when its last client leaves.
  Xvfb -displayfd 5 -screen 0 "$screen" -nolisten tcp -noreset +extension MIT-SHM \
    5>"$QM_XVFB_DIR/display" >"$QM_XVFB_DIR/log" 2>&1 &
  QM_XVFB_PID=$!
  trap 'qm_stop_xvfb' EXIT
  local i
  for i in $(seq 1 100); do
    if [ -s "$QM_XVFB_DIR/display" ]; then
      export DISPLAY=":$(head -n1 "$QM_XVFB_DIR/display")"
      return 0
    fi
    kill -0 "$QM_XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "Xvfb did not start:" >&2
  cat "$QM_XVFB_DIR/log" >&2
  return 1
}

qm_stop_xvfb() {
  if [ -n "${QM_XVFB_PID:-}" ]; then
    kill "$QM_XVFB_PID" 2>/dev/null || true
    wait "$QM_XVFB_PID" 2>/dev/null || true
    QM_XVFB_PID=""
  fi
  [ -n "${QM_XVFB_DIR:-}" ] && rm -rf "$QM_XVFB_DIR"
  return 0
}
