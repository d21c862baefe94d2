#!/usr/bin/env bash
# ./dev tour: a first session with Pek on a simulated device, on a virtual display, saving the
# README's screenshots into docs/screenshots (pek-tour does the steps), with the shipped
# examples/demo.lua as the macro. The pictures are reduced to 256 colours to keep the repository small.
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
# From the examples folder, so the command line reads "!demo.lua" as in the README.
(cd "$ROOT/examples" && xvfb-run -a -s "-screen 0 1024x768x24" \
  "$BUILD/tools/tour/pek-tour" --ini "$WORK/pek.ini" --macro demo.lua --out "$OUT")
for shot in "$OUT"/*.png; do
  convert "$shot" -dither None -colors 256 "PNG8:$shot.small" && mv "$shot.small" "$shot"
  echo "tour: $shot ($(du -k "$shot" | cut -f1) KiB)"
done
