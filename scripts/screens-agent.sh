#!/usr/bin/env bash
# Renders the agent's window to PNGs under build/screens/: each state a person looks at (unpaired,
# paired with video, signed in with a grant and a share code, a permission missing), light and dark,
# laid out at full height. Offscreen: no display needed. Assumes build/default is built (screens.sh
# builds it); callable alone.
set -euo pipefail
cd "$(dirname "$0")/.."

renderer=build/default/tests/agent/window/agent_window_screens
if [[ ! -x "$renderer" ]]; then
  cmake --build --preset default --target agent_window_screens
fi
mkdir -p build/screens
QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}" \
  "$renderer" build/screens
