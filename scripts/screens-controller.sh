#!/usr/bin/env bash
# Renders the controller's screens to PNGs under build/screens/controller/: the deck empty and with
# machines, the alerts, pairing, a session opening and with a picture, the loading overlay's steps and
# the brand's marks, light and dark. Fakes stand in for the network. The scene is drawn as on a desktop,
# with OpenGL (Mesa's software rasteriser) on a private Xvfb, so that shadows and blurs show; without
# Xvfb it falls back to the offscreen software renderer, which draws neither.
# Assumes build/default is built (screens.sh builds it); callable alone.
set -euo pipefail
cd "$(dirname "$0")/.."

renderer=build/default/tests/controller/controller_screens
if [[ ! -x "$renderer" ]]; then
  cmake --build --preset default --target controller_screens
fi
mkdir -p build/screens/controller
runtime="${XDG_RUNTIME_DIR:-$(mktemp -d)}"

xvfb_pid=""
cleanup() {
  if [[ -n "$xvfb_pid" ]]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

if command -v Xvfb >/dev/null; then
  displayfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp -noreset 3>"$displayfile" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [[ -s "$displayfile" ]] && break
    sleep 0.05
  done
  display=$(tr -d '[:space:]' <"$displayfile")
  rm -f "$displayfile"
fi

if [[ -n "${display:-}" ]]; then
  env -u QT_QUICK_BACKEND DISPLAY=":$display" QT_QPA_PLATFORM=xcb QSG_RHI_BACKEND=opengl XDG_RUNTIME_DIR="$runtime" \
    "$renderer" build/screens/controller
else
  echo "screens: no Xvfb; drawn offscreen by the software renderer, without shadows or blurs" >&2
  QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software XDG_RUNTIME_DIR="$runtime" "$renderer" build/screens/controller
fi
