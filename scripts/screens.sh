#!/usr/bin/env bash
# Renders every screen and state a person would look at to PNGs under build/screens/, from demo data
# and fakes, one section per program.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset default >/dev/null
cmake --build --preset default -j "${JOBS:-4}"

# The agent: its window's sections.
bash scripts/screens-agent.sh

# The controller: its screens.
bash scripts/screens-controller.sh

echo "screens: $(find build/screens -name '*.png' | wc -l) pictures in build/screens/"
