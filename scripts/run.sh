#!/usr/bin/env bash
# Builds Dovrel and starts an agent with a controller connected to it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)"

agent=build/default/agent/DovrelAgent
controller=build/default/controller/DovrelController
if [[ ! -x "$agent" || ! -x "$controller" ]]; then
  echo "Built the WEX/1 protocol library (build/default/protocol/libwex.a) and its tests."
  [[ -x "$agent" ]] || echo "Not there yet: DovrelAgent, the program that shares this computer's screen."
  [[ -x "$controller" ]] || echo "Not there yet: DovrelController, the program that shows and drives a remote screen."
  exit 0
fi
