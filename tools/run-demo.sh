#!/usr/bin/env bash
# ./dev run: starts a simulated device and Pek on it, with a settings file in the build folder
# that maps COM1 to the device (the user's own settings stay untouched). "!demo.lua" runs the
# example the build folder keeps in share/pek/examples. Without a display, Pek runs on a virtual
# one and a screenshot of its window is saved once the first device lines have arrived.
set -euo pipefail
BUILD=$1
shift || true
DEVSIM=$BUILD/tools/devsim/devsim
PEK=$BUILD/app/pek
INI=$BUILD/demo/pek.ini
mkdir -p "$BUILD/demo"

# The device answers AT commands and sends a line of text twice a second.
coproc DEVSIM_PROC { exec "$DEVSIM" --at --stream --rate 150; }
trap 'kill "${DEVSIM_PROC_PID:-}" 2>/dev/null || true' EXIT
read -r DEVICE <&"${DEVSIM_PROC[0]}"
echo "dev run: simulated device on $DEVICE"

# Keep the user's other settings; only COM1 is pointed at the simulated device.
touch "$INI"
if grep -q '^\[Ports\]' "$INI"; then
  sed -i "/^\[Ports\]/,/^\[/{s|^COM1=.*|COM1=$DEVICE|}" "$INI"
  grep -q "^COM1=$DEVICE" "$INI" || sed -i "s|^\[Ports\]|[Ports]\nCOM1=$DEVICE|" "$INI"
else
  printf '[Ports]\r\nCOM1=%s\r\n' "$DEVICE" >> "$INI"
fi
echo "dev run: settings file $INI"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$PEK" --ini "$INI" "$@"
  exit 0
fi

SHOT=$BUILD/demo/pek-screenshot.png
echo "dev run: no display; running Pek on a virtual display"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  "$1" --ini "$2" &
  PEK_PID=$!
  sleep 4
  import -window root "$3" || true
  kill $PEK_PID 2>/dev/null || true
  wait $PEK_PID 2>/dev/null || true
' _ "$PEK" "$INI" "$SHOT"
if [ -f "$SHOT" ]; then
  echo "dev run: screenshot of the window after the first device lines: $SHOT"
else
  echo "dev run: no screenshot could be taken" >&2
fi
