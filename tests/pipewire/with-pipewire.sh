#!/usr/bin/env bash
# Runs a command beside a private PipeWire daemon: its own runtime directory and
# D-Bus session, PipeWire and WirePlumber started here and stopped by their pids
# when the command ends, however it ends. Processes the command starts and lists in
# $XDG_RUNTIME_DIR/orva-test-pids are stopped too. Nothing of the machine's own
# session is touched.
#
#   tests/pipewire/with-pipewire.sh COMMAND [ARGUMENTS...]
set -u
root=$(mktemp -d "${TMPDIR:-/tmp}/orva-pipewire-XXXXXX")
mkdir -m 700 "$root/run"
export XDG_RUNTIME_DIR="$root/run"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$root/run/bus"
# WirePlumber remembers volumes and mutes per node in the state folder: a private one,
# so that no test sees what another (or the machine's user) left.
export XDG_STATE_HOME="$root/state" XDG_CONFIG_HOME="$root/config" XDG_DATA_HOME="$root/data"
unset PIPEWIRE_REMOTE PULSE_SERVER
# The session manager manages only what the tests make: no sound cards, cameras or
# Bluetooth of the machine (whose monitors also want systemd-logind, which a
# container may not have).
mkdir -p "$XDG_CONFIG_HOME/wireplumber/main.lua.d" "$XDG_CONFIG_HOME/wireplumber/bluetooth.lua.d"
cat > "$XDG_CONFIG_HOME/wireplumber/main.lua.d/51-orva-tests.lua" <<'LUA'
alsa_monitor.enabled = false
v4l2_monitor.enabled = false
libcamera_monitor.enabled = false
LUA
cat > "$XDG_CONFIG_HOME/wireplumber/bluetooth.lua.d/51-orva-tests.lua" <<'LUA'
bluez_monitor.enabled = false
LUA
pids=()

stop() {
  if [ -f "$XDG_RUNTIME_DIR/orva-test-pids" ]; then
    while read -r pid; do kill "$pid" 2>/dev/null; done < "$XDG_RUNTIME_DIR/orva-test-pids"
  fi
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 40); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  rm -rf "$root"
}
trap stop EXIT
trap 'exit 130' INT TERM

dbus-daemon --session --nofork --nopidfile --print-address=3 --address="$DBUS_SESSION_BUS_ADDRESS" \
  3> "$root/dbus.address" > /dev/null 2>&1 &
pids+=("$!")
for _ in $(seq 100); do [ -s "$root/dbus.address" ] && break; sleep 0.05; done
pipewire > "$root/pipewire.log" 2>&1 &
pids+=("$!")
export ORVA_TEST_PIPEWIRE_PID=$!
for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && break; sleep 0.05; done
wireplumber > "$root/wireplumber.log" 2>&1 &
pids+=("$!")
# Ready when the session manager has joined the graph.
for _ in $(seq 100); do
  pw-cli ls Client 2>/dev/null | grep -qi wireplumber && break
  sleep 0.05
done
"$@"
status=$?
if [ "$status" -ne 0 ] && [ -n "${ORVA_TEST_PIPEWIRE_LOGS:-}" ]; then
  tail -n 40 "$root/pipewire.log" "$root/wireplumber.log" >&2
fi
exit "$status"
