#!/usr/bin/env bash
# Starts a private desktop session for the screen-cast tests: a session bus, PipeWire and
# WirePlumber (scripts/lib/session.sh), the tests' screen-cast backend and the desktop portal
# program, which finds the backend through a .portal file of its own folder. Prints the bus
# address as "DBUS_SESSION_BUS_ADDRESS=..." and then "PIPEWIRE_PID=N" and "ready" once the portal
# answers, and keeps everything running until its standard input closes; then stops what it
# started.
# Usage: stack.sh BACKEND CONTROL LOG
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
backend=$1 control=$2 log=$3
# shellcheck source=../../scripts/lib/session.sh
source "$here/../../scripts/lib/session.sh"
qm_start_session >&2

desktop=quillmark-test
name=org.freedesktop.impl.portal.desktop.quillmarktest
mkdir -p "$QM_SESSION_DIR/portals"
cat >"$QM_SESSION_DIR/portals/quillmarktest.portal" <<END
[portal]
DBusName=$name
Interfaces=org.freedesktop.impl.portal.ScreenCast;
UseIn=$desktop
END

has_name() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}
wait_name() {
  local i
  for i in $(seq 1 200); do
    has_name "$1" && return 0
    sleep 0.05
  done
  echo "$1 did not come on the bus" >&2
  return 1
}

"$backend" "$control" "$log" "$name" >"$QM_SESSION_DIR/backend.log" 2>&1 &
QM_SESSION_PIDS+=($!)
wait_name "$name"
XDG_CURRENT_DESKTOP=$desktop XDG_DESKTOP_PORTAL_DIR="$QM_SESSION_DIR/portals" \
  /usr/libexec/xdg-desktop-portal --replace >"$QM_SESSION_DIR/portal.log" 2>&1 &
QM_SESSION_PIDS+=($!)
wait_name org.freedesktop.portal.Desktop

echo "DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS"
echo "PIPEWIRE_PID=${QM_SESSION_PIDS[1]}"
echo "SESSION_DIR=$QM_SESSION_DIR"
echo ready
cat >/dev/null || true
