#!/usr/bin/env bash
# Renders the controller's screens to PNGs under build/screens/controller/: the deck empty and with
# machines, the alerts, pairing, a session opening and with a picture, the loading overlay's steps and
# the brand's marks, light and dark. Fakes stand in for the network; offscreen, no display needed.
# Assumes build/default is built (screens.sh builds it); callable alone.
set -euo pipefail
cd "$(dirname "$0")/.."

renderer=build/default/tests/controller/controller_screens
if [[ ! -x "$renderer" ]]; then
  cmake --build --preset default --target controller_screens
fi
mkdir -p build/screens/controller
QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}" \
  "$renderer" build/screens/controller
