#!/usr/bin/env bash
# Builds Dovrel and runs the agent in the foreground with its own state under .run/ (never your own
# ~/.dovrel), the local network listeners on, on the current X display or on an Xvfb started for it.
# Ctrl-C stops it (and the Xvfb, when this script started one).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)"

agent=build/default/agent/DovrelAgent
if [[ ! -x "$agent" ]]; then
  echo "DovrelAgent was not built; see the build output above." >&2
  exit 1
fi

# A home of its own: identity and paired keys in .run/home/.dovrel, relay.json in .run/home/.config/Dovrel.
home="$PWD/.run/home"
config="$home/.config/Dovrel"
mkdir -p "$config"
if [[ ! -f "$config/relay.json" ]]; then
  printf '{\n    "lan": true\n}\n' > "$config/relay.json"
elif ! grep -Eq '"lan"[[:space:]]*:[[:space:]]*true' "$config/relay.json"; then
  echo "note: $config/relay.json does not turn \"lan\" on; the agent will not listen on this network." >&2
fi

xvfb_pid=""
agent_pid=""
cleanup() {
  if [[ -n "$agent_pid" ]]; then kill "$agent_pid" 2>/dev/null || true; wait "$agent_pid" 2>/dev/null || true; fi
  if [[ -n "$xvfb_pid" ]]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [[ -n "${DISPLAY:-}" ]] && xdpyinfo >/dev/null 2>&1; then
  echo "run: using the X display $DISPLAY"
else
  displayfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$displayfile" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do
    [[ -s "$displayfile" ]] && break
    sleep 0.1
  done
  if [[ ! -s "$displayfile" ]]; then
    echo "run: Xvfb did not start" >&2
    exit 1
  fi
  export DISPLAY=":$(tr -d '[:space:]' < "$displayfile")"
  rm -f "$displayfile"
  echo "run: started Xvfb on $DISPLAY"
fi

port=${DOVREL_CONTROL_PORT:-47810}
addresses=$(hostname -I 2>/dev/null | xargs || true)
cat <<INFO
run: the agent listens on TCP $port (control) and UDP ${DOVREL_INPUT_PORT:-47812} (input)
     on this machine's addresses: ${addresses:-127.0.0.1} (from this machine: 127.0.0.1).
     A controller dials one of them and pairs with the six-digit code the agent prints below
     ("• PAIRING CODE: …"); a paired controller then connects by its key alone.
     Its window, with the code and its QR code, opens on $DISPLAY a second after it starts.
     State: $home (identity and paired keys in .dovrel, relay.json in .config/Dovrel).
     Stop: Ctrl-C.
INFO
if [[ ! -t 1 ]]; then
  echo "run: output is not a terminal, so the agent logs to $home/.dovrel-agent.log and shows no code"
fi

# This copy runs unsupervised: a systemctl that finds no user manager keeps it from registering a unit
# that starts the build folder's program, and from handing over to an installed agent your user
# manager may run (which would serve your own home, not this one).
PATH="$PWD/scripts/no-user-manager:$PATH" HOME="$home" XDG_CONFIG_HOME="$home/.config" "$agent" &
agent_pid=$!
status=0
wait "$agent_pid" || status=$?
agent_pid=""
exit "$status"
