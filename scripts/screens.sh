#!/usr/bin/env bash
# Renders every screen the controller has so far, light and dark, to PNGs under build/screens/, from
# fakes and sample pictures (no network, no display: offscreen with Qt Quick's software renderer).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target controller_screens
out=${1:-build/screens}
mkdir -p "$out"
QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software build/default/tests/controller/controller_screens "$out"
echo "screens: $(ls "$out"/*.png | wc -l) pictures in $out"
