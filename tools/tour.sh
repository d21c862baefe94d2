#!/usr/bin/env bash
# ./dev tour: a first session with Pek on a simulated device, on a virtual display, saving the
# README's screenshots into docs/screenshots (pek-tour does the steps).
set -euo pipefail
BUILD=$1
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=$ROOT/docs/screenshots
WORK=$BUILD/tour
rm -rf "$WORK"
mkdir -p "$WORK" "$OUT"

coproc DEVSIM_PROC { exec "$BUILD/tools/devsim/devsim" --at --stream --rate 150; }
trap 'kill "${DEVSIM_PROC_PID:-}" 2>/dev/null || true' EXIT
read -r DEVICE <&"${DEVSIM_PROC[0]}"
printf '[Ports]\r\nCOM1=%s\r\n' "$DEVICE" > "$WORK/pek.ini"
cat > "$WORK/demo.lua" <<'LUA'
-- demo.lua: asks the device who it is and reports on the pane
local from = RingBufPos()
Trans("ATI")
Wait(500)
io.write("demo.lua: " .. RingBufDataSize(from) .. " bytes came back\r\n")
LUA
xvfb-run -a -s "-screen 0 1024x768x24" \
  "$BUILD/tools/tour/pek-tour" --ini "$WORK/pek.ini" --macro "$WORK/demo.lua" --out "$OUT"
