# Starts a private desktop session's services: a session bus, PipeWire, WirePlumber and
# PipeWire's PulseAudio service, with a runtime folder of their own. Exports
# DBUS_SESSION_BUS_ADDRESS, PIPEWIRE_RUNTIME_DIR and PULSE_SERVER (the last two stay valid when a
# test later points XDG_RUNTIME_DIR elsewhere) and QM_SESSION_DIR (logs, sockets).
# Everything is stopped when the calling shell exits.
# Usage: source scripts/lib/session.sh; qm_start_session

qm_start_session() {
  local p
  for p in dbus-daemon pipewire wireplumber pipewire-pulse pactl; do
    command -v "$p" >/dev/null || { echo "$p is not installed" >&2; return 1; }
  done
  QM_SESSION_DIR=$(mktemp -d)
  export QM_SESSION_DIR
  local run="$QM_SESSION_DIR/run"
  mkdir -m 700 "$run"
  QM_SESSION_PIDS=()
  trap 'qm_stop_session; declare -F qm_stop_xvfb >/dev/null && qm_stop_xvfb; true' EXIT

  dbus-daemon --session --nofork --print-address=5 5>"$QM_SESSION_DIR/bus" \
    >"$QM_SESSION_DIR/dbus.log" 2>&1 &
  QM_SESSION_PIDS+=($!)
  local i
  for i in $(seq 1 100); do
    [ -s "$QM_SESSION_DIR/bus" ] && break
    sleep 0.05
  done
  [ -s "$QM_SESSION_DIR/bus" ] || { echo "the session bus did not start" >&2; return 1; }
  export DBUS_SESSION_BUS_ADDRESS
  DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$QM_SESSION_DIR/bus")

  export XDG_RUNTIME_DIR="$run" PIPEWIRE_RUNTIME_DIR="$run" PULSE_SERVER="unix:$run/pulse/native"
  pipewire >"$QM_SESSION_DIR/pipewire.log" 2>&1 &
  QM_SESSION_PIDS+=($!)
  for i in $(seq 1 100); do
    [ -S "$run/pipewire-0" ] && break
    sleep 0.05
  done
  wireplumber >"$QM_SESSION_DIR/wireplumber.log" 2>&1 &
  QM_SESSION_PIDS+=($!)
  pipewire-pulse >"$QM_SESSION_DIR/pipewire-pulse.log" 2>&1 &
  QM_SESSION_PIDS+=($!)
  # Ready when the sound service answers and the session manager has made the null output.
  for i in $(seq 1 200); do
    if pactl info 2>/dev/null | grep -q '^Default Sink: [^@]'; then
      return 0
    fi
    sleep 0.05
  done
  echo "the sound service did not start:" >&2
  tail -n 20 "$QM_SESSION_DIR"/*.log >&2
  return 1
}

qm_stop_session() {
  local pid
  for pid in "${QM_SESSION_PIDS[@]:-}"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  done
  for pid in "${QM_SESSION_PIDS[@]:-}"; do
    [ -n "$pid" ] && wait "$pid" 2>/dev/null || true
  done
  QM_SESSION_PIDS=()
  [ -n "${QM_SESSION_DIR:-}" ] && rm -rf "$QM_SESSION_DIR"
  return 0
}
